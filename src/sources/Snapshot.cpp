#include "WebcamCapture.h"
#include "codec/Encode.h"
#include "platform/ScratchFolder.h"

#include <QSaveFile>

namespace zerbrak {

SnapshotFile writeSnapshot(const QImage& picture) {
    const auto failed = [](const QString& why) {
        return SnapshotFile{QString(), QStringLiteral("Cannot save the snapshot: %1").arg(why)};
    };
    const EncodeResult encoded = encodeImage(picture, ImageFileType::Tiff);
    if (!encoded.ok()) {
        return failed(encoded.error);
    }
    const ScratchFolder folder = scratchFolder();
    if (!folder.usable()) {
        return failed(folder.error);
    }
    // A half-written snapshot would become the input of every later pass: all or nothing.
    const QString path = folder.filePath(QStringLiteral("capture.tiff"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return failed(file.errorString());
    }
    const auto size = static_cast<qint64>(encoded.bytes.size());
    if (file.write(reinterpret_cast<const char*>(encoded.bytes.data()), size) != size) {
        const QString error = file.errorString();
        file.cancelWriting();
        return failed(error);
    }
    if (!file.commit()) {
        return failed(file.errorString());
    }
    return {path, QString()};
}

} // namespace zerbrak
