#include "BmpRle.h"
#include "DecoderCommon.h"
#include "FormatDecoders.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace zerbrak::decoding {
namespace {

// Pixels are stored as they are, at best eight to the byte; what the truncated file still
// holds beyond an eighth of that is shown.
constexpr std::uint64_t kBmpPixelsPerByte = 64;

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitfields = 3;
constexpr std::uint32_t kJpeg = 4;
constexpr std::uint32_t kPng = 5;
constexpr std::uint32_t kAlphaBitfields = 6;
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
// Larger than any header Windows ever defined; past it the size field is damage.
constexpr std::uint32_t kMaxHeaderSize = 1024;

// Little-endian fields read with a bounds check each; a missing field reads as zero.
class Fields {
public:
    explicit Fields(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint32_t u32(std::size_t at) const {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            value |= std::uint32_t{byte(at + i)} << (8 * i);
        }
        return value;
    }
    std::uint16_t u16(std::size_t at) const {
        return static_cast<std::uint16_t>(byte(at) | (byte(at + 1) << 8));
    }
    std::int32_t i32(std::size_t at) const { return std::bit_cast<std::int32_t>(u32(at)); }
    std::uint8_t byte(std::size_t at) const { return at < bytes_.size() ? bytes_[at] : 0; }

private:
    std::span<const std::uint8_t> bytes_;
};

// One colour channel of a bit-field pixel: where it sits and how to widen it to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m) {
        if (mask != 0) {
            shift = std::countr_zero(mask);
            max = mask >> shift;
            // Masks with holes are damage; the lowest run of bits is what we take.
            if (((max + 1) & max) != 0) {
                max = (1u << std::countr_one(max)) - 1;
            }
        }
    }
    int level(std::uint32_t pixel, int absent) const {
        if (max == 0) {
            return absent;
        }
        const std::uint64_t value = (pixel >> shift) & max;
        return static_cast<int>(value * 255 / max);
    }
};

struct Layout {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool bottomUp = true;
    std::uint32_t bitsPerPixel = 0;
    std::uint32_t compression = kRgb;
    std::array<Channel, 4> channels; // red, green, blue, alpha
    std::array<QRgb, 256> palette{};
    std::size_t dataOffset = 0;
    std::size_t stride = 0;
};

bool usesMasks(const Layout& layout) {
    return layout.compression == kBitfields || layout.compression == kAlphaBitfields ||
           layout.bitsPerPixel == 16;
}

// Pixels of one stored row, of which `present` bytes came from the file.
void decodeRow(const Layout& layout, const std::uint8_t* in, std::size_t present, QRgb* out) {
    const auto width = static_cast<std::size_t>(layout.width);
    const std::size_t complete = std::min(width, present * 8 / layout.bitsPerPixel);
    switch (layout.bitsPerPixel) {
    case 1:
    case 4:
    case 8: {
        const std::uint32_t bits = layout.bitsPerPixel;
        const std::uint32_t perByte = 8 / bits;
        const auto mask = static_cast<std::uint8_t>((1u << bits) - 1);
        for (std::size_t x = 0; x < complete; ++x) {
            const std::uint32_t shift = 8 - bits * (static_cast<std::uint32_t>(x % perByte) + 1);
            out[x] = layout.palette[(in[x / perByte] >> shift) & mask];
        }
        break;
    }
    case 24:
        for (std::size_t x = 0; x < complete; ++x, in += 3) {
            out[x] = qRgb(in[2], in[1], in[0]);
        }
        break;
    case 32:
        if (!usesMasks(layout)) {
            for (std::size_t x = 0; x < complete; ++x, in += 4) {
                out[x] = qRgb(in[2], in[1], in[0]);
            }
            break;
        }
        [[fallthrough]];
    default: {
        const std::size_t step = layout.bitsPerPixel / 8;
        const auto& c = layout.channels;
        for (std::size_t x = 0; x < complete; ++x, in += step) {
            std::uint32_t pixel = in[0] | (std::uint32_t{in[1]} << 8);
            if (step == 4) {
                pixel |= (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[3]} << 24);
            }
            out[x] = qRgba(c[0].level(pixel, 0), c[1].level(pixel, 0), c[2].level(pixel, 0),
                           c[3].level(pixel, 255));
        }
        break;
    }
    }
    std::fill(out + complete, out + width, kMissingPixel);
}

