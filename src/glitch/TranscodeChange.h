#pragma once

#include "Session.h"

#include <QString>

namespace zerbrak {

// The format pop-up picked `title`: one of the six targets sets that target; anything else
// stops transcoding and takes the format from the input's extension.
void transcodeChange(Session& session, const QString& title);

} // namespace zerbrak
