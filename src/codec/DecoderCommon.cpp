#include "DecoderCommon.h"

#include <algorithm>
#include <limits>

namespace zerbrak::decoding {

std::optional<QString> refuseSize(std::uint64_t width, std::uint64_t height,
                                  const DecodeLimits& limits, std::optional<Capacity> capacity) {
    if (width == 0 || height == 0) {
        return QStringLiteral("The file declares an empty picture (%1 x %2).")
            .arg(width)
            .arg(height);
    }
    constexpr std::uint64_t maxSide = std::numeric_limits<int>::max();
    // Dividing instead of multiplying keeps absurd declarations from overflowing.
    const std::uint64_t maxPixels = limits.maxPixelBytes / 4;
    if (width > maxSide || height > maxSide || width > maxPixels / height) {
        return QStringLiteral("The file declares %1 x %2 pixels, more than this program will "
                              "decode (%3 MiB of pixels).")
            .arg(width)
            .arg(height)
            .arg(limits.maxPixelBytes >> 20);
    }
    if (capacity && width * height / capacity->pixelsPerByte >
                        std::max<std::uint64_t>(capacity->fileBytes, 1)) {
        return QStringLiteral("The file declares %1 x %2 pixels, far more than its %3 bytes could "
                              "hold.")
            .arg(width)
            .arg(height)
            .arg(capacity->fileBytes);
    }
    return std::nullopt;
}

QImage makeCanvas(int width, int height, bool alpha) {
    return QImage(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

void fillRows(QImage& image, int firstRow, int endRow, QRgb colour) {
    const int width = image.width();
    for (int y = std::max(firstRow, 0); y < std::min(endRow, image.height()); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line, line + width, colour);
    }
}

DecodeResult decodeOrMend(std::span<const std::uint8_t> bytes, const DecodeLimits& limits,
                          BytesDecoder decode, BytesRepair repair, const QString& mendedMessage) {
    DecodeResult result = decode(bytes, limits);
    if (result.isValid()) {
        return result;
    }
    const auto repaired = repair(bytes);
    if (!repaired) {
        return result;
    }
    DecodeResult mended = decode(*repaired, limits);
    if (!mended.isValid()) {
        return result;
    }
    mended.partial = true;
    mended.message = mendedMessage;
    return mended;
}

DecodeResult invalidResult(const QString& message) {
    DecodeResult result;
    result.message = message;
    return result;
}

QString libraryMessage(const char* text) {
    if (text == nullptr) {
        return {};
    }
    return QString::fromLocal8Bit(text).trimmed();
}

} // namespace zerbrak::decoding
