#pragma once

#include "core/CorruptionModes.h"
#include "core/RandomSource.h"

#include <cstdint>
#include <vector>

// The three corruption modes written the obvious way, one byte at a time with plain remainders,
// for the unit tests and the differential fuzz target to hold the fast ones against.
namespace zerbrak {

std::vector<std::uint8_t> referenceMode(CorruptionMode mode, std::vector<std::uint8_t> bytes,
                                        const GlitchParams& params, RandomSource& random);

} // namespace zerbrak
