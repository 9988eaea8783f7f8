#include "JpegDecoderOrientation.h"

#include <QTransform>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace zerbrak::decoding {
namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;

// Reads TIFF-structured EXIF numbers in the byte order the block declares, refusing any
// read past its end.
class ExifReader {
public:
    ExifReader(std::span<const std::uint8_t> tiff, bool bigEndian)
        : tiff_(tiff), bigEndian_(bigEndian) {}

    std::optional<std::uint32_t> read(std::size_t offset, std::size_t width) const {
        if (offset > tiff_.size() || tiff_.size() - offset < width) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t index = bigEndian_ ? i : width - 1 - i;
            value = (value << 8) | tiff_[offset + index];
        }
        return value;
    }

private:
    std::span<const std::uint8_t> tiff_;
    bool bigEndian_;
};

std::optional<int> orientationIn(std::span<const std::uint8_t> app1) {
    constexpr char exifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
    if (app1.size() < sizeof exifHeader + 8 ||
        std::memcmp(app1.data(), exifHeader, sizeof exifHeader) != 0) {
        return std::nullopt;
    }
    const auto tiff = app1.subspan(sizeof exifHeader);
    bool bigEndian = false;
    if (tiff[0] == 'M' && tiff[1] == 'M') {
        bigEndian = true;
    } else if (tiff[0] != 'I' || tiff[1] != 'I') {
        return std::nullopt;
    }
    const ExifReader reader(tiff, bigEndian);
    const auto ifd = reader.read(4, 4);
    const auto count = ifd ? reader.read(*ifd, 2) : std::nullopt;
    if (!count) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::size_t entry = std::size_t{*ifd} + 2 + std::size_t{i} * 12;
        const auto tag = reader.read(entry, 2);
        if (!tag) {
            return std::nullopt;
        }
        if (*tag == kOrientationTag) {
            const auto value = reader.read(entry + 8, 2);
            if (!value) {
                return std::nullopt;
            }
            return static_cast<int>(*value);
        }
    }
    return std::nullopt;
}

QImage rotated(const QImage& image, qreal degrees) {
    return image.transformed(QTransform().rotate(degrees));
}

} // namespace

QImage applyExifOrientation(QImage image, jpeg_saved_marker_ptr markers) {
    std::optional<int> orientation;
    for (auto marker = markers; marker != nullptr && !orientation; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && marker->data != nullptr) {
            orientation = orientationIn({marker->data, marker->data_length});
        }
    }
    switch (orientation.value_or(1)) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return rotated(image, 90).mirrored(true, false);
    case 6:
        return rotated(image, 90);
    case 7:
        return rotated(image, 90).mirrored(false, true);
    case 8:
        return rotated(image, 270);
    default:
        return image;
    }
}

} // namespace zerbrak::decoding
