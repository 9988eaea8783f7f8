#pragma once

#include <cstdint>

namespace zerbrak {

// The one random source the corruption modes draw from. A SplitMix64 stream: its sequence
// for a seed is fixed by this code alone, so a seed reproduces a series on every platform
// and compiler, and draws cover 0 .. 2^31-1 (a C library rand() may stop at 32767, which
// would keep the strike inside the first 32 KiB of a file).
class RandomSource {
public:
    static constexpr std::uint32_t maxDraw = 0x7fffffffU;

    explicit RandomSource(std::uint32_t seed = 1) { reseed(seed); }

    void reseed(std::uint32_t seed) { state_ = seed; }

    // Next draw, uniform in 0 .. maxDraw.
    std::uint32_t draw() {
        state_ += 0x9e3779b97f4a7c15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30U)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27U)) * 0x94d049bb133111ebULL;
        z ^= z >> 31U;
        return static_cast<std::uint32_t>(z >> 33U);
    }

private:
    std::uint64_t state_ = 0;
};

} // namespace zerbrak
