#pragma once

#include "Decode.h"

#include <cstdint>
#include <optional>
#include <span>

// One lenient reader per container. Each keeps whatever part of the picture it decoded
// before the damage stopped it and never reads outside `bytes`.
namespace zerbrak::decoding {

DecodeResult decodePng(std::span<const std::uint8_t> bytes, const DecodeLimits& limits);
DecodeResult decodeJpeg(std::span<const std::uint8_t> bytes, const DecodeLimits& limits);
DecodeResult decodeTiff(std::span<const std::uint8_t> bytes, const DecodeLimits& limits);
DecodeResult decodeGif(std::span<const std::uint8_t> bytes, const DecodeLimits& limits);
DecodeResult decodeJpeg2000(std::span<const std::uint8_t> bytes, const DecodeLimits& limits);

// Nothing when the file uses a BMP variant this reader leaves to Qt (embedded JPEG or PNG).
std::optional<DecodeResult> decodeBmp(std::span<const std::uint8_t> bytes,
                                      const DecodeLimits& limits);

DecodeResult decodeWithQt(std::span<const std::uint8_t> bytes, const DecodeLimits& limits);

} // namespace zerbrak::decoding
