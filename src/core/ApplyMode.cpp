#include "CorruptionModes.h"

namespace zerbrak {

std::vector<std::uint8_t> applyMode(CorruptionMode mode, std::vector<std::uint8_t> bytes,
                                    const GlitchParams& params, RandomSource& random) {
    switch (mode) {
    case CorruptionMode::LineBreakRewrite: {
        std::vector<std::uint8_t> rewritten(lineBreakRewriteLength(bytes));
        rewritten.resize(lineBreakRewrite(bytes, rewritten));
        return rewritten;
    }
    case CorruptionMode::SingleByteStrike:
        singleByteStrike(bytes, random);
        return bytes;
    case CorruptionMode::ReplaceAndScatter:
        replaceAndScatter(bytes, params, random);
        return bytes;
    }
    return bytes;
}

} // namespace zerbrak
