#pragma once

#include <QImage>

namespace zerbrak::encoders {

enum class AlphaPolicy { Drop, KeepIfPresent };

// The image as 8-bit straight (not premultiplied) samples in byte order R,G,B or R,G,B,A,
// which is what every format library here takes without further swizzling.
QImage toRgb8(const QImage& image, AlphaPolicy alpha);

// Whether toRgb8 kept an alpha channel.
inline bool hasAlpha(const QImage& rgb8) {
    return rgb8.format() == QImage::Format_RGBA8888;
}

inline int channelCount(const QImage& rgb8) {
    return hasAlpha(rgb8) ? 4 : 3;
}

} // namespace zerbrak::encoders
