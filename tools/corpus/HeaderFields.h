#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corpus {

// A number in a file's header that a decoder trusts: where it is, how wide, which byte order.
struct HeaderField {
    std::string name;
    std::size_t offset = 0;
    int width = 4; // bytes
    bool bigEndian = false;
    // A checksum over the field's chunk, kept right when the field changes (PNG's IHDR), so the
    // decoder meets the value rather than a checksum error; crcLength 0 when there is none.
    std::size_t crcStart = 0;
    std::size_t crcLength = 0;
};

// The fields found in `bytes` of the `target` format (an extension); the walk stops at the first
// structure that does not parse, so a file of another shape gives fewer fields.
std::vector<HeaderField> headerFields(std::string_view target, std::span<const std::uint8_t> bytes);

// Stores `value`, cut to the field's width, and mends its checksum.
void setField(std::span<std::uint8_t> bytes, const HeaderField& field, std::uint32_t value);

} // namespace corpus
