#include "EncoderPixels.h"
#include "Encoders.h"

#include <array>
#include <bit>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <jpeglib.h>
#include <memory>

namespace zerbrak::encoders {

namespace {

struct JpegErrors {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
    std::array<char, JMSG_LENGTH_MAX> text{};
};

[[noreturn]] void jpegErrorExit(j_common_ptr cinfo) {
    auto* errors = static_cast<JpegErrors*>(cinfo->client_data);
    cinfo->err->format_message(cinfo, errors->text.data());
    std::longjmp(errors->jump, 1);
}

// Warnings would go to stderr; a successful encode is all that matters here.
void jpegQuiet(j_common_ptr) {}

// Where jpeg_mem_dest keeps the buffer it grows with malloc.
struct JpegOutput {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    bool destinationReady = false;
};

struct CompressDestroyer {
    void operator()(jpeg_compress_struct* cinfo) const { jpeg_destroy_compress(cinfo); }
};

struct FreeDeleter {
    void operator()(unsigned char* buffer) const { std::free(buffer); }
};

// No object with a destructor lives in this frame: libjpeg leaves it by longjmp on errors.
bool compress(jpeg_compress_struct& cinfo, JpegErrors& errors, const QImage& rgb,
              J_COLOR_SPACE space, JpegOutput& output) {
    if (setjmp(errors.jump)) {
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &output.buffer, &output.size);
    output.destinationReady = true;

    cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
    cinfo.input_components = space == JCS_RGB ? 3 : 4;
    cinfo.in_color_space = space;
    // The library's defaults (quality 75, 4:2:0, baseline Huffman) are the look wanted: the
    // damage should hit the same kind of file most cameras and tools produce.
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        // libjpeg takes non-const rows but only reads them.
        JSAMPROW row =
            const_cast<JSAMPLE*>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

// libjpeg-turbo reads Qt's 32-bit pixels (B,G,R,X in memory on a little-endian machine) as they
// are; anything else goes through an R,G,B copy.
J_COLOR_SPACE inputSpaceOf(const QImage& image) {
    if (std::endian::native == std::endian::little &&
        (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)) {
        return JCS_EXT_BGRX;
    }
    return JCS_RGB;
}

} // namespace

EncodeResult encodeJpeg(const QImage& image) {
    const J_COLOR_SPACE space = inputSpaceOf(image);
    const QImage rgb = space == JCS_RGB ? toRgb8(image, AlphaPolicy::Drop) : image;

    JpegErrors errors;
    jpeg_compress_struct cinfo{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegErrorExit;
    errors.manager.output_message = jpegQuiet;
    cinfo.client_data = &errors;

    JpegOutput output;
    const bool ok = compress(cinfo, errors, rgb, space, output);
    if (!ok && output.destinationReady) {
        // After a failure the caller's pointer may still name a buffer the destination has
        // since replaced; terminating the destination points it at the live one to free.
        cinfo.dest->term_destination(&cinfo);
    }
    const std::unique_ptr<unsigned char, FreeDeleter> buffer(output.buffer);
    const std::unique_ptr<jpeg_compress_struct, CompressDestroyer> destroyer(&cinfo);
    if (!ok) {
        return encodeFailure(QStringLiteral("JPEG: %1").arg(QString::fromUtf8(errors.text.data())));
    }
    EncodeResult result;
    result.bytes.assign(output.buffer, output.buffer + output.size);
    return result;
}

} // namespace zerbrak::encoders
