#include "EncoderPixels.h"
#include "Encoders.h"

#include <array>
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

// No object with a destructor lives in this frame: libpng leaves it by longjmp on errors.
bool writeRows(png_structp png, png_infop info, const QImage& rgb, bool interlaced, png_bytepp rows,
               std::vector<std::uint8_t>* out) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_write_fn(png, out, pngWrite, pngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rgb.width()),
                 static_cast<png_uint_32>(rgb.height()), 8,
                 hasAlpha(rgb) ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // png_write_image runs the seven Adam7 passes itself when the header asks for them.
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

} // namespace

EncodeResult encodePng(const QImage& image, bool interlaced) {
    QImage rgb = toRgb8(image, AlphaPolicy::KeepIfPresent);
    std::vector<png_bytep> rows(static_cast<std::size_t>(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y) {
        rows[static_cast<std::size_t>(y)] = rgb.scanLine(y);
    }

    PngErrorText errors;
    PngWriteHandles handles(errors);
    if (!handles.png() || !handles.info()) {
        return encodeFailure(QStringLiteral("PNG: cannot create the writer"));
    }
    EncodeResult result;
    if (!writeRows(handles.png(), handles.info(), rgb, interlaced, rows.data(), &result.bytes)) {
        return encodeFailure(QStringLiteral("PNG: %1").arg(QString::fromUtf8(errors.text.data())));
    }
    return result;
}

} // namespace zerbrak::encoders
