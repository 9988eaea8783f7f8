#pragma once

#include "DecodeResult.h"

#include <QString>

namespace zerbrak {

// Decodes the image file at `path` for display and for the validity test.
DecodeResult decodeImageFile(const QString& path);

} // namespace zerbrak
