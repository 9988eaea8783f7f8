#include "Decode.h"
#include "DecoderCommon.h"
#include "FormatDecoders.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <limits>
#include <new>

namespace zerbrak {

namespace decoding {

DecodeResult decodeWithQt(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<qsizetype>::max())) {
        return invalidResult(QStringLiteral("The file is too large."));
    }
    // fromRawData borrows the bytes; they outlive the reader.
    QByteArray view = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&view);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(static_cast<int>(
        std::clamp<std::uint64_t>(limits.maxPixelBytes >> 20, 1, std::numeric_limits<int>::max())));
    const QSize declared = reader.size();
    if (declared.isValid()) {
        if (auto refusal = refuseSize(static_cast<std::uint64_t>(std::max(declared.width(), 0)),
                                      static_cast<std::uint64_t>(std::max(declared.height(), 0)),
                                      limits, Capacity{bytes.size(), kPixelsPerByte})) {
            return invalidResult(*refusal);
        }
    }
    QImage image = reader.read();
    if (image.isNull()) {
        return invalidResult(reader.errorString());
    }
    DecodeResult result;
    result.image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                 : QImage::Format_RGB32);
    return result;
}

} // namespace decoding

namespace {

DecodeResult decodeSniffed(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    using namespace decoding;
    switch (sniffFormat(bytes)) {
    case ImageFormat::Png:
        return decodePng(bytes, limits);
    case ImageFormat::Jpeg:
        return decodeJpeg(bytes, limits);
    case ImageFormat::Tiff:
        return decodeTiff(bytes, limits);
    case ImageFormat::Gif:
        return decodeGif(bytes, limits);
    case ImageFormat::Jpeg2000:
        return decodeJpeg2000(bytes, limits);
    case ImageFormat::Bmp:
        if (auto ours = decodeBmp(bytes, limits)) {
            return std::move(*ours);
        }
        return decodeWithQt(bytes, limits);
    case ImageFormat::Unknown:
        break;
    }
    return decodeWithQt(bytes, limits);
}

DecodeResult outOfMemory() {
    return decoding::invalidResult(QStringLiteral("out of memory"));
}

} // namespace

DecodeResult decodeImageBytes(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    // The C libraries below call back into our code, and a declared size can still ask for
    // more than there is: a failed allocation ends this one decode, not the program.
    try {
        return decodeSniffed(bytes, limits);
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
}

QString sizeRefusal(std::uint64_t size, const DecodeLimits& limits) {
    if (size <= limits.maxFileBytes) {
        return {};
    }
    return QStringLiteral("The file is %1 MiB, larger than any picture this program will decode "
                          "(%2 MiB).")
        .arg(size >> 20U)
        .arg(limits.maxFileBytes >> 20U);
}

DecodeResult decodeImageFile(const QString& path, const DecodeLimits& limits) {
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        return decoding::invalidResult(QStringLiteral("Not a regular file."));
    }
    if (const QString refusal =
            sizeRefusal(static_cast<std::uint64_t>(std::max<qint64>(info.size(), 0)), limits);
        !refusal.isEmpty()) {
        return decoding::invalidResult(refusal);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return decoding::invalidResult(file.errorString());
    }
    QByteArray bytes;
    try {
        bytes = file.readAll();
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    return decodeImageBytes({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                             static_cast<std::size_t>(bytes.size())},
                            limits);
}

} // namespace zerbrak
