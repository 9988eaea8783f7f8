#include "JpegSegmentRepair.h"

#include <algorithm>
#include <array>

namespace zerbrak::decoding {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kBaseline = 0xC0;
constexpr std::uint8_t kProgressive = 0xC2;
constexpr std::uint8_t kHuffman = 0xC4;
constexpr std::uint8_t kScan = 0xDA;
constexpr std::uint8_t kQuantisation = 0xDB;
constexpr std::uint8_t kComment = 0xFE;
constexpr std::uint8_t kLargestDcSymbol = 15;

std::size_t lengthAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::size_t{bytes[at]} << 8U) | bytes[at + 1];
}

// Marker codes that cannot begin a header segment: those libjpeg refuses as "unsupported
// marker type", and those that carry no segment at all (restarts, start and end of image),
// after which libjpeg would skip the segment's content as stray bytes.
bool unknownMarker(std::uint8_t code) {
    return code < 0xC0 || (code >= 0xD0 && code <= 0xD9) || (code >= 0xF0 && code <= 0xFD);
}

enum class TableState { Good, SymbolsWrong, Broken };

// The checks libjpeg makes of a Huffman table segment, in its reading and in its building of
// the decoding tables: counts within 256 and the segment, a class and slot in range, codes of
// each length that fit in it, DC symbols below 16.
TableState checkTables(std::span<const std::uint8_t> body) {
    TableState state = TableState::Good;
    std::size_t at = 0;
    while (body.size() - at > 16) {
        const std::uint8_t slot = body[at];
        std::size_t total = 0;
        std::uint32_t code = 0;
        bool fits = true;
        for (std::size_t length = 1; length <= 16; ++length) {
            total += body[at + length];
            code += body[at + length];
            fits = fits && code < (std::uint32_t{1} << length);
            code <<= 1U;
        }
        at += 17;
        if (total > 256 || total > body.size() - at || (slot & 0x0FU) > 3 || (slot >> 4U) > 1 ||
            !fits) {
            return TableState::Broken;
        }
        const auto symbols = body.subspan(at, total);
        if ((slot >> 4U) == 0 &&
            std::any_of(symbols.begin(), symbols.end(),
                        [](std::uint8_t symbol) { return symbol > kLargestDcSymbol; })) {
            state = TableState::SymbolsWrong;
        }
        at += total;
    }
    return at == body.size() ? state : TableState::Broken;
}

// The segment with every DC symbol out of range brought into it; only the codes of the
// struck symbols then decode wrongly.
Bytes clampedSymbols(std::span<const std::uint8_t> segment) {
    Bytes out(segment.begin(), segment.end());
    std::size_t at = 4;
    while (out.size() - at > 16) {
        const bool dc = (out[at] >> 4U) == 0;
        std::size_t total = 0;
        for (std::size_t length = 1; length <= 16; ++length) {
            total += out[at + length];
        }
        at += 17;
        for (std::size_t i = at; dc && i < at + total; ++i) {
            out[i] = std::min(out[i], kLargestDcSymbol);
        }
        at += total;
    }
    return out;
}

// A complete table for the slot: every code of one length, all symbols in order. It decodes
// nothing as the lost table did, but it decodes.
Bytes madeUpTable(std::uint8_t slot) {
    const bool dc = (slot >> 4U) == 0;
    const std::size_t length = dc ? 4 : 8;
    const std::size_t count = dc ? kLargestDcSymbol : 255;
    Bytes out{kMarker, kHuffman, 0, 0, slot};
    for (std::size_t l = 1; l <= 16; ++l) {
        out.push_back(l == length ? static_cast<std::uint8_t>(count) : 0);
    }
    for (std::size_t symbol = 0; symbol < count; ++symbol) {
        out.push_back(static_cast<std::uint8_t>(symbol));
    }
    out[2] = static_cast<std::uint8_t>((out.size() - 2) >> 8U);
    out[3] = static_cast<std::uint8_t>(out.size() - 2);
    return out;
}

bool readsAsQuantisation(std::span<const std::uint8_t> body) {
    if (body.empty() || body.size() % 65 != 0) {
        return false;
    }
    for (std::size_t at = 0; at < body.size(); at += 65) {
        if (body[at] > 3) {
            return false;
        }
    }
    return true;
}

bool readsAsFrame(std::span<const std::uint8_t> body) {
    return body.size() >= 6 && body.size() == 6 + 3 * std::size_t{body[5]};
}

bool readsAsScan(std::span<const std::uint8_t> body) {
    return !body.empty() && body.size() == 4 + 2 * std::size_t{body[0]};
}

// Whether more than one scan marker follows: a sequential file has one for each component
// at most, a progressive one many more; only a guess for a frame marker lost to damage.
bool manyScans(std::span<const std::uint8_t> bytes) {
    int scans = 0;
    for (std::size_t at = 0; at + 1 < bytes.size() && scans <= 3; ++at) {
        scans += bytes[at] == kMarker && bytes[at + 1] == kScan ? 1 : 0;
    }
    return scans > 3;
}

// The marker a header segment's content shows it to be.
std::uint8_t guessMarker(std::span<const std::uint8_t> body, std::span<const std::uint8_t> all) {
    if (readsAsQuantisation(body)) {
        return kQuantisation;
    }
    if (checkTables(body) != TableState::Broken) {
        return kHuffman;
    }
    if (readsAsFrame(body)) {
        return manyScans(all) ? kProgressive : kBaseline;
    }
    return readsAsScan(body) ? kScan : kComment;
}

