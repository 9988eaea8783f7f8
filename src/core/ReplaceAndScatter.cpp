#include "CorruptionModes.h"
#include "FastModulo.h"

#include <cassert>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zerbrak {
namespace {

void replaceAll(std::uint8_t* data, std::size_t begin, std::size_t end, std::uint8_t from,
                std::uint8_t to) {
    std::size_t i = begin;
#if defined(__SSE2__)
    const __m128i fromV = _mm_set1_epi8(static_cast<char>(from));
    const __m128i toV = _mm_set1_epi8(static_cast<char>(to));
    for (; i + 16 <= end; i += 16) {
        auto* p = reinterpret_cast<__m128i*>(data + i);
        const __m128i block = _mm_loadu_si128(p);
        const __m128i hit = _mm_cmpeq_epi8(block, fromV);
        _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(hit, toV), _mm_andnot_si128(hit, block)));
    }
#endif
    for (; i < end; ++i) {
        if (data[i] == from) {
            data[i] = to;
        }
    }
}

} // namespace

// The walk visits each position once: replace first, then maybe scatter. A replace at one
// position never touches another, so replacing the whole range first and scattering over the
// candidates afterwards stores the same bytes and makes the same draws in the same order.
void replaceAndScatter(std::span<std::uint8_t> buffer, const GlitchParams& params,
                       RandomSource& random) {
    assert(params.chance >= 0 && params.chance <= 100);
    const std::size_t size = buffer.size();
    if (size <= headerGuard) {
        return;
    }
    std::uint8_t* data = buffer.data();
    const auto spacing = static_cast<std::uint32_t>(100 - params.chance);

    if (spacing == 0) {
        // Chance 100: the walk ends right after the replace at its first position.
        if (params.replace && data[headerGuard] == params.fromByte) {
            data[headerGuard] = params.toByte;
        }
        return;
    }
    if (params.replace) {
        replaceAll(data, headerGuard, size, params.fromByte, params.toByte);
    }

    const FastModulo odds(static_cast<std::uint32_t>(params.chance) + 1U);
    const std::size_t firstCandidate = (headerGuard + spacing - 1) / spacing * spacing;
    // A local copy of the generator stays in registers; through the reference, every byte
    // stored would force its state back out to memory (a byte store may alias anything).
    RandomSource local = random;
    for (std::size_t i = firstCandidate; i < size; i += spacing) {
        if (odds.divides(local.draw())) {
            data[i] = static_cast<std::uint8_t>(local.draw() & 0xFFU);
        }
    }
    random = local;
}

ScatterWalk::ScatterWalk(const GlitchParams& params)
    : params_(params), spacing_(static_cast<std::uint32_t>(100 - params.chance)),
      odds_(static_cast<std::uint32_t>(params.chance) + 1U),
      nextCandidate_(spacing_ == 0 ? 0 : (headerGuard + spacing_ - 1) / spacing_ * spacing_) {
    assert(params.chance >= 0 && params.chance <= 100);
}

void ScatterWalk::damage(std::span<std::uint8_t> piece, RandomSource& random) {
    const std::uint64_t begin = offset_;
    const std::uint64_t end = begin + piece.size();
    offset_ = end;
    if (end <= headerGuard) {
        return;
    }
    std::uint8_t* data = piece.data();
    const std::size_t guarded = begin >= headerGuard ? 0 : headerGuard - begin;
    if (spacing_ == 0) {
        // Chance 100: only the first position after the guard is ever touched.
        if (begin <= headerGuard && params_.replace && data[guarded] == params_.fromByte) {
            data[guarded] = params_.toByte;
        }
        return;
    }
    if (params_.replace) {
        replaceAll(data, guarded, piece.size(), params_.fromByte, params_.toByte);
    }
    RandomSource local = random; // kept in registers, as in replaceAndScatter
    for (; nextCandidate_ < end; nextCandidate_ += spacing_) {
        if (odds_.divides(local.draw())) {
            data[nextCandidate_ - begin] = static_cast<std::uint8_t>(local.draw() & 0xFFU);
        }
    }
    random = local;
}

} // namespace zerbrak
