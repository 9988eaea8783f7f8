#include "EncoderPixels.h"
#include "Encoders.h"

#include <array>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <new>
#include <png.h>
#include <vector>

namespace zerbrak::encoders {

namespace {

struct PngErrorText {
    std::array<char, 256> text{};
};

void pngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<PngErrorText*>(png_get_error_ptr(png));
    std::strncpy(sink->text.data(), message, sink->text.size() - 1);
    // Returning lets libpng longjmp back to writeRows.
}

void pngWarning(png_structp, png_const_charp) {}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    // Outside the handler: png_error longjmps, which must not skip the exception's cleanup.
    if (!grown) {
        png_error(png, "out of memory");
    }
}

void pngFlush(png_structp) {}

// Owns the write and info structs; libpng frees both in one call.
class PngWriteHandles {
public:
    explicit PngWriteHandles(PngErrorText& errors)
        : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, pngError, pngWarning)),
          info_(png_ ? png_create_info_struct(png_) : nullptr) {}
    ~PngWriteHandles() {
        if (png_) {
            png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
        }
    }
    PngWriteHandles(const PngWriteHandles&) = delete;
    PngWriteHandles& operator=(const PngWriteHandles&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_;
    png_infop info_;
};

// The file is about to be damaged, so size matters less than time: level 2 with the Up filter
// on every row is several times faster than the library's adaptive filters at level 6 and,
// on detailed pictures, no bigger. Every row carries the same filter byte.
constexpr int deflateLevel = 2;
constexpr int rowFilter = PNG_FILTER_UP;

// How the samples of the picture handed to writeRows lie in memory.
enum class SampleOrder {
    Rgb,  // R,G,B or R,G,B,A: what toRgb8 gives
    Bgrx, // Qt's 32-bit pixels on a little-endian machine, the fourth byte unused
    Bgra, // the same with straight alpha in the fourth byte
};

// Qt's own 32-bit layouts go to libpng as they are: its row transforms reorder and drop
// bytes on the fly, which spares a whole-picture conversion.
SampleOrder sampleOrderOf(const QImage& image) {
    if constexpr (std::endian::native == std::endian::little) {
        if (image.format() == QImage::Format_RGB32) {
            return SampleOrder::Bgrx;
        }
        if (image.format() == QImage::Format_ARGB32) {
            return SampleOrder::Bgra;
        }
    }
    return SampleOrder::Rgb;
}

// No object with a destructor lives in this frame: libpng leaves it by longjmp on errors.
bool writeRows(png_structp png, png_infop info, const QImage& picture, SampleOrder order,
               bool interlaced, png_bytepp rows, std::vector<std::uint8_t>* out) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_write_fn(png, out, pngWrite, pngFlush);
    const bool alpha =
        order == SampleOrder::Bgra || (order == SampleOrder::Rgb && hasAlpha(picture));
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width()),
                 static_cast<png_uint_32>(picture.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, deflateLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, rowFilter);
    png_write_info(png, info);
    // Transforms are set after the header, which must describe the file, not the rows.
    if (order != SampleOrder::Rgb) {
        png_set_bgr(png);
    }
    if (order == SampleOrder::Bgrx) {
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    // png_write_image runs the seven Adam7 passes itself when the header asks for them.
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

} // namespace

EncodeResult encodePng(const QImage& image, bool interlaced) {
    const SampleOrder order = sampleOrderOf(image);
    const QImage picture =
        order == SampleOrder::Rgb ? toRgb8(image, AlphaPolicy::KeepIfPresent) : image;
    std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height()));
    for (int y = 0; y < picture.height(); ++y) {
        // libpng takes non-const rows but only reads them when writing.
        rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(picture.constScanLine(y));
    }

    PngErrorText errors;
    PngWriteHandles handles(errors);
    if (!handles.png() || !handles.info()) {
        return encodeFailure(QStringLiteral("PNG: cannot create the writer"));
    }
    EncodeResult result;
    if (!writeRows(handles.png(), handles.info(), picture, order, interlaced, rows.data(),
                   &result.bytes)) {
        return encodeFailure(QStringLiteral("PNG: %1").arg(QString::fromUtf8(errors.text.data())));
    }
    return result;
}

} // namespace zerbrak::encoders