// Collects the mended copy: untouched stretches and replaced segments, in file order.
class Mender {
public:
    explicit Mender(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    void replace(std::size_t at, std::size_t end, std::span<const std::uint8_t> with) {
        if (at < copied_) {
            // A segment whose marker was mended already may be replaced whole after it; a
            // place inside a stretch already replaced is left as it was replaced.
            if (at != lastAt_) {
                return;
            }
            out_.resize(lastOut_);
            copied_ = at;
        }
        out_.insert(out_.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(copied_),
                    bytes_.begin() + static_cast<std::ptrdiff_t>(at));
        lastAt_ = at;
        lastOut_ = out_.size();
        out_.insert(out_.end(), with.begin(), with.end());
        copied_ = end;
        changed_ = true;
    }

    std::optional<Bytes> result() {
        if (!changed_) {
            return std::nullopt;
        }
        out_.insert(out_.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(copied_),
                    bytes_.end());
        return std::move(out_);
    }

private:
    std::size_t lastAt_ = 0;  // where the last replacement began in the bytes
    std::size_t lastOut_ = 0; // and in the copy
    std::span<const std::uint8_t> bytes_;
    Bytes out_;
    std::size_t copied_ = 0;
    bool changed_ = false;
};

// Gives a quantisation table whose slot byte was struck the slot the frame asks for and no
// table fills: libjpeg refuses a frame that names a table never defined. Returns whether a
// slot changed.
bool mendQuantisationSlots(Bytes& bytes) {
    std::vector<std::size_t> slots; // where each 8-bit table's slot byte lies
    std::array<int, 4> defined{};
    std::array<bool, 4> wanted{};
    std::size_t at = 2;
    while (at + 4 <= bytes.size() && bytes[at] == kMarker && bytes[at + 1] != kScan) {
        const std::size_t end = at + 2 + lengthAt(bytes, at + 2);
        if (end > bytes.size() || end < at + 4) {
            break;
        }
        const auto body = std::span<const std::uint8_t>(bytes).subspan(at + 4, end - at - 4);
        if (bytes[at + 1] == kQuantisation && !body.empty() && body.size() % 65 == 0) {
            for (std::size_t table = at + 4; table < end; table += 65) {
                slots.push_back(table);
                if (bytes[table] <= 3) {
                    ++defined[bytes[table]];
                }
            }
        } else if (bytes[at + 1] >= kBaseline && bytes[at + 1] <= kProgressive &&
                   readsAsFrame(body)) {
            for (std::size_t c = 0; c < body[5]; ++c) {
                const std::uint8_t table = body[6 + 3 * c + 2];
                if (table <= 3) {
                    wanted[table] = true;
                }
            }
        }
        at = end;
    }
    bool changed = false;
    for (std::uint8_t slot = 0; slot < 4; ++slot) {
        if (!wanted[slot] || defined[slot] > 0) {
            continue;
        }
        // A table nobody asks for, or a second one for the same slot, is the struck one.
        const auto struck = std::find_if(slots.begin(), slots.end(), [&](std::size_t table) {
            const std::uint8_t was = bytes[table];
            return was > 3 || !wanted[was] || defined[was] > 1;
        });
        if (struck == slots.end()) {
            break;
        }
        if (bytes[*struck] <= 3) {
            --defined[bytes[*struck]];
        }
        bytes[*struck] = slot;
        ++defined[slot];
        changed = true;
    }
    return changed;
}

// Mends struck header markers and Huffman tables; nothing when none needed it.
std::optional<Bytes> mendSegments(std::span<const std::uint8_t> bytes) {
    Mender mender(bytes);
    bool progressive = false;
    bool inHeader = true;
    // The header's segments follow one another; past the first scan, entropy-coded data
    // stuffs every 0xFF it holds, so a marker byte pair found anywhere is a real segment and
    // the tables a progressive file defines between its scans are found too.
    std::size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (bytes[at] != kMarker || bytes[at + 1] == kMarker || bytes[at + 1] == 0) {
            inHeader = false;
            ++at;
            continue;
        }
        std::uint8_t code = bytes[at + 1];
        const std::size_t length = lengthAt(bytes, at + 2);
        const std::size_t end = at + 2 + length;
        if (length < 2 || end > bytes.size()) {
            inHeader = false;
            ++at;
            continue;
        }
        const auto body = bytes.subspan(at + 4, length - 2);
        const bool followed = end == bytes.size() || bytes[end] == kMarker;
        if (inHeader && unknownMarker(code) && followed) {
            code = guessMarker(body, bytes);
            std::array<std::uint8_t, 2> marker{kMarker, code};
            mender.replace(at, at + 2, marker);
        }
        progressive = progressive || code == kProgressive;
        if (code == kHuffman) {
            const TableState state = checkTables(body);
            if (state == TableState::SymbolsWrong) {
                mender.replace(at, end, clampedSymbols(bytes.subspan(at, end - at)));
            } else if (state == TableState::Broken) {
                const std::uint8_t slot = body.empty() ? 0xFF : body[0];
                const bool slotKnown = (slot & 0x0FU) <= 3 && (slot >> 4U) <= 1;
                if (progressive && slotKnown) {
                    mender.replace(at, end, madeUpTable(slot));
                } else {
                    std::array<std::uint8_t, 2> comment{kMarker, kComment};
                    mender.replace(at, at + 2, comment);
                }
            }
        }
        inHeader = inHeader && code != kScan;
        at = code == kScan || !inHeader ? at + 2 : end;
    }
    return mender.result();
}

} // namespace

std::optional<std::vector<std::uint8_t>> repairJpegSegments(std::span<const std::uint8_t> bytes) {
    // Slots are mended once the markers are, so that a quantisation table found again
    // counts among those defined.
    auto mended = mendSegments(bytes);
    Bytes out = mended ? std::move(*mended) : Bytes(bytes.begin(), bytes.end());
    if (mendQuantisationSlots(out) || mended) {
        return out;
    }
    return std::nullopt;
}

} // namespace zerbrak::decoding
