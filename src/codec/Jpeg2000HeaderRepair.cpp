#include "Jpeg2000HeaderRepair.h"

#include <algorithm>
#include <array>

namespace zerbrak::decoding {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Offsets inside SIZ, from its marker on.
constexpr std::size_t kLength = 2;
constexpr std::size_t kWidthEnd = 6;
constexpr std::size_t kHeightEnd = 10;
constexpr std::size_t kLeft = 14;
constexpr std::size_t kTop = 18;
constexpr std::size_t kTileWidth = 22;
constexpr std::size_t kTileHeight = 26;
constexpr std::size_t kTileLeft = 30;
constexpr std::size_t kTileTop = 34;
constexpr std::size_t kComponents = 38;
constexpr std::size_t kFirstComponent = 40;
constexpr std::size_t kFixedLength = 38;
constexpr std::uint32_t kMostComponents = 4; // what the decoder draws

struct ImageHeader {
    std::uint32_t height = 0;
    std::uint32_t width = 0;
    std::uint32_t components = 0;
    std::uint8_t depth = 0xFF; // 0xFF: the depths differ by component
};

std::uint32_t get(const Bytes& bytes, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = (value << 8U) | bytes[at + i];
    }
    return value;
}

bool put(Bytes& bytes, std::size_t at, std::size_t size, std::uint32_t value) {
    if (get(bytes, at, size) == value) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8U * (size - 1 - i)));
    }
    return true;
}

std::size_t find(const Bytes& bytes, std::span<const std::uint8_t> what, std::size_t limit) {
    const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(limit, bytes.size()));
    return static_cast<std::size_t>(std::search(bytes.begin(), end, what.begin(), what.end()) -
                                    bytes.begin());
}

// The JP2 image header box, which comes before the codestream.
std::optional<ImageHeader> imageHeader(const Bytes& bytes, std::size_t codestream) {
    constexpr std::array<std::uint8_t, 4> name{'i', 'h', 'd', 'r'};
    const std::size_t at = find(bytes, name, codestream);
    if (at + 4 + 11 > codestream) {
        return std::nullopt;
    }
    ImageHeader header{get(bytes, at + 4, 4), get(bytes, at + 8, 4), get(bytes, at + 12, 2),
                       bytes[at + 14]};
    if (header.width == 0 || header.height == 0 || header.components == 0 ||
        header.components > kMostComponents) {
        return std::nullopt;
    }
    return header;
}

// One axis: the picture's extent from its offset, and a tile grid that covers it.
bool mendAxis(Bytes& bytes, std::size_t siz, std::size_t end, std::size_t origin, std::size_t tile,
              std::size_t tileOrigin, std::uint32_t extent) {
    bool changed = false;
    std::uint32_t first = get(bytes, siz + origin, 4);
    if (extent > 0 && get(bytes, siz + end, 4) - first != extent) {
        if (first > UINT32_MAX - extent || get(bytes, siz + end, 4) == extent) {
            changed |= put(bytes, siz + origin, 4, 0);
            first = 0;
        }
        changed |= put(bytes, siz + end, 4, first + extent);
    }
    const std::uint32_t last = get(bytes, siz + end, 4);
    if (get(bytes, siz + tileOrigin, 4) > first) {
        changed |= put(bytes, siz + tileOrigin, 4, 0);
    }
    if (get(bytes, siz + tile, 4) == 0 ||
        std::uint64_t{get(bytes, siz + tileOrigin, 4)} + get(bytes, siz + tile, 4) <= first) {
        changed |= put(bytes, siz + tile, 4, last);
    }
    return changed;
}

std::uint64_t tilesAlong(const Bytes& bytes, std::size_t siz, std::size_t end, std::size_t tile,
                         std::size_t tileOrigin) {
    const std::uint64_t last = get(bytes, siz + end, 4);
    const std::uint64_t first = get(bytes, siz + tileOrigin, 4);
    const std::uint64_t size = std::max<std::uint32_t>(get(bytes, siz + tile, 4), 1);
    return last > first ? (last - first + size - 1) / size : 1;
}

