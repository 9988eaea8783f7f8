#include "TranscodeStep.h"

#include "FormatTable.h"
#include "TranscodeMemo.h"
#include "codec/Decode.h"
#include "codec/Encode.h"
#include "platform/Desktop.h"
#include "platform/FileBytes.h"
#include "platform/ImageDecoder.h"
#include "platform/Log.h"
#include "platform/ScratchFolder.h"

namespace zerbrak {
namespace {

// Messages come from several libraries, some with a full stop and some without.
QString sentence(const QString& text) {
    return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

// The scratch file still holds what a remembered re-encode wrote: nothing else (another
// instance, the command-line tool, the user) has replaced it since. When the input is the
// scratch file itself, its bytes were just hashed.
bool scratchHolds(const ScratchFolder& folder, const QString& scratchName,
                  const ContentHash& remembered, const QString& inputPath,
                  const ContentHash& inputHash) {
    if (inputPath == folder.filePath(scratchName)) {
        return inputHash == remembered;
    }
    const InputFile held = folder.open(scratchName);
    return held.ok() && contentHash(held) == remembered;
}

// Shows the remembered picture when these input bytes were re-encoded into `target` before and
// the scratch file still holds the result; false when the re-encode has to run. The input is
// hashed a piece at a time, so a remembered re-encode never holds the input whole.
bool showRemembered(TranscodeMemo& memo, Desktop& desktop, const InputFile& input,
                    const QString& inputPath, FixedTarget target, const ScratchFolder& folder,
                    const QString& scratchName) {
    if (!memo.enabled()) {
        return false;
    }
    const std::optional<ContentHash> inputHash = contentHash(input);
    if (!inputHash) {
        return false;
    }
    const std::optional<TranscodeMemo::Recalled> recalled = memo.recall(*inputHash, target);
    if (!recalled || !scratchHolds(folder, scratchName, recalled->scratch, inputPath, *inputHash)) {
        return false;
    }
    memo.countSkipped();
    desktop.showImage(recalled->picture);
    return true;
}

} // namespace

QString transcodedOutputName(const TranscodeTarget& target, const QString& outName) {
    const auto* fixed = std::get_if<FixedTarget>(&target);
    return fixed == nullptr
               ? outName
               : outName + QLatin1Char('.') + QString::fromUtf8(formatRow(*fixed).extension);
}

TranscodeError transcodeStep(Session& session, Desktop& desktop, const QString& inputPath,
                             QString& outName) {
    const auto* target = std::get_if<FixedTarget>(&session.trans_endFormat);
    if (target == nullptr) {
        return {};
    }
    const FormatRow& row = formatRow(*target);
    logLine(QString::fromUtf8(row.transcodeLog));

    const auto cannot = [&](const QString& why, bool inputAtFault) {
        return TranscodeError{sentence(QStringLiteral("Cannot re-encode %1 to %2: %3")
                                           .arg(inputPath, QString::fromUtf8(row.title), why)),
                              inputAtFault};
    };
    const ScratchFolder folder = scratchFolder();
    if (!folder.usable()) {
        return cannot(folder.error, false);
    }
    // Opened as every pass opens its input: a named pipe or a device is refused, not waited on,
    // and the scratch file of the pass before is not read through a link.
    const InputFile opened = openPassInput(inputPath);
    if (!opened.ok()) {
        return {opened.error, true};
    }
    const QString scratchName = QString::fromUtf8(row.scratchName);
    const QString scratch = folder.filePath(scratchName);
    if (!showRemembered(session.transcodeMemo, desktop, opened, inputPath, *target, folder,
                        scratchName)) {
        const FileBytes input = readRemaining(opened, inputPath);
        if (!input.ok()) {
            return {input.error, true};
        }
        const DecodeResult decoded = decodeBytes(session.decoder, input.bytes);
        if (decoded.cancelled) {
            return {QString(), false, true};
        }
        desktop.showImage(decoded.image);
        if (!decoded.isValid()) {
            return cannot(QStringLiteral("it does not decode as a picture"), true);
        }
        const EncodeResult encoded = encodeImage(decoded.image, row.fileType, row.options);
        if (!encoded.ok()) {
            return cannot(encoded.error.isEmpty() ? QStringLiteral("the encoder gave nothing")
                                                  : encoded.error,
                          true);
        }
        // A half-written scratch file would be the input of every later pass: whole or nothing.
        if (const QString error = folder.writeWhole(scratchName, encoded.bytes); !error.isEmpty()) {
            return cannot(
                QStringLiteral("the scratch file %1 cannot be written (%2)").arg(scratch, error),
                false);
        }
        session.transcodeMemo.remember(contentHash(input.bytes), *target, decoded.image,
                                       contentHash(encoded.bytes));
    }
    outName = transcodedOutputName(session.trans_endFormat, outName);
    if (inputPath != scratch) {
        session.transcodeSource = inputPath;
    }
    session.inPath = scratch;
    session.endFormat = QString::fromUtf8(row.extension);
    return {};
}

} // namespace zerbrak
