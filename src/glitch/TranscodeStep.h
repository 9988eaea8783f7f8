#pragma once

#include "Session.h"
#include "TranscodeTarget.h"

#include <QString>

namespace zerbrak {

class Desktop;

// The name a pass given `outName` writes: `outName` with "." and the target's extension added
// when `target` is one of the six formats, else `outName` itself.
QString transcodedOutputName(const TranscodeTarget& target, const QString& outName);

// Why a re-encode could not be done, for the user; no message when it was done.
struct TranscodeError {
    QString message;
    // The input itself cannot be read, decoded or encoded into the target, so another input
    // may still do; otherwise no re-encode can work at all (no usable scratch folder).
    bool inputAtFault = false;
    // The user cancelled while the input was decoded: nothing to tell them.
    bool cancelled = false;

    bool failed() const { return !message.isEmpty() || cancelled; }
};

// Re-encodes the input into the fixed target's scratch file, makes that the input and extends
// outName as transcodedOutputName says; does nothing for a free-text target. When it fails,
// nothing was written and session and outName are as they were, so no pass can damage a
// scratch file an earlier run left.
[[nodiscard]] TranscodeError transcodeStep(Session& session, Desktop& desktop,
                                           const QString& inputPath, QString& outName);

} // namespace zerbrak
