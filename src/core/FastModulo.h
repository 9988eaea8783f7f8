#pragma once

#include <cstdint>

namespace zerbrak {

// Remainder by a divisor fixed for a whole walk, without a division per draw
// (Lemire, Kaser and Kurz, "Faster remainder by direct computation", 2019).
// Exact for every 32-bit dividend and every divisor from 1 on.
class FastModulo {
public:
    explicit constexpr FastModulo(std::uint32_t divisor)
        : divisor_(divisor), magic_(UINT64_MAX / divisor + 1) {}

    constexpr std::uint32_t operator()(std::uint32_t dividend) const {
        __extension__ using u128 = unsigned __int128;
        const std::uint64_t lowBits = magic_ * dividend;
        return static_cast<std::uint32_t>((static_cast<u128>(lowBits) * divisor_) >> 64U);
    }

    // dividend % divisor == 0, with one multiplication.
    constexpr bool divides(std::uint32_t dividend) const {
        return magic_ * dividend <= magic_ - 1U;
    }

private:
    std::uint64_t divisor_;
    std::uint64_t magic_;
};

} // namespace zerbrak
