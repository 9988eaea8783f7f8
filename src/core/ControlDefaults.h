#pragma once

#include <cstdint>
#include <string_view>

namespace zerbrak::defaults {

// The window's controls start with these values and zerbrak-cli uses them when an option is
// left out, so a pass from either front end means the same thing.
inline constexpr std::int64_t seed = 1;
inline constexpr std::int64_t fromByte = 0;
inline constexpr std::int64_t toByte = 0;
inline constexpr bool replace = false;
inline constexpr std::int32_t chance = 50; // a light scatter: most frames still decode
inline constexpr std::int64_t numFrames = 5;

} // namespace zerbrak::defaults
