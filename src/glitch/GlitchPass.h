#pragma once

#include "Session.h"
#include "core/CorruptionModes.h"
#include "platform/StagedFile.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zerbrak {

class Desktop;

// How a pass's output takes its name.
enum class OutputCommit {
    // A name the user gave: a file there is replaced once the new one is whole, keeping its
    // permissions; a named pipe or a device is written into.
    Replace,
    // A name the run chose because it was free: the output takes it only if it is still free
    // once the bytes are whole, and never replaces what another run put there meanwhile. When
    // it was taken, the result says so and keeps the bytes for another name.
    NeverReplace,
};

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
    // With outputFailed: the fault lies with this output alone (a name too long for, or not
    // allowed by, the file system; a file too large for it), so a run writing other outputs
    // may go on.
    bool outputUnusable = false;
    // With OutputCommit::NeverReplace: something took the name before the output was whole.
    // Nothing was replaced and nothing alerted; the damaged bytes wait in `pending` for
    // commitElsewhere.
    bool nameTaken = false;
    std::unique_ptr<StagedFile> pending{};

    bool failed() const { return outputFailed || runFailed || cancelled || nameTaken; }
};

// One glitch pass: the transcode step, then the bytes of session.inPath damaged by the mode
// session.endFormat picks, written to the output. Returns the output path (the name given, or
// its extended form after a transcode), also when the pass failed. A failed output reaches the
// user as desktop.alertOutputFailed; an input that cannot be read or re-encoded as
// desktop.alertRunFailed, before any output is opened or any random number drawn; an input that
// fails midway is alerted the same way, and the output it was going to replace is left as it
// was. The file is read, damaged and written a chunk at a time, so memory stays bounded
// whatever its size; when it is no larger than `keepUpTo` bytes the result also holds what
// was written. `commit` says whether the output may replace a file under its name.
PassResult runGlitchPass(Session& session, const GlitchParams& params, Desktop& desktop,
                         const QString& inputPath, const QString& outName,
                         std::uint64_t keepUpTo = 0, OutputCommit commit = OutputCommit::Replace);

// Gives the output of a pass whose name was taken (result.nameTaken) the path `outputPath`
// instead: the same damaged bytes, nothing damaged or drawn again. Afterwards result.path is
// `outputPath`, and nameTaken is still set when that is taken too. A failure alerts as the
// pass would have.
void commitElsewhere(PassResult& result, Desktop& desktop, const QString& outputPath);

inline QString doGlitch(Session& session, const GlitchParams& params, Desktop& desktop,
                        const QString& inputPath, const QString& outName) {
    return runGlitchPass(session, params, desktop, inputPath, outName).path;
}

} // namespace zerbrak
