#pragma once

#include "CorruptionModes.h"
#include "Session.h"

#include <QString>

namespace zerbrak {

class Desktop;

// One glitch pass: the transcode step, then the bytes of session.inPath damaged by the mode
// session.endFormat picks, written to the output. Returns the output path (the name given, or
// its extended form after a transcode), also when the output could not be written; that case
// reaches the user as desktop.alertOutputFailed.
QString doGlitch(Session& session, const GlitchParams& params, Desktop& desktop,
                 const QString& inputPath, const QString& outName);

} // namespace zerbrak
