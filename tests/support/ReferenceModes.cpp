#include "ReferenceModes.h"

namespace zerbrak {
namespace {

// Every byte after the guard is written on its own: a line break as CR LF, a bell as a space.
std::vector<std::uint8_t> lineBreaks(const std::vector<std::uint8_t>& in) {
    if (in.size() < headerGuard) {
        return in;
    }
    std::vector<std::uint8_t> out(in.begin(), in.begin() + headerGuard);
    for (std::size_t i = headerGuard; i < in.size(); ++i) {
        switch (in[i]) {
        case 0x07:
            out.push_back(0x20);
            break;
        case 0x0A:
        case 0x0B:
        case 0x0D:
            out.push_back(0x0D);
            out.push_back(0x0A);
            break;
        default:
            out.push_back(in[i]);
        }
    }
    return out;
}

// Position first, then value; an empty file draws nothing.
void strike(std::vector<std::uint8_t>& bytes, RandomSource& random) {
    if (bytes.empty()) {
        return;
    }
    const std::uint64_t position = random.draw() % bytes.size();
    bytes[position] = static_cast<std::uint8_t>(random.draw() % 256);
}

// One walk over the positions after the guard: the replace, then at every multiple of the
// spacing one draw for the odds and, when struck, one for the new value. Chance 100 has no
// spacing and stops after the first position.
void scatter(std::vector<std::uint8_t>& bytes, const GlitchParams& params, RandomSource& random) {
    const std::int64_t spacing = 100 - params.chance;
    const auto odds = static_cast<std::uint32_t>(params.chance + 1);
    for (std::size_t i = headerGuard; i < bytes.size(); ++i) {
        if (params.replace && bytes[i] == params.fromByte) {
            bytes[i] = params.toByte;
        }
        if (spacing == 0) {
            break;
        }
        if (static_cast<std::int64_t>(i) % spacing == 0 && random.draw() % odds == 0) {
            bytes[i] = static_cast<std::uint8_t>(random.draw() % 256);
        }
    }
}

} // namespace

std::vector<std::uint8_t> referenceMode(CorruptionMode mode, std::vector<std::uint8_t> bytes,
                                        const GlitchParams& params, RandomSource& random) {
    switch (mode) {
    case CorruptionMode::LineBreakRewrite:
        return lineBreaks(bytes);
    case CorruptionMode::SingleByteStrike:
        strike(bytes, random);
        return bytes;
    case CorruptionMode::ReplaceAndScatter:
        scatter(bytes, params, random);
        return bytes;
    }
    return bytes;
}

} // namespace zerbrak
