#pragma once

#include "core/RandomSource.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes from the program's own random source: the same for a seed on every machine.
inline std::vector<std::uint8_t> randomBytes(std::size_t size, std::uint32_t seed) {
    zerbrak::RandomSource random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random.draw() & 0xFFU);
    }
    return bytes;
}
