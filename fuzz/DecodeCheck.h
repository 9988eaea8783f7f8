#pragma once

#include "Finding.h"
#include "codec/Decode.h"

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <span>

// What the decoding fuzz targets share: the bounds a fuzzed decode runs under and what every
// result must hold to.
namespace zerbrak::fuzz {

// Small enough that a declared size the fuzzer invents is refused at the header instead of
// allocated; the readers' own bounds are what is being exercised, not the allocator.
inline constexpr DecodeLimits decodeLimits{.maxPixelBytes = 4ULL << 20, .maxFileBytes = 1ULL << 20};

inline std::span<const std::uint8_t> bytesOf(const std::uint8_t* data, std::size_t size) {
    return {data, size};
}

// What every decode promises its caller, whole, partial or failed: a 32-bit picture within the
// limits, and a reason whenever the picture is not whole.
inline void checkDecodeResult(const DecodeResult& result, const DecodeLimits& limits) {
    if (!result.isValid()) {
        if (result.message.isEmpty()) {
            fail("an undecodable result without a reason");
        }
        return;
    }
    const QImage::Format format = result.image.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32) {
        fail("a picture neither RGB32 nor ARGB32");
    }
    const auto pixels = static_cast<std::uint64_t>(result.image.width()) *
                        static_cast<std::uint64_t>(result.image.height());
    if (pixels * 4 > limits.maxPixelBytes) {
        fail("a picture larger than the limits allow");
    }
    if (result.partial && result.message.isEmpty()) {
        fail("a partial picture without a reason");
    }
}

} // namespace zerbrak::fuzz
