#include "CleanFiles.h"

#include "Pictures.h"
#include "glitch/FormatTable.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <array>
#include <gif_lib.h>
#include <memory>
#include <tiffio.h>

namespace corpus {

namespace {

std::vector<std::uint8_t> bytesOf(const QByteArray& data) {
    return {data.begin(), data.end()};
}

std::vector<std::uint8_t> readBack(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? bytesOf(file.readAll()) : std::vector<std::uint8_t>{};
}

// Through Qt's own writer: the kinds of file our encoders never make.
std::vector<std::uint8_t> qtWrite(const QImage& image, const char* format, bool progressive) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.setQuality(85);
    return writer.write(image) ? bytesOf(data) : std::vector<std::uint8_t>{};
}

struct TiffShape {
    int pages = 1;
    std::uint16_t bits = 8;
    std::uint16_t samples = 3;
    std::uint16_t compression = COMPRESSION_NONE;
};

// A TIFF of `shape` with a pattern in it, one page after another, written by libtiff itself.
std::vector<std::uint8_t> tiffWrite(const QString& path, int width, int height, TiffShape shape) {
    {
        const std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(
            TIFFOpen(QFile::encodeName(path).constData(), "w"), TIFFClose);
        if (!tiff) {
            return {};
        }
        const auto rowBytes = static_cast<std::size_t>(width) * shape.samples * shape.bits / 8;
        std::vector<std::uint8_t> row(rowBytes);
        for (int page = 0; page < shape.pages; ++page) {
            TIFF* t = tiff.get();
            TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, shape.bits);
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, shape.samples);
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                         shape.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
            TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(t, TIFFTAG_COMPRESSION, shape.compression);
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16U);
            if (shape.pages > 1) {
                TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
                TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(page),
                             static_cast<std::uint16_t>(shape.pages));
            }
            for (int y = 0; y < height; ++y) {
                for (std::size_t i = 0; i < rowBytes; ++i) {
                    row[i] = static_cast<std::uint8_t>(i * 3 + static_cast<std::size_t>(y * 5) +
                                                       static_cast<std::size_t>(page) * 60);
                }
                if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0) {
                    return {};
                }
            }
            TIFFWriteDirectory(t);
        }
    }
    return readBack(path);
}

struct GifShape {
    int frames = 1;
    bool interlaced = false;
};

// A GIF written by giflib itself: interlaced rows, or frames of which every other one covers
// only part of the screen, each with a graphics control block as animations have.
std::vector<std::uint8_t> gifWrite(const QString& path, int width, int height, GifShape shape) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(QFile::encodeName(path).constData(), false, &error);
    if (gif == nullptr) {
        return {};
    }
    const std::unique_ptr<ColorMapObject, decltype(&GifFreeMapObject)> map(
        GifMakeMapObject(256, nullptr), GifFreeMapObject);
    for (int i = 0; i < 256; ++i) {
        map->Colors[i] = {static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i),
                          static_cast<GifByteType>(i * 7)};
    }
    bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map.get()) == GIF_OK;
    EGifSetGifVersion(gif, true);
    std::vector<GifPixelType> row(static_cast<std::size_t>(width));
    for (int frame = 0; ok && frame < shape.frames; ++frame) {
        const bool inset = frame % 2 == 1;
        const int left = inset ? width / 4 : 0;
        const int top = inset ? height / 4 : 0;
        const int w = inset ? width / 2 : width;
        const int h = inset ? height / 2 : height;
        if (shape.frames > 1) {
            const std::array<GifByteType, 4> control{0x04, 10, 0, 0};
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control.data()) == GIF_OK;
        }
        ok = ok && EGifPutImageDesc(gif, left, top, w, h, shape.interlaced, nullptr) == GIF_OK;
        // An interlaced image takes its rows in the order of its four passes.
        std::vector<int> order;
        if (shape.interlaced) {
            for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
                for (int y = start; y < h; y += step) {
                    order.push_back(y);
                }
            }
        } else {
            for (int y = 0; y < h; ++y) {
                order.push_back(y);
            }
        }
        for (const int y : order) {
            for (int x = 0; x < w; ++x) {
                row[static_cast<std::size_t>(x)] =
                    static_cast<GifPixelType>((x * 5 + y * 3 + frame * 40) & 0xff);
            }
            ok = ok && EGifPutLine(gif, row.data(), w) == GIF_OK;
        }
    }
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    return ok ? readBack(path) : std::vector<std::uint8_t>{};
}

