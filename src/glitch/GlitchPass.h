#pragma once

#include "Session.h"
#include "core/CorruptionModes.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

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
    // The user cancelled during the re-encode; nothing was written and nothing alerted.
    bool cancelled = false;
    // The bytes written, when the caller asked for them and the input was small enough.
    std::optional<std::vector<std::uint8_t>> bytes{};

    bool failed() const { return outputFailed || runFailed || cancelled; }
};

// One glitch pass: the transcode step, then the bytes of session.inPath damaged by the mode
// session.endFormat picks, written to the output. Returns the output path (the name given, or
// its extended form after a transcode), also when the pass failed. A failed output reaches the
// user as desktop.alertOutputFailed; an input that cannot be read or re-encoded as
// desktop.alertRunFailed, before any output is opened or any random number drawn; an input that
// fails midway is alerted the same way, and the output it was going to replace is left as it
// was. The file is read, damaged and written a chunk at a time, so memory stays bounded
// whatever its size; when it is no larger than `keepUpTo` bytes the result also holds what
// was written.
PassResult runGlitchPass(Session& session, const GlitchParams& params, Desktop& desktop,
                         const QString& inputPath, const QString& outName,
                         std::uint64_t keepUpTo = 0);

inline QString doGlitch(Session& session, const GlitchParams& params, Desktop& desktop,
                        const QString& inputPath, const QString& outName) {
    return runGlitchPass(session, params, desktop, inputPath, outName).path;
}

} // namespace zerbrak
