#pragma once

#include "DecodeResult.h"

#include <QString>
#include <cstdint>
#include <span>

namespace zerbrak {

// The container a file's bytes claim to be. Damaged files keep their first bytes more often
// than not, so the magic number is a better guide than a name that was never damaged.
enum class ImageFormat { Unknown, Png, Jpeg, Tiff, Gif, Bmp, Jpeg2000 };

ImageFormat sniffFormat(std::span<const std::uint8_t> bytes);

// A damaged header can declare any size at all; these bound what a decode may allocate.
struct DecodeLimits {
    // Largest width * height * 4 accepted; larger declarations are refused before allocating.
    // 128 Mi pixels: a 100-megapixel camera picture (12000 x 8000) passes with room to spare.
    std::uint64_t maxPixelBytes = 512ULL << 20;
    // Largest file read at all. Twice the pixel limit holds any picture within it, stored
    // uncompressed at 16 bits a sample with alpha; a larger file could only be refused later.
    std::uint64_t maxFileBytes = 1ULL << 30;
};

// Why `size` bytes of a file are not decoded at all: "The file is N MiB, larger than any
// picture this program will decode (M MiB)."; empty when they are within the limit.
QString sizeRefusal(std::uint64_t size, const DecodeLimits& limits = {});

// Decodes leniently: what the format's reader could make of the bytes comes back, with
// `partial` set when it had to stop early or skip damage. Unknown formats go through Qt.
// Running out of memory is an undecodable result, never an exception.
DecodeResult decodeImageBytes(std::span<const std::uint8_t> bytes, const DecodeLimits& limits = {});

// Reads the file at `path` and decodes its bytes as decodeImageBytes does. Only regular
// files no larger than the limits allow are read: a device or pipe could feed bytes forever.
DecodeResult decodeImageFile(const QString& path, const DecodeLimits& limits = {});

} // namespace zerbrak
