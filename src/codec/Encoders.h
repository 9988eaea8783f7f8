#pragma once

#include "Encode.h"

#include <QImage>

namespace zerbrak::encoders {

// One entry per format. Each takes a non-null image of at least one pixel and reports
// failures in the result instead of throwing through the C libraries.
EncodeResult encodePng(const QImage& image, bool interlaced);
EncodeResult encodeJpeg(const QImage& image);
EncodeResult encodeTiff(const QImage& image);
EncodeResult encodeBmp(const QImage& image);
EncodeResult encodeJp2(const QImage& image);
EncodeResult encodeGif(const QImage& image);

// Shorthand for a failed result.
EncodeResult encodeFailure(const QString& message);

} // namespace zerbrak::encoders
