#pragma once

#include <cstdint>
#include <string_view>

namespace zerbrak {

// A text field's number as a desktop text field reads it: leading blanks skipped, an optional
// sign, then decimal digits up to the first other character; 0 when no digit comes first.
// Values beyond the 64-bit range stop at its ends.
std::int64_t integerValue(std::string_view text);

// The widths the program uses of a field's number.
constexpr std::uint32_t low32(std::int64_t value) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) & 0xffffffffU);
}
constexpr std::uint8_t low8(std::int64_t value) {
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) & 0xffU);
}
constexpr std::int32_t low32Signed(std::int64_t value) {
    return static_cast<std::int32_t>(low32(value));
}

// Text after the last dot of the last path component, case kept; empty when there is none.
std::string_view pathExtension(std::string_view path);

} // namespace zerbrak
