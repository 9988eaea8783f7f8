#include "FitRule.h"

#include <cmath>
#include <cstdint>

namespace zerbrak {

SizeD fitSize(double w, double h, double W, double H) {
    const SizeD unchanged{w, h};
    if (!(w > 0.0 && h > 0.0 && std::isfinite(w) && std::isfinite(h))) {
        return unchanged;
    }
    const float widthRatio = static_cast<float>(W) / static_cast<float>(w);
    const float heightRatio = static_cast<float>(H) / static_cast<float>(h);
    const float scale = heightRatio < widthRatio ? heightRatio : widthRatio;

    double factor = 0.0;
    if (scale < 1.0F) {
        factor = static_cast<double>(scale);
    } else {
        // 2^31, the first float whose truncation leaves the int32 range; the test also turns
        // a NaN scale away.
        constexpr float wholeLimit = 2147483648.0F;
        if (!(scale < wholeLimit)) {
            return unchanged;
        }
        factor = static_cast<double>(static_cast<std::int32_t>(scale));
    }
    // A picture too large for single precision gives a zero ratio: it would vanish.
    if (!(factor > 0.0)) {
        return unchanged;
    }
    // The picture's own double size, not the narrowed copies the ratios were taken from.
    return {w * factor, h * factor};
}

} // namespace zerbrak
