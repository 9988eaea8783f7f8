#include "CorruptionMode.h"
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

// How many bytes each input byte becomes; 0 marks "not special" for the fast path.
constexpr std::array<std::uint8_t, 256> specialWidth = [] {
    std::array<std::uint8_t, 256> table{};
    table[0x07] = 1; // bell becomes a space
    table[0x0A] = 2;
    table[0x0B] = 2;
    table[0x0D] = 2;
    return table;
}();

inline std::size_t emit(std::uint8_t byte, std::uint8_t* out) {
    switch (byte) {
    case 0x07:
        out[0] = 0x20;
        return 1;
    case 0x0A:
    case 0x0B:
    case 0x0D:
        out[0] = 0x0D;
        out[1] = 0x0A;
        return 2;
    default:
        out[0] = byte;
        return 1;
    }
}

#if defined(__SSE2__)
// Bit j set when byte j of the block is one the rewrite touches.
inline unsigned specialMask(__m128i block) {
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(0x07)),
                     _mm_cmpeq_epi8(block, _mm_set1_epi8(0x0A))),
        _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(0x0B)),
                     _mm_cmpeq_epi8(block, _mm_set1_epi8(0x0D))));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// Line breaks only (0x0A, 0x0B, 0x0D): the bytes that grow the output.
inline unsigned growingMask(__m128i block) {
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(0x0A)),
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
        extra += specialWidth[data[r]] == 2 ? 1U : 0U;
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
    // Sixteen input bytes always make at least sixteen output bytes, so the unaligned store
    // of a whole block never runs past the exactly sized output.
    for (; r + 16 <= size; r += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + r));
        const unsigned mask = specialMask(block);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), block);
        if (mask == 0) {
            w += 16;
            continue;
        }
        const auto first = static_cast<std::size_t>(__builtin_ctz(mask));
        w += first;
        for (std::size_t j = first; j < 16; ++j) {
            w += emit(in[r + j], out + w);
        }
    }
#endif
    for (; r < size; ++r) {
        w += emit(in[r], out + w);
    }
    return w;
}

} // namespace zerbrak
