#pragma once

#include "ControlDefaults.h"
#include "RandomSource.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

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

// Parameters of one pass, read once from the controls (or the command line).
struct GlitchParams {
    std::uint8_t fromByte = 0; // low 8 bits of the from field
    std::uint8_t toByte = 0;   // low 8 bits of the to field
    bool replace = false;
    std::int32_t chance =
        defaults::chance; // 0..100; candidates every (100 - chance) bytes, odds 1 in chance+1
};

// How densely replace-and-scatter strikes at `chance`: a candidate every 100 - chance bytes,
// each struck one time in chance + 1, so about one byte in (100 - chance)(chance + 1). The
// heaviest damage is at 0 and 99 (one in 100), the lightest at 50 (one in 2,550); 0 means
// nothing is struck (chance 100).
constexpr std::uint32_t scatterInterval(std::int32_t chance) {
    if (chance < 0 || chance >= 100) {
        return 0;
    }
    return static_cast<std::uint32_t>((100 - chance) * (chance + 1));
}

// Length the line-break rewrite gives for this input, so the caller can size the output exactly.
std::size_t lineBreakRewriteLength(std::span<const std::uint8_t> input);

// Writes the rewrite of `input` into `output`, which must hold lineBreakRewriteLength(input)
// bytes, and returns that length. Inputs shorter than the header guard come back unchanged.
std::size_t lineBreakRewrite(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

// Two draws (position, then value) and one byte stored. An empty buffer is left as it is
// and draws nothing.
void singleByteStrike(std::span<std::uint8_t> buffer, RandomSource& random);

// Damages `bytes` by `mode` and returns the result: the same buffer for the in-place modes,
// a new, exactly sized one for the line-break rewrite, which grows.
std::vector<std::uint8_t> applyMode(CorruptionMode mode, std::vector<std::uint8_t> bytes,
                                    const GlitchParams& params, RandomSource& random);

// In place. Draws once per candidate position and once more per struck byte, in position
// order. `params.chance` must lie in 0..100.
void replaceAndScatter(std::span<std::uint8_t> buffer, const GlitchParams& params,
                       RandomSource& random);

} // namespace zerbrak
