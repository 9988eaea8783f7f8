#include "TranscodeStep.h"

#include "FormatTable.h"
#include "codec/Decode.h"
#include "codec/Encode.h"
#include "platform/Desktop.h"
#include "platform/Log.h"
#include "platform/ScratchFolder.h"

#include <QSaveFile>

namespace zerbrak {
namespace {

// Replaces the scratch file whole, or leaves the last good one: a half-written scratch file
// would be the input of every later pass.
void writeScratch(const QString& path, const std::vector<std::uint8_t>& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.commit();
}

} // namespace

void transcodeStep(Session& session, Desktop& desktop, const QString& inputPath, QString& outName) {
    const auto* target = std::get_if<FixedTarget>(&session.trans_endFormat);
    if (target == nullptr) {
        return;
    }
    const FormatRow& row = formatRow(*target);
    logLine(QString::fromUtf8(row.transcodeLog));

    const DecodeResult decoded = decodeImageFile(inputPath);
    desktop.showImage(decoded.image);
    const QString scratch = scratchPath(QString::fromUtf8(row.scratchName));
    if (decoded.isValid()) {
        if (const EncodeResult encoded = encodeImage(decoded.image, row.fileType, row.options);
            encoded.ok()) {
            writeScratch(scratch, encoded.bytes);
        }
    }
    // Moved on even when nothing was encoded: the pass then damages whatever the scratch
    // file holds from before, or nothing.
    session.inPath = scratch;
    session.endFormat = QString::fromUtf8(row.extension);
    outName = outName + QLatin1Char('.') + session.endFormat;
}

} // namespace zerbrak
