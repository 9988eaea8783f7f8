#pragma once

#include "Session.h"
#include "core/CorruptionModes.h"

#include <QString>

namespace zerbrak {

class Desktop;

struct PassResult {
    QString path;              // the output path, extended when the pass transcoded
    bool outputFailed = false; // the output could not be opened, written or closed
};

// One glitch pass: the transcode step, then the bytes of session.inPath damaged by the mode
// session.endFormat picks, written to the output. Returns the output path (the name given, or
// its extended form after a transcode), also when the output could not be written; that case
// reaches the user as desktop.alertOutputFailed.
PassResult runGlitchPass(Session& session, const GlitchParams& params, Desktop& desktop,
                         const QString& inputPath, const QString& outName);

inline QString doGlitch(Session& session, const GlitchParams& params, Desktop& desktop,
                        const QString& inputPath, const QString& outName) {
    return runGlitchPass(session, params, desktop, inputPath, outName).path;
}

} // namespace zerbrak
