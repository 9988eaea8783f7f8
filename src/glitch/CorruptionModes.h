#pragma once

#include "CorruptionMode.h"
#include "RandomSource.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zerbrak {

// Parameters of one pass, read once from the controls (or the command line).
struct GlitchParams {
    std::uint8_t fromByte = 0; // low 8 bits of the from field
    std::uint8_t toByte = 0;   // low 8 bits of the to field
    bool replace = false;
    std::int32_t chance = 50; // 0..100; candidates every (100 - chance) bytes, odds 1 in chance+1
};

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
