#pragma once

#include "ControlDefaults.h"
#include "FastModulo.h"
#include "RandomSource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
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

// Where the single-byte strike lands in `size` bytes and what it stores there.
struct Strike {
    std::uint64_t position = 0;
    std::uint8_t value = 0;
};

// Two draws, position then value; nothing drawn for an empty file.
std::optional<Strike> drawStrike(std::uint64_t size, RandomSource& random);

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

// The line-break rewrite of a file that arrives in consecutive pieces of any size: the
// concatenated outputs equal lineBreakRewrite of the whole. Every byte is rewritten on its own,
// so only the position decides anything, through the header guard.
class LineBreakStream {
public:
    // Room `rewrite` needs for a piece of `size` bytes: every byte becomes at most two.
    static constexpr std::size_t maxOutput(std::size_t size) { return 2 * size; }

    // Writes the rewrite of the next piece into `output` (at least maxOutput(piece.size())
    // bytes) and returns how many bytes it wrote.
    std::size_t rewrite(std::span<const std::uint8_t> piece, std::span<std::uint8_t> output);

private:
    std::uint64_t offset_ = 0;
};

// Replace-and-scatter over a file that arrives in consecutive pieces of any size: the pieces
// end up as replaceAndScatter would leave the whole, with the same draws in the same order.
class ScatterWalk {
public:
    // `params.chance` must lie in 0..100.
    explicit ScatterWalk(const GlitchParams& params);

    // Damages the next piece in place.
    void damage(std::span<std::uint8_t> piece, RandomSource& random);

private:
    GlitchParams params_;
    std::uint32_t spacing_;
    FastModulo odds_;
    std::uint64_t offset_ = 0;
    std::uint64_t nextCandidate_; // the first candidate position not yet visited
};

} // namespace zerbrak