struct Picture {
    const char* name;
    QImage image;
    int weight;
};

} // namespace

std::vector<CleanFile> cleanFiles(const QString& scratch) {
    // Mostly small, so a hundred thousand decodes stay quick; a few odd and larger sizes.
    const std::vector<Picture> pictures{
        {"photo", photoLike(192, 144), 8},
        {"smooth", smoothGradient(128, 128), 8},
        {"alpha", withAlpha(96, 96), 8},
        {"gray", photoLike(120, 90).convertToFormat(QImage::Format_Grayscale8), 8},
        {"palette", fewColours(100, 80), 8},
        {"noise", noise(64, 64), 8},
        {"tiny1x1", photoLike(1, 1), 8},
        {"tiny2x3", photoLike(2, 3), 8},
        {"tall17x1000", photoLike(17, 1000), 4},
        {"odd641x479", photoLike(641, 479), 1},
    };
    std::vector<CleanFile> files;
    for (const zerbrak::FormatRow& row : zerbrak::formatTable) {
        for (const Picture& picture : pictures) {
            zerbrak::EncodeResult encoded =
                zerbrak::encodeImage(picture.image, row.fileType, row.options);
            if (encoded.ok()) {
                files.push_back(
                    {row.extension, picture.name, std::move(encoded.bytes), picture.weight});
            }
        }
    }
    const QImage photo = photoLike(160, 120);
    const QImage gray = photo.convertToFormat(QImage::Format_Grayscale8);
    const QString tiffPath = scratch + QStringLiteral("/clean.tiff");
    const QString gifPath = scratch + QStringLiteral("/clean.gif");
    std::vector<CleanFile> extras{
        {"png", "flat", zerbrak::encodeImage(photo, zerbrak::ImageFileType::Png).bytes},
        {"png", "gray8", qtWrite(gray, "png", false)},
        {"png", "gray16", qtWrite(photo.convertToFormat(QImage::Format_Grayscale16), "png", false)},
        {"png", "deep16", qtWrite(deepGradient(100, 70), "png", false)},
        {"png", "indexed",
         qtWrite(fewColours(90, 60).convertToFormat(QImage::Format_Indexed8), "png", false)},
        {"jpg", "progressive", qtWrite(photo, "jpeg", true)},
        {"jpg", "gray-qt", qtWrite(gray, "jpeg", false)},
        {"jpg", "progressive-gray", qtWrite(gray, "jpeg", true)},
        {"tiff", "deep16", tiffWrite(tiffPath, 80, 60, {.bits = 16})},
        {"tiff", "gray-libtiff", tiffWrite(tiffPath, 100, 75, {.samples = 1})},
        {"tiff", "deflate",
         tiffWrite(tiffPath, 100, 75, {.compression = COMPRESSION_ADOBE_DEFLATE})},
        {"tiff", "lzw-pages",
         tiffWrite(tiffPath, 64, 48, {.pages = 3, .compression = COMPRESSION_LZW})},
        {"gif", "interlaced", gifWrite(gifPath, 120, 90, {.interlaced = true})},
        {"gif", "animated", gifWrite(gifPath, 80, 60, {.frames = 4})},
        {"gif", "animated-interlaced",
         gifWrite(gifPath, 80, 60, {.frames = 3, .interlaced = true})},
        {"bmp", "indexed",
         qtWrite(fewColours(90, 60).convertToFormat(QImage::Format_Indexed8), "bmp", false)},
        {"bmp", "mono",
         qtWrite(fewColours(90, 60).convertToFormat(QImage::Format_Mono), "bmp", false)},
    };
    for (CleanFile& extra : extras) {
        if (!extra.bytes.empty()) {
            files.push_back(std::move(extra));
        }
    }
    return files;
}

} // namespace corpus