// Tile-part headers: the marker's own length is always 10, the tile index one of the tiles
// SIZ declares (else the one after the last tile-part's), and the tile-part's length reaches
// the next tile-part, or for the last one no further than the file (0: to its end). Packet
// data never holds 0xFF followed by a byte above 0x8F, so every SOT marker found is one.
bool mendTileParts(Bytes& bytes, std::size_t from, std::uint64_t tiles) {
    std::uint64_t nextTile = 0;
    constexpr std::array<std::uint8_t, 2> sot{0xFF, 0x90};
    constexpr std::uint32_t kSotLength = 10;
    bool changed = false;
    std::size_t at = from;
    for (;;) {
        at = static_cast<std::size_t>(std::search(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                  bytes.end(), sot.begin(), sot.end()) -
                                      bytes.begin());
        if (at + 2 + kSotLength > bytes.size()) {
            return changed;
        }
        changed |= put(bytes, at + 2, 2, kSotLength);
        if (get(bytes, at + 4, 2) >= tiles) {
            changed |= put(bytes, at + 4, 2,
                           static_cast<std::uint32_t>(std::min(nextTile, tiles - 1) & 0xFFFFU));
        }
        nextTile = get(bytes, at + 4, 2) + std::uint64_t{1};
        const std::size_t next = static_cast<std::size_t>(
            std::search(bytes.begin() + static_cast<std::ptrdiff_t>(at + 2), bytes.end(),
                        sot.begin(), sot.end()) -
            bytes.begin());
        const std::uint64_t length = get(bytes, at + 6, 4);
        if (next < bytes.size()) {
            changed |= put(bytes, at + 6, 4, static_cast<std::uint32_t>(next - at));
        } else if (at + length > bytes.size()) {
            changed |= put(bytes, at + 6, 4, 0);
        }
        at = next;
    }
}

} // namespace

std::optional<std::vector<std::uint8_t>> repairJpeg2000Header(std::span<const std::uint8_t> bytes) {
    Bytes out(bytes.begin(), bytes.end());
    constexpr std::array<std::uint8_t, 4> socSiz{0xFF, 0x4F, 0xFF, 0x51};
    const std::size_t start = find(out, socSiz, out.size());
    const std::size_t siz = start + 2;
    if (siz + kFirstComponent > out.size()) {
        return std::nullopt;
    }
    const auto header = imageHeader(out, start);
    std::uint32_t components = get(out, siz + kComponents, 2);
    if (header) {
        components = header->components;
    } else if (components == 0 || components > kMostComponents) {
        const std::uint32_t length = get(out, siz + kLength, 2);
        if (length <= kFixedLength || (length - kFixedLength) % 3 != 0) {
            return std::nullopt;
        }
        components = static_cast<std::uint32_t>((length - kFixedLength) / 3);
    }
    if (components == 0 || components > kMostComponents ||
        siz + kFirstComponent + 3 * std::size_t{components} > out.size()) {
        return std::nullopt;
    }
    bool changed = put(out, siz + kComponents, 2, components);
    changed |=
        put(out, siz + kLength, 2, static_cast<std::uint32_t>(kFixedLength + 3 * components));
    changed |=
        mendAxis(out, siz, kWidthEnd, kLeft, kTileWidth, kTileLeft, header ? header->width : 0);
    changed |=
        mendAxis(out, siz, kHeightEnd, kTop, kTileHeight, kTileTop, header ? header->height : 0);
    for (std::size_t c = 0; c < components; ++c) {
        const std::size_t at = siz + kFirstComponent + 3 * c;
        if (header && header->depth != 0xFF) {
            changed |= put(out, at, 1, header->depth);
        } else if ((out[at] & 0x7FU) >= 38) {
            changed |= put(out, at, 1, 7); // eight bits unsigned, the commonest
        }
        for (std::size_t step = 1; step <= 2; ++step) {
            if (out[at + step] == 0) {
                changed |= put(out, at + step, 1, 1);
            }
        }
    }
    const std::uint64_t tiles = tilesAlong(out, siz, kWidthEnd, kTileWidth, kTileLeft) *
                                tilesAlong(out, siz, kHeightEnd, kTileHeight, kTileTop);
    changed |= mendTileParts(out, siz, tiles);
    if (!changed) {
        return std::nullopt;
    }
    return out;
}

} // namespace zerbrak::decoding
