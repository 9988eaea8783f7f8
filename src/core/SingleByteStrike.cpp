#include "CorruptionModes.h"

namespace zerbrak {

std::optional<Strike> drawStrike(std::uint64_t size, RandomSource& random) {
    if (size == 0) {
        return std::nullopt;
    }
    const std::uint64_t position = random.draw() % size;
    const auto value = static_cast<std::uint8_t>(random.draw() & 0xFFU);
    return Strike{position, value};
}

void singleByteStrike(std::span<std::uint8_t> buffer, RandomSource& random) {
    if (const std::optional<Strike> strike = drawStrike(buffer.size(), random)) {
        buffer[strike->position] = strike->value;
    }
}

} // namespace zerbrak