// Reads the headers into `layout`. Nothing when the file is a variant left to Qt; an
// error message when it cannot be a picture at all.
std::optional<std::optional<QString>> readLayout(const Fields& f, std::size_t fileSize,
                                                 const DecodeLimits& limits, Layout& layout) {
    const std::uint32_t headerSize = f.u32(kFileHeaderSize);
    const std::size_t info = kFileHeaderSize + 4;
    std::size_t paletteEntry = 4;
    if (headerSize == kCoreHeaderSize) {
        layout.width = f.u16(info);
        layout.height = f.u16(info + 2);
        layout.bitsPerPixel = f.u16(info + 6);
        paletteEntry = 3;
    } else if (headerSize >= 16 && headerSize <= kMaxHeaderSize) {
        layout.width = f.i32(info);
        layout.height = f.i32(info + 4);
        layout.bitsPerPixel = f.u16(info + 10);
        layout.compression = headerSize >= 20 ? f.u32(info + 12) : kRgb;
    } else {
        return std::optional<QString>(QStringLiteral("The BMP header size %1 is not one of a "
                                                     "BMP file.")
                                          .arg(headerSize));
    }
    if (layout.compression == kJpeg || layout.compression == kPng) {
        return std::nullopt;
    }
    // Runs of 8-bit indexes need 8 bits a pixel, of 4-bit ones 4; with any other depth it is
    // the compression field that was damaged.
    const bool runLengths = (layout.compression == kRle8 && layout.bitsPerPixel == 8) ||
                            (layout.compression == kRle4 && layout.bitsPerPixel == 4);
    if (layout.compression != kBitfields && layout.compression != kAlphaBitfields && !runLengths) {
        layout.compression = kRgb; // a damaged compression field: read the pixels as stored
    }
    if (layout.height < 0) {
        layout.height = -layout.height;
        layout.bottomUp = false;
    }
    if (layout.width < 0) {
        return std::optional<QString>(QStringLiteral("The BMP file declares a negative width."));
    }
    // What run-length data could hold is weighed once its runs are known.
    const auto capacity =
        runLengths ? std::nullopt : std::optional(Capacity{fileSize, kBmpPixelsPerByte});
    if (auto refusal = refuseSize(static_cast<std::uint64_t>(layout.width),
                                  static_cast<std::uint64_t>(layout.height), limits, capacity)) {
        return std::optional<QString>(*refusal);
    }
    const std::uint32_t bpp = layout.bitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        return std::optional<QString>(
            QStringLiteral("BMP files of %1 bits per pixel are not supported.").arg(bpp));
    }

    std::size_t afterHeader = kFileHeaderSize + headerSize;
    if (usesMasks(layout)) {
        // Bit-field masks sit at the same place whether they end a v2+ header or follow a
        // plain BITMAPINFOHEADER.
        const std::size_t masks = kFileHeaderSize + kInfoHeaderSize;
        const bool declared =
            layout.compression == kBitfields || layout.compression == kAlphaBitfields;
        const bool alpha = layout.compression == kAlphaBitfields || headerSize >= 56;
        if (declared) {
            layout.channels = {Channel(f.u32(masks)), Channel(f.u32(masks + 4)),
                               Channel(f.u32(masks + 8)), Channel(alpha ? f.u32(masks + 12) : 0)};
            if (headerSize == kInfoHeaderSize) {
                afterHeader += layout.compression == kAlphaBitfields ? 16 : 12;
            }
        } else if (bpp == 16) {
            layout.channels = {Channel(0x7C00), Channel(0x03E0), Channel(0x001F), Channel(0)};
        } else {
            layout.channels = {Channel(0xFF0000), Channel(0xFF00), Channel(0xFF), Channel(0)};
        }
    }
    if (bpp <= 8) {
        const std::uint32_t declared = headerSize >= 36 ? f.u32(info + 28) : 0;
        const std::uint32_t most = 1u << bpp;
        const std::uint32_t count = declared > 0 && declared <= most ? declared : most;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t at = afterHeader + std::size_t{i} * paletteEntry;
            layout.palette[i] = qRgb(f.byte(at + 2), f.byte(at + 1), f.byte(at));
        }
        afterHeader += std::size_t{count} * paletteEntry;
    }
    // A pixel offset pointing into the headers or past the end is damage; the pixels most
    // likely follow the palette.
    const std::uint32_t declaredOffset = f.u32(10);
    layout.dataOffset = declaredOffset >= kFileHeaderSize + std::min(headerSize, kInfoHeaderSize) &&
                                declaredOffset < fileSize
                            ? declaredOffset
                            : afterHeader;
    layout.stride =
        static_cast<std::size_t>((static_cast<std::uint64_t>(layout.width) * bpp + 31) / 32 * 4);
    return std::optional<QString>();
}

bool allTransparent(const QImage& canvas) {
    for (int y = 0; y < canvas.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        if (std::any_of(line, line + canvas.width(), [](QRgb p) { return qAlpha(p) != 0; })) {
            return false;
        }
    }
    return true;
}

void makeOpaque(QImage& canvas) {
    for (int y = 0; y < canvas.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        std::for_each(line, line + canvas.width(), [](QRgb& p) { p |= 0xFF000000u; });
    }
    canvas.reinterpretAsFormat(QImage::Format_RGB32);
}

