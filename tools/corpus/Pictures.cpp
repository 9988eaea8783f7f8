#include "Pictures.h"

#include "DetailedPicture.h"
#include "core/RandomSource.h"

#include <QColor>
#include <cmath>

namespace corpus {

QImage photoLike(int width, int height) {
    return detailedPicture(width, height);
}

QImage smoothGradient(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double wave = std::sin(x * 0.07) * std::cos(y * 0.05);
            picture.setPixel(
                x, y,
                qRgb(x * 255 / width, y * 255 / height, static_cast<int>(127.5 + 127.5 * wave)));
        }
    }
    return picture;
}

QImage withAlpha(int width, int height) {
    QImage picture = detailedPicture(width, height).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = picture.pixel(x, y);
            picture.setPixel(
                x, y,
                qRgba(qRed(pixel), qGreen(pixel), qBlue(pixel), (x + y) * 255 / (width + height)));
        }
    }
    return picture;
}

QImage fewColours(int width, int height) {
    static constexpr QRgb colours[] = {0xff000000, 0xffffffff, 0xffd02020, 0xff2040c0};
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.setPixel(x, y, colours[((x / 9) ^ (y / 7)) & 3]);
        }
    }
    return picture;
}

QImage noise(int width, int height) {
    zerbrak::RandomSource random(4242);
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.setPixel(x, y, 0xff000000U | random.draw());
        }
    }
    return picture;
}

QImage deepGradient(int width, int height) {
    QImage picture(width, height, QImage::Format_RGBA64);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto red = static_cast<quint16>(x * 65535 / width);
            const auto green = static_cast<quint16>(y * 65535 / height);
            const auto blue = static_cast<quint16>((x * y * 37) & 0xffff);
            picture.setPixelColor(x, y, QColor::fromRgba64(red, green, blue, 0xfff0));
        }
    }
    return picture;
}

} // namespace corpus
