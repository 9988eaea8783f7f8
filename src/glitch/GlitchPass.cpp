#include "GlitchPass.h"

#include "TranscodeStep.h"
#include "platform/Desktop.h"
#include "platform/FileBytes.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <memory>
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

// Opens the output. A new or regular file is written to a temporary beside it that replaces
// it only once written whole, keeping the old file's permissions: a failed write (disk full)
// leaves no torn file. Two cases lose that guarantee and are written in place, so a failure
// can leave them half-written: an output that is not a regular file (a named pipe or a
// device: there is nothing to replace, and renaming over it would destroy it), and a
// writable file in a folder where no temporary can be made (a read-only folder).
// On failure `why` says why, in the system's words.
std::unique_ptr<QFileDevice> openOutput(const QString& path, QString& why) {
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
    file->setDirectWriteFallback(true);
    // Unbuffered: the one large write goes straight to the file, and a full disk is reported
    // by the write itself, in the system's words.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        why = file->errorString();
        return nullptr;
    }
    return file;
}

// Writes all of `bytes` and closes the output; empty when all of it worked, else why not.
QString writeAndClose(QFileDevice& output, const std::vector<std::uint8_t>& bytes) {
    const bool written = writeAll(output, bytes);
    QString why = written ? QString() : output.errorString();
    if (auto* whole = qobject_cast<QSaveFile*>(&output)) {
        if (!written) {
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

} // namespace

PassResult runGlitchPass(Session& session, const GlitchParams& params, Desktop& desktop,
                         const QString& inputPath, const QString& outName) {
    QString outputPath = outName;
    if (const TranscodeError error = transcodeStep(session, desktop, inputPath, outputPath);
        error.failed()) {
        desktop.alertRunFailed(error.message);
        return {outputPath, false, true, error.inputAtFault};
    }

    // Read before the output is opened: an output written in place that names the input
    // would otherwise be emptied before its bytes were read.
    FileBytes input = readFileBytes(session.inPath);
    if (!input.ok()) {
        desktop.alertRunFailed(input.error);
        return {outputPath, false, true, true};
    }
    QString why;
    const std::unique_ptr<QFileDevice> output = openOutput(outputPath, why);
    if (!output) {
        desktop.alertOutputFailed(outputPath, why);
        return {outputPath, true, false};
    }

    logLine(QStringLiteral("dostuff endFormat: ") + session.endFormat);
    logLine(QStringLiteral("dostuff inPath: ") + session.inPath);
    logLine(QStringLiteral("dostuff outFileName: ") + outputPath);

    const std::vector<std::uint8_t> bytes =
        applyMode(announcedMode(session.endFormat), std::move(input.bytes), params, session.random);
    if (const QString failure = writeAndClose(*output, bytes); !failure.isEmpty()) {
        desktop.alertOutputFailed(outputPath, failure);
        return {outputPath, true, false};
    }
    return {outputPath, false, false};
}

} // namespace zerbrak