bool isRunLength(const Layout& layout) {
    return layout.compression == kRle8 || layout.compression == kRle4;
}

DecodeResult decodeRunLengths(std::span<const std::uint8_t> bytes, const Layout& layout,
                              const DecodeLimits& limits) {
    const auto data = bytes.subspan(std::min(layout.dataOffset, bytes.size()));
    if (data.size() < 2) {
        return invalidResult(QStringLiteral("The BMP file holds no pixel data."));
    }
    const int bits = layout.compression == kRle8 ? 8 : 4;
    auto width = static_cast<std::uint64_t>(layout.width);
    auto height = static_cast<std::uint64_t>(layout.height);
    DecodeResult result;
    const Capacity capacity{bytes.size(), kRlePixelsPerByte};
    if (auto refusal = refuseSize(width, height, limits, capacity)) {
        // A struck size field: the rows still end where their runs say, and the picture
        // they hold lies whole in a corner of the declared one.
        const RleExtent extent = rleExtent(data, bits, width, height);
        if (extent.width == 0 || extent.rows == 0 ||
            refuseSize(extent.width, extent.rows, limits, capacity)) {
            return invalidResult(*refusal);
        }
        result.partial = true;
        result.message = QStringLiteral("The BMP file declares %1 x %2 pixels, far more than its "
                                        "%3 bytes could hold; the %4 x %5 its runs reach are "
                                        "shown.")
                             .arg(width)
                             .arg(height)
                             .arg(bytes.size())
                             .arg(extent.width)
                             .arg(extent.rows);
        width = extent.width;
        height = extent.rows;
    }
    QImage canvas = makeCanvas(static_cast<int>(width), static_cast<int>(height), false);
    if (canvas.isNull()) {
        return invalidResult(QStringLiteral("Out of memory."));
    }
    const RleOutcome outcome = paintRle(data, bits, layout.palette, layout.bottomUp, canvas);
    if (!result.partial && !outcome.whole) {
        result.partial = true;
        result.message = QStringLiteral("The BMP file ends after %1 of its %2 rows.")
                             .arg(outcome.rowsDone)
                             .arg(height);
    } else if (!result.partial && outcome.pastEndCode) {
        result.partial = true;
        result.message = QStringLiteral("The BMP run data holds an end code with more runs "
                                        "behind it; decoding went on after it.");
    }
    result.image = std::move(canvas);
    return result;
}

} // namespace

std::optional<DecodeResult> decodeBmp(std::span<const std::uint8_t> bytes,
                                      const DecodeLimits& limits) {
    const Fields fields(bytes);
    Layout layout;
    const auto verdict = readLayout(fields, bytes.size(), limits, layout);
    if (!verdict) {
        return std::nullopt;
    }
    if (*verdict) {
        return invalidResult(**verdict);
    }
    if (isRunLength(layout)) {
        return decodeRunLengths(bytes, layout, limits);
    }
    const bool alpha = layout.channels[3].max != 0;
    QImage canvas =
        makeCanvas(static_cast<int>(layout.width), static_cast<int>(layout.height), alpha);
    if (canvas.isNull()) {
        return invalidResult(QStringLiteral("Out of memory."));
    }

    const auto height = static_cast<std::size_t>(layout.height);
    const std::size_t available =
        bytes.size() > layout.dataOffset ? bytes.size() - layout.dataOffset : 0;
    const std::size_t fullRows = std::min(height, available / layout.stride);
    std::size_t rowsWithData = fullRows;
    std::vector<std::uint8_t> tail;
    for (std::size_t row = 0; row < height; ++row) {
        const std::size_t y = layout.bottomUp ? height - 1 - row : row;
        auto* out = reinterpret_cast<QRgb*>(canvas.scanLine(static_cast<int>(y)));
        const std::size_t start = row * layout.stride;
        if (row < fullRows) {
            decodeRow(layout, bytes.data() + layout.dataOffset + start, layout.stride, out);
        } else if (start < available) {
            // The row the file ends in: what of it is there, padded so no read runs over.
            tail.assign(layout.stride, 0);
            std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(layout.dataOffset + start),
                      bytes.end(), tail.begin());
            decodeRow(layout, tail.data(), available - start, out);
            ++rowsWithData;
        } else {
            std::fill(out, out + layout.width, kMissingPixel);
        }
    }
    if (rowsWithData == 0) {
        return invalidResult(QStringLiteral("The BMP file holds no pixel data."));
    }
    DecodeResult result;
    if (fullRows < height) {
        result.partial = true;
        result.message =
            QStringLiteral("The BMP file ends after %1 of its %2 rows.").arg(fullRows).arg(height);
    }
    // An alpha mask over a channel the writer left at zero would make the picture vanish.
    if (alpha && allTransparent(canvas)) {
        makeOpaque(canvas);
    }
    result.image = std::move(canvas);
    return result;
}

} // namespace zerbrak::decoding
