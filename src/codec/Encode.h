#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <vector>

namespace zerbrak {

// The six file types a picture can be re-encoded into before it is damaged.
enum class ImageFileType { Tiff = 0, Bmp = 1, Gif = 2, Jpeg = 3, Png = 4, Jpeg2000 = 5 };

struct EncodeOptions {
    // Adam7 for PNG; the other formats ignore it.
    bool interlaced = false;
};

// The encoded file, or why there is none.
struct EncodeResult {
    std::vector<std::uint8_t> bytes;
    QString error;

    bool ok() const { return error.isEmpty() && !bytes.empty(); }
};

// Encodes the whole image into a file of the given type, in memory. Never throws; a null
// or empty image, or a library failure, comes back as an error.
EncodeResult encodeImage(const QImage& image, ImageFileType type,
                         const EncodeOptions& options = {});

} // namespace zerbrak
