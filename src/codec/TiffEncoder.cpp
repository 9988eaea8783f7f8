#include "EncoderMemoryFile.h"
#include "EncoderPixels.h"
#include "Encoders.h"

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <tiffio.h>
#include <vector>

namespace zerbrak::encoders {

namespace {

MemoryFile& fileOf(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

tmsize_t tiffRead(thandle_t handle, void* data, tmsize_t size) {
    const std::span out(static_cast<std::uint8_t*>(data), static_cast<std::size_t>(size));
    return static_cast<tmsize_t>(fileOf(handle).read(out));
}

tmsize_t tiffWrite(thandle_t handle, void* data, tmsize_t size) {
    const std::span in(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
    return fileOf(handle).write(in) ? size : -1;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = fileOf(handle);
    switch (whence) {
    case SEEK_SET:
        file.seek(offset);
        break;
    case SEEK_CUR:
        file.seek(file.position() + offset);
        break;
    case SEEK_END:
        file.seek(file.size() + offset);
        break;
    default:
        return static_cast<toff_t>(-1);
    }
    return file.position();
}

int tiffClose(thandle_t) {
    return 0;
}

toff_t tiffSize(thandle_t handle) {
    return fileOf(handle).size();
}

int tiffMap(thandle_t, void**, toff_t*) {
    return 0;
}

void tiffUnmap(thandle_t, void*, toff_t) {}

// libtiff's default handlers print to stderr; keep the first error for the result instead.
int tiffError(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    auto* message = static_cast<QString*>(userData);
    if (message->isEmpty()) {
        *message = QString::asprintf("%s: ", module ? module : "TIFF");
        message->append(QString::vasprintf(format, args));
    }
    return 1;
}

int tiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

struct TiffClose {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

bool writeFields(TIFF* tiff, const QSize& size, bool alpha) {
    const auto samples = static_cast<std::uint16_t>(alpha ? 4 : 3);
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(size.width())) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(size.height())) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              // Uncompressed so a damaged byte shows as one wrong sample, not a ruined strip.
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (ok && alpha) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    // Zero asks for the library's choice: strips of about 8 KiB.
    return ok && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
}

// Qt's 32-bit pixels lie in memory as B,G,R,A on a little-endian machine. Reordering them a row at
// a time spares a converted copy of the whole picture, which on a large one costs more than the
// rest of the encode.
bool storedAsBgra(const QImage& image) {
    return std::endian::native == std::endian::little &&
           (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32);
}

void bgraToRgb(const uchar* source, int width, bool alpha, std::uint8_t* target) {
    for (int x = 0; x < width; ++x, source += 4) {
        *target++ = source[2];
        *target++ = source[1];
        *target++ = source[0];
        if (alpha) {
            *target++ = source[3];
        }
    }
}

} // namespace

EncodeResult encodeTiff(const QImage& image) {
    const bool bgra = storedAsBgra(image);
    // Scan lines are handed over non-const, so work on our own copy.
    QImage rgb = bgra ? QImage() : toRgb8(image, AlphaPolicy::KeepIfPresent);
    const bool alpha = bgra ? image.format() == QImage::Format_ARGB32 : hasAlpha(rgb);
    std::vector<std::uint8_t> row(bgra ? static_cast<std::size_t>(image.width()) * (alpha ? 4U : 3U)
                                       : 0U);

    QString message;
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) {
        return encodeFailure(QStringLiteral("TIFF: cannot allocate the writer options"));
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), tiffError, &message);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), tiffWarning, nullptr);

    MemoryFile file;
    // The samples as they are, plus a few KiB of header, directory and strip tables.
    file.reserve(static_cast<std::size_t>(image.width()) *
                     static_cast<std::size_t>(image.height()) * (alpha ? 4U : 3U) +
                 64U * 1024U);
    std::unique_ptr<TIFF, TiffClose> tiff(
        TIFFClientOpenExt("memory", "w", &file, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize,
                          tiffMap, tiffUnmap, options.get()));
    if (!tiff) {
        return encodeFailure(message.isEmpty() ? QStringLiteral("TIFF: cannot open the writer")
                                               : message);
    }
    bool ok = writeFields(tiff.get(), image.size(), alpha);
    for (int y = 0; ok && y < image.height(); ++y) {
        if (bgra) {
            bgraToRgb(image.constScanLine(y), image.width(), alpha, row.data());
        }
        void* samples = bgra ? static_cast<void*>(row.data()) : rgb.scanLine(y);
        ok = TIFFWriteScanline(tiff.get(), samples, static_cast<std::uint32_t>(y), 0) == 1;
    }
    // Closing writes the directory; its errors land in message like the others.
    tiff.reset();
    if (!ok || !message.isEmpty()) {
        return encodeFailure(message.isEmpty() ? QStringLiteral("TIFF: writing failed") : message);
    }
    EncodeResult result;
    result.bytes = file.take();
    return result;
}

} // namespace zerbrak::encoders
