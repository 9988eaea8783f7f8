#include "GlitchPass.h"

#include "PassStream.h"
#include "TranscodeStep.h"
#include "platform/Desktop.h"
#include "platform/FileBytes.h"
#include "platform/Log.h"
#include "platform/ScratchFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace zerbrak {
namespace {

// The mode `endFormat` picks, announced in the log as the window always has.
CorruptionMode announcedMode(const QString& endFormat) {
    const CorruptionMode mode = chooseMode(endFormat.toStdString());
    if (mode == CorruptionMode::LineBreakRewrite) {
        logLine(QStringLiteral("has bmp"));
    } else if (mode == CorruptionMode::SingleByteStrike) {
        logLine(QStringLiteral("has png"));
    }
    return mode;
}

// Something other than a file or folder is there: a named pipe, a device like /dev/null.
bool isPipeOrDevice(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode) &&
           !S_ISDIR(info.st_mode);
}

// `path` names the file open as `fd`, also through a link.
bool namesFile(const QString& path, int fd) {
    struct stat named {};
    struct stat open {};
    return ::stat(QFile::encodeName(path).constData(), &named) == 0 && ::fstat(fd, &open) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

enum class DirectWrite { AsFallback, Never };

// Opens the output. A new or regular file is written to a temporary beside it that replaces
// it only once written whole, keeping the old file's permissions: a failed write (disk full)
// leaves no torn file. Two cases lose that guarantee and are written in place, so a failure
// can leave them half-written: an output that is not a regular file (a named pipe or a
// device: there is nothing to replace, and renaming over it would destroy it), and a
// writable file in a folder where no temporary can be made (a read-only folder), unless
// `direct` forbids it. On failure `why` says why, in the system's words.
std::unique_ptr<QFileDevice> openOutput(const QString& path, DirectWrite direct, QString& why) {
    if (isPipeOrDevice(path)) {
        auto file = std::make_unique<QFile>(path);
        if (!file->open(QIODevice::WriteOnly | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
            why = file->errorString();
            return nullptr;
        }
        return file;
    }
    if (!QFileInfo(path).absoluteDir().exists()) {
        why = QStringLiteral("The folder does not exist");
        return nullptr;
    }
    auto file = std::make_unique<QSaveFile>(path);
    file->setDirectWriteFallback(direct == DirectWrite::AsFallback);
    // Unbuffered: the pass writes through the descriptor; nothing may wait in a buffer.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        why = file->errorString();
        return nullptr;
    }
    return file;
}

// Closes the output after `why` went wrong (empty: nothing did); empty when the output is
// complete, else why not. A temporary is dropped on failure, leaving what was there.
QString finish(QFileDevice& output, QString why) {
    if (auto* whole = qobject_cast<QSaveFile*>(&output)) {
        if (!why.isEmpty()) {
            whole->cancelWriting();
        }
        if (!whole->commit() && why.isEmpty()) {
            why = whole->errorString();
        }
        return why;
    }
    output.close();
    if (why.isEmpty() && output.error() != QFileDevice::NoError) {
        why = output.errorString();
    }
    return why;
}

// Errors that belong to the one name, not to its folder: another name there may still work.
bool nameAtFault(int code) {
    return code == ENAMETOOLONG || code == EINVAL || code == EILSEQ;
}

void logPass(const Session& session, const QString& outputPath) {
    logLine(QStringLiteral("dostuff endFormat: ") + session.endFormat);
    logLine(QStringLiteral("dostuff inPath: ") + session.inPath);
    logLine(QStringLiteral("dostuff outFileName: ") + outputPath);
}

// Gives the staged output its name, or says why it could not have it.
void commitPending(PassResult& result, Desktop& desktop) {
    const StagedOutcome outcome = result.pending->commitAs(result.path);
    result.nameTaken = outcome.taken();
    if (result.nameTaken) {
        return;
    }
    result.pending.reset();
    if (!outcome.done()) {
        desktop.alertOutputFailed(result.path, outcome.why);
        result.outputFailed = true;
        result.outputUnusable = nameAtFault(outcome.code);
        result.bytes.reset();
    }
}

// The pass into a name the run chose: written into a temporary beside it, named only once
// whole and only if the name is still free.
PassResult passIntoFreeName(Session& session, const GlitchParams& params, Desktop& desktop,
                            const InputFile& input, const QString& outputPath,
                            std::uint64_t keepUpTo) {
    const QFileInfo named(outputPath);
    StagedOutcome failure;
    std::unique_ptr<StagedFile> staged;
    if (!named.absoluteDir().exists()) {
        failure.why = QStringLiteral("The folder does not exist");
    } else {
        staged = StagedFile::create(named.absolutePath(), failure);
    }
    if (!staged) {
        desktop.alertOutputFailed(outputPath, failure.why);
        return {outputPath, true, false};
    }

    logPass(session, outputPath);
    const CorruptionMode mode = announcedMode(session.endFormat);
    StreamOutcome streamed = streamMode(input, session.inPath, staged->fd(), mode, params,
                                        session.random, {passChunkSize, keepUpTo});
    if (!streamed.readError.isEmpty()) {
        desktop.alertRunFailed(streamed.readError);
        return {outputPath, false, true, true};
    }
    PassResult result{outputPath, false, false};
    if (!streamed.writeError.isEmpty()) {
        desktop.alertOutputFailed(outputPath, streamed.writeError);
        result.outputFailed = true;
        result.outputUnusable = streamed.writeErrorCode == EFBIG;
        return result;
    }
    result.bytes = std::move(streamed.bytes);
    result.pending = std::move(staged);
    commitPending(result, desktop);
    return result;
}

} // namespace

