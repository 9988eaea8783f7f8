#include "WebcamCapture.h"
#include "codec/Encode.h"
#include "platform/FileBytes.h"
#include "platform/ScratchFolder.h"

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
    const QString name = QStringLiteral("capture.tiff");
    if (const QString error = folder.writeWhole(name, encoded.bytes); !error.isEmpty()) {
        return failed(error);
    }
    return {folder.filePath(name), QString()};
}

} // namespace zerbrak
