#pragma once

#include <QImage>
#include <array>
#include <cstdint>
#include <span>

// Run-length encoded BMP pixel data, 8 or 4 bits a pixel.
namespace zerbrak::decoding {

// A run of two bytes gives at most 255 pixels, about 128 a byte. A declared size past eight
// times that is damage: the runs could fill too little of it to be worth a canvas.
inline constexpr std::uint64_t kRlePixelsPerByte = 1024;

// How far the runs of a picture of the declared size reach: columns, and stored rows
// counted from the first stored (for bottom-up files the bottom) row.
struct RleExtent {
    std::uint64_t width = 0;
    std::uint64_t rows = 0;
};

RleExtent rleExtent(std::span<const std::uint8_t> data, int bitsPerPixel, std::uint64_t width,
                    std::uint64_t height);

// Where the data left the picture: whole (an end-of-bitmap code, or every row reached), or
// cut short after `rowsDone` complete stored rows. `pastEndCode` tells of an end-of-bitmap
// code with more runs behind it, which damage made of a run: decoding went on after it.
struct RleOutcome {
    bool whole = false;
    bool pastEndCode = false;
    std::uint64_t rowsDone = 0;
};

// Paints the runs into the canvas, which may be smaller than the declared size: stored rows
// and columns past its edges are dropped. Pixels the data skips (end of line, delta, end of
// bitmap) take the first palette colour, as background; those after the data ran out take
// the missing-pixel grey.
RleOutcome paintRle(std::span<const std::uint8_t> data, int bitsPerPixel,
                    const std::array<QRgb, 256>& palette, bool bottomUp, QImage& canvas);

} // namespace zerbrak::decoding
