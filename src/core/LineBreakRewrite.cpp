#include "CorruptionModes.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zerbrak {
namespace {

// What each input byte is written as: its first output byte, and how many bytes it becomes
// (a line break becomes CR LF, a bell a space, everything else itself).
struct Rewrite {
    std::array<std::uint8_t, 256> first{};
    std::array<std::uint8_t, 256> width{};
};

constexpr Rewrite rewriteTable = [] {
    Rewrite table;
    for (unsigned b = 0; b < 256; ++b) {
        table.first[b] = static_cast<std::uint8_t>(b);
        table.width[b] = 1;
    }
    table.first[0x07] = 0x20;
    for (const unsigned lineBreak : {0x0AU, 0x0BU, 0x0DU}) {
        table.first[lineBreak] = 0x0D;
        table.width[lineBreak] = 2;
    }
    return table;
}();

inline std::size_t emit(std::uint8_t byte, std::uint8_t* out) {
    out[0] = rewriteTable.first[byte];
    if (rewriteTable.width[byte] == 2) {
        out[1] = 0x0A;
        return 2;
    }
    return 1;
}

#if defined(__SSE2__)
// Bit j set when byte j of the block is one the rewrite touches.
inline unsigned specialMask(__m128i block) {
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(0x07)),
                                                   _mm_cmpeq_epi8(block, _mm_set1_epi8(0x0A))),
                                      _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(0x0B)),
                                                   _mm_cmpeq_epi8(block, _mm_set1_epi8(0x0D))));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// Line breaks only (0x0A, 0x0B, 0x0D): the bytes that grow the output.
inline unsigned growingMask(__m128i block) {
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(0x0A)),
                                                   _mm_cmpeq_epi8(block, _mm_set1_epi8(0x0B))),
                                      _mm_cmpeq_epi8(block, _mm_set1_epi8(0x0D)));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#endif

#if defined(__SSE2__)
// Line breaks in `blocks` blocks of sixteen from `data`. Inlined into both counters below, so
// the same loop is compiled once with the POPCNT instruction and once without.
[[gnu::always_inline]] inline std::size_t countGrowingBlocks(const std::uint8_t* data,
                                                             std::size_t blocks) {
    std::size_t extra = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * b));
        extra += static_cast<std::size_t>(__builtin_popcount(growingMask(block)));
    }
    return extra;
}

#if defined(__x86_64__) && !defined(__POPCNT__)
// The build targets every x86-64, whose baseline lacks POPCNT and would count bits with a
// library call per block; nearly every processor in use has the instruction, so it is chosen
// at run time.
[[gnu::target("popcnt")]] std::size_t countGrowingBlocksPopcnt(const std::uint8_t* data,
                                                               std::size_t blocks) {
    return countGrowingBlocks(data, blocks);
}
#endif

std::size_t countGrowing(const std::uint8_t* data, std::size_t blocks) {
#if defined(__x86_64__) && !defined(__POPCNT__)
    if (__builtin_cpu_supports("popcnt")) {
        return countGrowingBlocksPopcnt(data, blocks);
    }
#endif
    return countGrowingBlocks(data, blocks);
}
#endif

// Rewrites every byte of `input` (no header guard here) into `output`, which must hold the
// exact rewrite, and returns its length.
std::size_t rewriteBody(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
    const std::uint8_t* in = input.data();
    std::uint8_t* out = output.data();
    const std::size_t size = input.size();
    std::size_t r = 0;
    std::size_t w = 0;
#if defined(__SSE2__)
    // Blocks of sixteen, copied whole when they hold nothing to rewrite. In a block that does,
    // the runs between rewritten bytes are moved with sixteen-byte copies that may reach past
    // the run; the next store overwrites the excess. Keeping a further sixteen input bytes in
    // hand means those copies never read past the input nor write past the exactly sized
    // output (sixteen more input bytes always make at least sixteen more output bytes).
    for (; r + 32 <= size; r += 16) {
        const std::uint8_t* block = in + r;
        unsigned mask = specialMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block)));
        std::size_t run = 0;
        while (mask != 0) {
            const auto special = static_cast<std::size_t>(__builtin_ctz(mask));
            mask &= mask - 1;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + run)));
            w += special - run;
            // Branch-free: the second byte is always stored, and kept only for a line break.
            out[w] = rewriteTable.first[block[special]];
            out[w + 1] = 0x0A;
            w += rewriteTable.width[block[special]];
            run = special + 1;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + run)));
        w += 16 - run;
    }
#endif
    for (; r < size; ++r) {
        w += emit(in[r], out + w);
    }
    return w;
}

} // namespace

std::size_t lineBreakRewriteLength(std::span<const std::uint8_t> input) {
    if (input.size() < headerGuard) {
        return input.size();
    }
    const std::uint8_t* data = input.data();
    const std::size_t size = input.size();
    std::size_t extra = 0;
    std::size_t r = headerGuard;
#if defined(__SSE2__)
    const std::size_t blocks = (size - r) / 16;
    extra += countGrowing(data + r, blocks);
    r += 16 * blocks;
#endif
    for (; r < size; ++r) {
        extra += rewriteTable.width[data[r]] - 1U;
    }
    return size + extra;
}

std::size_t lineBreakRewrite(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
    const std::size_t size = input.size();
    if (size < headerGuard) {
        // Too short to hold a header guard: nothing to rewrite.
        std::copy(input.begin(), input.end(), output.begin());
        return size;
    }
    assert(output.size() >= lineBreakRewriteLength(input));
    std::memcpy(output.data(), input.data(), headerGuard);
    return headerGuard + rewriteBody(input.subspan(headerGuard), output.subspan(headerGuard));
}

std::size_t LineBreakStream::rewrite(std::span<const std::uint8_t> piece,
                                     std::span<std::uint8_t> output) {
    assert(output.size() >= maxOutput(piece.size()));
    // A file shorter than the guard is left as it is, like its first bytes in a longer one.
    const std::size_t guarded =
        offset_ >= headerGuard ? 0 : std::min<std::size_t>(headerGuard - offset_, piece.size());
    offset_ += piece.size();
    if (guarded > 0) {
        std::memcpy(output.data(), piece.data(), guarded);
    }
    return guarded + rewriteBody(piece.subspan(guarded), output.subspan(guarded));
}

} // namespace zerbrak
