#pragma once

#include <QImage>
#include <QString>

namespace zerbrak {

// What a decoder made of a file: the picture, whether it is only part of what the file
// declared, and a word on what went wrong.
struct DecodeResult {
    QImage image;
    bool partial = false;
    QString message;
    // The decode was stopped by the user's cancel: no picture, and nothing wrong with the file.
    bool cancelled = false;

    // A picture of non-zero size came back, whole or partial.
    bool isValid() const { return !image.isNull() && image.width() > 0 && image.height() > 0; }
};

} // namespace zerbrak
