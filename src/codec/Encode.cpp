#include "Encode.h"

#include "Encoders.h"

#include <new>

namespace zerbrak {

namespace encoders {

EncodeResult encodeFailure(const QString& message) {
    EncodeResult result;
    result.error = message;
    return result;
}

} // namespace encoders

namespace {

EncodeResult dispatch(const QImage& image, ImageFileType type, const EncodeOptions& options) {
    switch (type) {
    case ImageFileType::Tiff:
        return encoders::encodeTiff(image);
    case ImageFileType::Bmp:
        return encoders::encodeBmp(image);
    case ImageFileType::Gif:
        return encoders::encodeGif(image);
    case ImageFileType::Jpeg:
        return encoders::encodeJpeg(image);
    case ImageFileType::Png:
        return encoders::encodePng(image, options.interlaced);
    case ImageFileType::Jpeg2000:
        return encoders::encodeJp2(image);
    }
    // Numbers come from saved settings, so an out-of-range one is possible.
    return encoders::encodeFailure(
        QStringLiteral("Unknown image file type %1").arg(static_cast<int>(type)));
}

} // namespace

EncodeResult encodeImage(const QImage& image, ImageFileType type, const EncodeOptions& options) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        return encoders::encodeFailure(QStringLiteral("There is no picture to encode"));
    }
    try {
        EncodeResult result = dispatch(image, type, options);
        if (result.error.isEmpty() && result.bytes.empty()) {
            result.error = QStringLiteral("The encoder produced no bytes");
        }
        return result;
    } catch (const std::bad_alloc&) {
        // Huge pictures are the one realistic way to get here; the run should survive it.
        return encoders::encodeFailure(QStringLiteral("Not enough memory to encode the picture"));
    }
}

} // namespace zerbrak
