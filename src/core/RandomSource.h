#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace zerbrak {

// The one random source the corruption modes draw from: xoshiro128** (Blackman and Vigna),
// its state filled from the seed by SplitMix64. The sequence for a seed is fixed by this code
// alone, so a seed reproduces a series on every platform and compiler, and draws cover
// 0 .. 2^31-1 (a C library rand() may stop at 32767, which would keep the strike inside the
// first 32 KiB of a file). Cheap enough for a draw at every byte of a large file.
class RandomSource {
public:
    static constexpr std::uint32_t maxDraw = 0x7fffffffU;

    explicit RandomSource(std::uint32_t seed = 1) { reseed(seed); }

    void reseed(std::uint32_t seed) {
        std::uint64_t mix = seed;
        for (std::size_t i = 0; i < state_.size(); i += 2) {
            const std::uint64_t word = splitMix64(mix);
            state_[i] = static_cast<std::uint32_t>(word);
            state_[i + 1] = static_cast<std::uint32_t>(word >> 32U);
        }
    }

    // Next draw, uniform in 0 .. maxDraw.
    std::uint32_t draw() {
        const std::uint32_t result = std::rotl(state_[1] * 5U, 7) * 9U;
        const std::uint32_t shifted = state_[1] << 9U;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= shifted;
        state_[3] = std::rotl(state_[3], 11);
        return result >> 1U;
    }

private:
    static std::uint64_t splitMix64(std::uint64_t& x) {
        x += 0x9e3779b97f4a7c15ULL;
        std::uint64_t z = x;
        z = (z ^ (z >> 30U)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27U)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31U);
    }

    // Never all zero: SplitMix64 gives no two zero words in a row.
    std::array<std::uint32_t, 4> state_{};
};

} // namespace zerbrak