void commitElsewhere(PassResult& result, Desktop& desktop, const QString& outputPath) {
    if (!result.nameTaken || !result.pending) {
        return;
    }
    result.path = outputPath;
    commitPending(result, desktop);
}

PassResult runGlitchPass(Session& session, const GlitchParams& params, Desktop& desktop,
                         const QString& inputPath, const QString& outName, std::uint64_t keepUpTo,
                         OutputCommit commit) {
    QString outputPath = outName;
    if (const TranscodeError error = transcodeStep(session, desktop, inputPath, outputPath);
        error.failed()) {
        if (error.cancelled) {
            PassResult cancelled{outputPath};
            cancelled.cancelled = true;
            return cancelled;
        }
        desktop.alertRunFailed(error.message);
        return {outputPath, false, true, error.inputAtFault};
    }

    // Checked before the output is opened, so a pass that cannot read leaves the output alone.
    const InputFile input = openPassInput(session.inPath);
    if (!input.ok()) {
        desktop.alertRunFailed(input.error);
        return {outputPath, false, true, true};
    }
    if (commit == OutputCommit::NeverReplace) {
        return passIntoFreeName(session, params, desktop, input, outputPath, keepUpTo);
    }
    // An output that names the input goes to a temporary that replaces the input only once
    // written, so the input can be streamed meanwhile. Where no temporary can be made the
    // output is written in place, and opening it empties the input: that input is read whole
    // first.
    std::optional<FileBytes> whole;
    QString why;
    std::unique_ptr<QFileDevice> output;
    if (namesFile(outputPath, input.fd.get())) {
        output = openOutput(outputPath, DirectWrite::Never, why);
        if (!output) {
            whole = readRemaining(input, session.inPath);
            if (!whole->ok()) {
                desktop.alertRunFailed(whole->error);
                return {outputPath, false, true, true};
            }
            output = openOutput(outputPath, DirectWrite::AsFallback, why);
        }
    } else {
        output = openOutput(outputPath, DirectWrite::AsFallback, why);
    }
    if (!output) {
        desktop.alertOutputFailed(outputPath, why);
        return {outputPath, true, false};
    }

    logPass(session, outputPath);
    const CorruptionMode mode = announcedMode(session.endFormat);

    PassResult result{outputPath, false, false};
    QString failure;
    if (whole) {
        std::vector<std::uint8_t> bytes =
            applyMode(mode, std::move(whole->bytes), params, session.random);
        failure = finish(*output, writeAll(*output, bytes) ? QString() : output->errorString());
        if (keepUpTo > 0 && bytes.size() <= LineBreakStream::maxOutput(keepUpTo)) {
            result.bytes = std::move(bytes);
        }
    } else {
        StreamOutcome streamed = streamMode(input, session.inPath, output->handle(), mode, params,
                                            session.random, {passChunkSize, keepUpTo});
        if (!streamed.readError.isEmpty()) {
            // What was written is a torn copy; it must not pass for a damaged one.
            finish(*output, streamed.readError);
            desktop.alertRunFailed(streamed.readError);
            return {outputPath, false, true, true};
        }
        failure = finish(*output, streamed.writeError);
        result.bytes = std::move(streamed.bytes);
    }
    if (!failure.isEmpty()) {
        desktop.alertOutputFailed(outputPath, failure);
        return {outputPath, true, false};
    }
    return result;
}

} // namespace zerbrak
