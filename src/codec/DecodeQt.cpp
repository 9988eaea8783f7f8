#include "Decode.h"

#include <QImageReader>

namespace zerbrak {

DecodeResult decodeImageFile(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    DecodeResult result;
    result.image = reader.read();
    if (result.image.isNull()) {
        result.message = reader.errorString();
    }
    return result;
}

} // namespace zerbrak
