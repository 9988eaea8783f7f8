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
    for (; r + 16 <= size; r += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + r));
        extra += static_cast<std::size_t>(__builtin_popcount(growingMask(block)));
    }
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

    const std::uint8_t* in = input.data();
    std::uint8_t* out = output.data();
    std::memcpy(out, in, headerGuard);
    std::size_t r = headerGuard;
    std::size_t w = headerGuard;
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

} // namespace zerbrak
