#pragma once

#include <string_view>

namespace zerbrak {

enum class CorruptionMode {
    LineBreakRewrite,  // "bmp": line-break bytes become CR LF after the header guard
    SingleByteStrike,  // "png": one random byte anywhere
    ReplaceAndScatter, // everything else
};

// Bytes 0..39 of every file are left alone by the two walking modes.
inline constexpr std::size_t headerGuard = 40;

// Exact, case-sensitive: "BMP" and "PNG" fall through to replace-and-scatter.
constexpr CorruptionMode chooseMode(std::string_view endFormat) {
    if (endFormat == "bmp") {
        return CorruptionMode::LineBreakRewrite;
    }
    if (endFormat == "png") {
        return CorruptionMode::SingleByteStrike;
    }
    return CorruptionMode::ReplaceAndScatter;
}

} // namespace zerbrak
