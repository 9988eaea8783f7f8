#include "BmpRle.h"

#include "DecoderCommon.h"

#include <algorithm>

namespace zerbrak::decoding {
namespace {

// An end-of-bitmap code followed by more than this is taken for damage, not padding.
constexpr std::size_t kPaddingAfterEnd = 4;

struct Position {
    std::uint64_t row = 0;
    std::uint64_t x = 0;
    bool whole = false;
    bool pastEndCode = false;
};

// Walks the codes in order and hands the sink each run, cut to `width` and to the rows
// below `height`, as (stored row, first column, pixel count, index of the k-th pixel).
// Every code consumes bytes, so the walk ends with the data at the latest.
template <typename Sink>
Position walk(std::span<const std::uint8_t> data, int bits, std::uint64_t width,
              std::uint64_t height, Sink&& sink) {
    Position at;
    std::size_t i = 0;
    auto hand = [&](std::uint64_t count, auto indexOf) {
        if (at.x < width) {
            sink(at.row, at.x, std::min(count, width - at.x), indexOf);
        }
        at.x += count;
    };
    while (at.row < height) {
        if (data.size() - i < 2) {
            // A last row complete without its end code is whole all the same.
            at.whole = at.row + 1 == height && at.x >= width;
            return at;
        }
        const std::uint8_t count = data[i];
        const std::uint8_t value = data[i + 1];
        i += 2;
        if (count > 0) {
            if (bits == 8) {
                hand(count, [value](std::uint64_t) { return value; });
            } else {
                hand(count, [value](std::uint64_t k) {
                    return static_cast<std::uint8_t>(k % 2 == 0 ? value >> 4 : value & 0x0F);
                });
            }
            continue;
        }
        switch (value) {
        case 0: // end of line
            ++at.row;
            at.x = 0;
            break;
        case 1: // end of bitmap
            if (data.size() - i <= kPaddingAfterEnd) {
                at.whole = true;
                return at;
            }
            at.pastEndCode = true;
            break;
        case 2: // delta: columns right, rows on
            if (data.size() - i < 2) {
                return at;
            }
            at.x += data[i];
            at.row += data[i + 1];
            i += 2;
            break;
        default: { // absolute: `value` pixels stored as they are, padded to a 16-bit word
            const std::size_t stored = bits == 8 ? value : (std::size_t{value} + 1) / 2;
            const std::size_t present = std::min(stored, data.size() - i);
            const auto pixels = data.subspan(i, present);
            if (bits == 8) {
                hand(present, [pixels](std::uint64_t k) { return pixels[k]; });
            } else {
                hand(std::min<std::uint64_t>(value, present * 2), [pixels](std::uint64_t k) {
                    const std::uint8_t pair = pixels[k / 2];
                    return static_cast<std::uint8_t>(k % 2 == 0 ? pair >> 4 : pair & 0x0F);
                });
            }
            if (present < stored) {
                return at;
            }
            i = std::min(data.size(), i + stored + stored % 2);
            break;
        }
        }
    }
    at.whole = true;
    return at;
}

} // namespace

RleExtent rleExtent(std::span<const std::uint8_t> data, int bitsPerPixel, std::uint64_t width,
                    std::uint64_t height) {
    RleExtent extent;
    walk(data, bitsPerPixel, width, height,
         [&extent](std::uint64_t row, std::uint64_t x, std::uint64_t count, auto) {
             extent.width = std::max(extent.width, x + count);
             extent.rows = row + 1;
         });
    return extent;
}

RleOutcome paintRle(std::span<const std::uint8_t> data, int bitsPerPixel,
                    const std::array<QRgb, 256>& palette, bool bottomUp, QImage& canvas) {
    const auto width = static_cast<std::uint64_t>(canvas.width());
    const auto height = static_cast<std::uint64_t>(canvas.height());
    auto lineOf = [&](std::uint64_t row) {
        const auto y = static_cast<int>(bottomUp ? height - 1 - row : row);
        return reinterpret_cast<QRgb*>(canvas.scanLine(y));
    };
    // Indexes past the file's palette are black, not transparent.
    std::array<QRgb, 256> opaque{};
    std::transform(palette.begin(), palette.end(), opaque.begin(),
                   [](QRgb colour) { return colour | 0xFF000000u; });
    canvas.fill(opaque[0]);
    const Position end =
        walk(data, bitsPerPixel, width, height,
             [&](std::uint64_t row, std::uint64_t x, std::uint64_t count, auto indexOf) {
                 QRgb* line = lineOf(row) + x;
                 for (std::uint64_t k = 0; k < count; ++k) {
                     line[k] = opaque[indexOf(k)];
                 }
             });
    RleOutcome outcome{end.whole, end.pastEndCode, std::min(end.row, height)};
    if (!end.whole) {
        QRgb* line = lineOf(end.row);
        std::fill(line + std::min(end.x, width), line + width, kMissingPixel);
        for (std::uint64_t row = end.row + 1; row < height; ++row) {
            std::fill(lineOf(row), lineOf(row) + width, kMissingPixel);
        }
    }
    return outcome;
}

} // namespace zerbrak::decoding
