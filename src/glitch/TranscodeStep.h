#pragma once

#include "Session.h"

#include <QString>

namespace zerbrak {

class Desktop;

// Re-encodes the input into the fixed target's scratch file and makes that the input; does
// nothing for a free-text target. May extend outName with the target's extension.
void transcodeStep(Session& session, Desktop& desktop, const QString& inputPath, QString& outName);

} // namespace zerbrak
