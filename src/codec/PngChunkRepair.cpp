#include "PngChunkRepair.h"

#include <algorithm>
#include <array>
#include <zlib.h>

namespace zerbrak::decoding {
namespace {

using Type = std::array<std::uint8_t, 4>;
constexpr Type kHeader{'I', 'H', 'D', 'R'};
constexpr Type kData{'I', 'D', 'A', 'T'};
constexpr Type kEnd{'I', 'E', 'N', 'D'};
// Ancillary, private and safe to copy: a reader that does not know it passes over it.
constexpr Type kSkipped{'s', 'k', 'I', 'p'};
constexpr std::size_t kHeaderData = 13;
// Length, type and checksum around a chunk's data.
constexpr std::size_t kFrame = 12;

std::uint32_t bigEndian(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24U) | (std::uint32_t{bytes[at + 1]} << 16U) |
           (std::uint32_t{bytes[at + 2]} << 8U) | bytes[at + 3];
}

void putBigEndian(std::span<std::uint8_t> bytes, std::size_t at, std::uint64_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (24U - 8U * i));
    }
}

Type typeAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return {bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]};
}

bool letters(const Type& type) {
    return std::all_of(type.begin(), type.end(), [](std::uint8_t c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
}

bool oneOff(const Type& type, const Type& name) {
    int differ = 0;
    for (std::size_t i = 0; i < type.size(); ++i) {
        differ += type[i] != name[i] ? 1 : 0;
    }
    return differ == 1;
}

std::uint32_t checksum(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

// One struck byte among IHDR's name and data is found by trying every value at every place
// against the chunk's checksum; a struck checksum leaves nothing to mend.
bool mendHeader(std::span<std::uint8_t> chunk) {
    const auto covered = chunk.subspan(4, 4 + kHeaderData);
    const std::uint32_t stored = bigEndian(chunk, 8 + kHeaderData);
    if (checksum(covered) == stored) {
        return false;
    }
    for (std::uint8_t& byte : covered) {
        const std::uint8_t was = byte;
        for (int value = 0; value < 256; ++value) {
            byte = static_cast<std::uint8_t>(value);
            if (value != was && checksum(covered) == stored) {
                return true;
            }
        }
        byte = was;
    }
    return false;
}

// Where the chunk after the one at `at` must start: the next IDAT or IEND past its type.
std::optional<std::size_t> nextLandmark(std::span<const std::uint8_t> bytes, std::size_t at) {
    for (std::size_t p = at + 16; p + 4 <= bytes.size(); ++p) {
        const Type type = typeAt(bytes, p);
        if (type == kData || type == kEnd) {
            return p - 4;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<std::uint8_t>> repairPngChunks(std::span<const std::uint8_t> chunks) {
    std::vector<std::uint8_t> out(chunks.begin(), chunks.end());
    bool changed = false;
    std::size_t at = 0;
    if (out.size() >= kFrame + kHeaderData &&
        (typeAt(out, 4) == kHeader || oneOff(typeAt(out, 4), kHeader))) {
        if (bigEndian(out, 0) != kHeaderData) {
            putBigEndian(out, 0, kHeaderData);
            changed = true;
        }
        changed = mendHeader(std::span(out).first(kFrame + kHeaderData)) || changed;
        at = kFrame + kHeaderData;
    }
    while (at + kFrame <= out.size()) {
        Type type = typeAt(out, at + 4);
        if (type == kEnd) {
            break;
        }
        if (oneOff(type, kData)) {
            std::copy(kData.begin(), kData.end(),
                      out.begin() + static_cast<std::ptrdiff_t>(at + 4));
            type = kData;
            changed = true;
        }
        const std::uint64_t end = std::uint64_t{at} + kFrame + bigEndian(out, at);
        const bool fits = end <= out.size();
        const bool followed = fits && (end + 8 > out.size() || letters(typeAt(out, end + 4)) ||
                                       oneOff(typeAt(out, end + 4), kData));
        if (followed) {
            if (!letters(type)) {
                // Its length holds, so it was some other chunk: libpng skips an unknown
                // ancillary one where it refuses a name that is no name.
                std::copy(kSkipped.begin(), kSkipped.end(),
                          out.begin() + static_cast<std::ptrdiff_t>(at + 4));
                changed = true;
            }
            at = static_cast<std::size_t>(end);
            continue;
        }
        const std::size_t next = nextLandmark(out, at).value_or(out.size());
        putBigEndian(out, at, next - at - kFrame);
        if (!letters(type)) {
            std::copy(kData.begin(), kData.end(),
                      out.begin() + static_cast<std::ptrdiff_t>(at + 4));
        }
        changed = true;
        at = next;
    }
    if (!changed) {
        return std::nullopt;
    }
    return out;
}

} // namespace zerbrak::decoding
