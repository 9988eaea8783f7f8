#pragma once

#include <QImage>

// A picture with detail everywhere, like a photograph: encoders, palette searches and entropy
// coders get real work from it. Shared by tests and benchmarks.
inline QImage detailedPicture(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int ripple = ((x * x + y * 3) ^ (y * y + x * 7)) & 0x3f;
            row[x] = qRgb((x / 24 + ripple) & 0xff, (y / 16 + ripple * 2) & 0xff,
                          ((x + y) / 40 + ripple) & 0xff);
        }
    }
    return picture;
}
