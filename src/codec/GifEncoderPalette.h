#pragma once

#include <QImage>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace zerbrak::encoders {

// A picture reduced to at most 256 colours, ready for a GIF image block.
struct IndexedPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices; // row after row, width bytes each
    std::vector<std::array<std::uint8_t, 3>> palette;
    int transparentIndex = -1; // -1: every pixel is opaque
    QString error;
};

// Picks the palette and dithers the picture onto it. GIF knows only fully transparent or
// opaque, so alpha 0 becomes the transparent index and any other alpha counts as opaque.
IndexedPicture quantizeForGif(const QImage& image);

} // namespace zerbrak::encoders
