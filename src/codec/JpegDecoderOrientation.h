#pragma once

#include <QImage>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <jpeglib.h>

namespace zerbrak::decoding {

// Turns the picture upright as its EXIF orientation tag asks, found among the saved APP1
// markers; a damaged or missing tag leaves it as stored.
QImage applyExifOrientation(QImage image, jpeg_saved_marker_ptr markers);

} // namespace zerbrak::decoding
