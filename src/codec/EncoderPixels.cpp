#include "EncoderPixels.h"

namespace zerbrak::encoders {

QImage toRgb8(const QImage& image, AlphaPolicy alpha) {
    const bool keepAlpha = alpha == AlphaPolicy::KeepIfPresent && image.hasAlphaChannel();
    // Colour-space tags are ignored on purpose: the files carry plain sRGB-ish samples and
    // the damage, not colour management, is what the picture is about.
    return image.convertToFormat(keepAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
}

} // namespace zerbrak::encoders
