#include "CorruptionModes.h"

namespace zerbrak {

void singleByteStrike(std::span<std::uint8_t> buffer, RandomSource& random) {
    if (buffer.empty()) {
        return;
    }
    const std::uint64_t position = random.draw() % static_cast<std::uint64_t>(buffer.size());
    const auto value = static_cast<std::uint8_t>(random.draw() & 0xFFU);
    buffer[position] = value;
}

} // namespace zerbrak
