#pragma once

#include "Session.h"
#include "core/CorruptionModes.h"

#include <QString>

namespace zerbrak {

class Desktop;

struct PassResult {
    QString path;              // the output path, extended when the pass transcoded
    bool outputFailed = false; // the output could not be opened, written or closed
    bool runFailed = false;    // the input could not be read or re-encoded: nothing was written
    // With runFailed: the fault lies with this input (unreadable, not a picture, too large for
    // the target), so a run over other inputs may go on; without it, no re-encode can work
    // (no usable scratch folder).
    bool inputUnusable = false;

    bool failed() const { return outputFailed || runFailed; }
};

// One glitch pass: the transcode step, then the bytes of session.inPath damaged by the mode
// session.endFormat picks, written to the output. Returns the output path (the name given, or
// its extended form after a transcode), also when the pass failed. A failed output reaches the
// user as desktop.alertOutputFailed; an input that cannot be read or re-encoded as
// desktop.alertRunFailed, before any output is opened or any random number drawn.
PassResult runGlitchPass(Session& session, const GlitchParams& params, Desktop& desktop,
                         const QString& inputPath, const QString& outName);

inline QString doGlitch(Session& session, const GlitchParams& params, Desktop& desktop,
                        const QString& inputPath, const QString& outName) {
    return runGlitchPass(session, params, desktop, inputPath, outName).path;
}

} // namespace zerbrak
