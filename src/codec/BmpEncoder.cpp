#include "EncoderMemoryFile.h"
#include "EncoderPixels.h"
#include "Encoders.h"

#include <bit>
#include <cstdint>
#include <limits>

namespace zerbrak::encoders {

namespace {

constexpr std::uint32_t fileHeaderSize = 14;
constexpr std::uint32_t infoHeaderSize = 40;
// 72 dpi, what most writers put there.
constexpr std::int32_t pixelsPerMetre = 2835;

class LittleEndianWriter {
public:
    explicit LittleEndianWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void u16(std::uint16_t value) {
        out_.push_back(static_cast<std::uint8_t>(value & 0xffU));
        out_.push_back(static_cast<std::uint8_t>(value >> 8U));
    }
    void u32(std::uint32_t value) {
        for (unsigned shift = 0; shift < 32; shift += 8) {
            out_.push_back(static_cast<std::uint8_t>((value >> shift) & 0xffU));
        }
    }
    void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }

private:
    std::vector<std::uint8_t>& out_;
};

// Qt's 32-bit pixels lie in memory as B,G,R,X on a little-endian machine, BMP's own order, so
// they are copied as they are rather than converted to R,G,B first and swapped back.
bool storedAsBgrx(const QImage& image) {
    return std::endian::native == std::endian::little &&
           (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32);
}

} // namespace

// Written by hand because the layout is a few fixed fields: a 24-bit BITMAPINFOHEADER file,
// bottom-up, each row padded to four bytes.
EncodeResult encodeBmp(const QImage& image) {
    const bool bgrx = storedAsBgrx(image);
    const QImage rgb = bgrx ? image : toRgb8(image, AlphaPolicy::Drop);
    const auto width = static_cast<std::uint64_t>(rgb.width());
    const auto height = static_cast<std::uint64_t>(rgb.height());
    const std::uint64_t stride = (width * 3 + 3) & ~std::uint64_t{3};
    const std::uint64_t pixelBytes = stride * height;
    const std::uint64_t fileSize = fileHeaderSize + infoHeaderSize + pixelBytes;
    if (fileSize > std::numeric_limits<std::uint32_t>::max()) {
        return encodeFailure(QStringLiteral("The picture is too large for a BMP file"));
    }

    EncodeResult result;
    auto& out = result.bytes;
    reserveOutput(out, static_cast<std::size_t>(fileSize));
    LittleEndianWriter le(out);

    out.push_back('B');
    out.push_back('M');
    le.u32(static_cast<std::uint32_t>(fileSize));
    le.u32(0); // reserved
    le.u32(fileHeaderSize + infoHeaderSize);

    le.u32(infoHeaderSize);
    le.i32(rgb.width());
    le.i32(rgb.height()); // positive: rows run bottom-up
    le.u16(1);            // planes
    le.u16(24);           // bits per pixel
    le.u32(0);            // BI_RGB
    le.u32(static_cast<std::uint32_t>(pixelBytes));
    le.i32(pixelsPerMetre);
    le.i32(pixelsPerMetre);
    le.u32(0); // colours used
    le.u32(0); // important colours

    // Rows are zero-filled first so the padding needs no extra step.
    const auto rowBytes = static_cast<std::size_t>(stride);
    for (int y = rgb.height() - 1; y >= 0; --y) {
        const uchar* source = rgb.constScanLine(y);
        const std::size_t rowStart = out.size();
        out.resize(rowStart + rowBytes, 0);
        std::uint8_t* target = out.data() + rowStart;
        if (bgrx) {
            for (int x = 0; x < rgb.width(); ++x, source += 4, target += 3) {
                target[0] = source[0];
                target[1] = source[1];
                target[2] = source[2];
            }
        } else {
            for (int x = 0; x < rgb.width(); ++x, source += 3, target += 3) {
                target[0] = source[2];
                target[1] = source[1];
                target[2] = source[0];
            }
        }
    }
    return result;
}

} // namespace zerbrak::encoders
