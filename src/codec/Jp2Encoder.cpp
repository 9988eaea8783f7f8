#include "EncoderMemoryFile.h"
#include "EncoderPixels.h"
#include "Encoders.h"
#include "OpenJpegHandles.h"

#include <algorithm>
#include <array>
#include <openjpeg.h>

namespace zerbrak::encoders {

namespace {

MemoryFile& fileOf(void* userData) {
    return *static_cast<MemoryFile*>(userData);
}

OPJ_SIZE_T jp2Write(void* data, OPJ_SIZE_T size, void* userData) {
    const std::span in(static_cast<const std::uint8_t*>(data), size);
    return fileOf(userData).write(in) ? size : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_OFF_T jp2Skip(OPJ_OFF_T count, void* userData) {
    MemoryFile& file = fileOf(userData);
    const auto target = static_cast<OPJ_OFF_T>(file.position()) + count;
    if (target < 0) {
        return -1;
    }
    file.seek(static_cast<std::uint64_t>(target));
    return count;
}

OPJ_BOOL jp2Seek(OPJ_OFF_T position, void* userData) {
    if (position < 0) {
        return OPJ_FALSE;
    }
    fileOf(userData).seek(static_cast<std::uint64_t>(position));
    return OPJ_TRUE;
}

// openjpeg prints nothing unless given handlers; keep the first error for the result.
void jp2Error(const char* message, void* userData) {
    auto* text = static_cast<QString*>(userData);
    if (text->isEmpty()) {
        *text = QString::fromUtf8(message).trimmed();
    }
}

void jp2Quiet(const char*, void*) {}

openjpeg::Image planarImage(const QImage& rgb) {
    const int channels = channelCount(rgb);
    std::array<opj_image_cmptparm_t, 4> parameters{};
    for (int c = 0; c < channels; ++c) {
        auto& p = parameters[static_cast<std::size_t>(c)];
        p.dx = 1;
        p.dy = 1;
        p.w = static_cast<OPJ_UINT32>(rgb.width());
        p.h = static_cast<OPJ_UINT32>(rgb.height());
        p.prec = 8;
        p.sgnd = 0;
    }
    openjpeg::Image image(
        opj_image_create(static_cast<OPJ_UINT32>(channels), parameters.data(), OPJ_CLRSPC_SRGB));
    if (!image) {
        return image;
    }
    image->x0 = 0;
    image->y0 = 0;
    image->x1 = static_cast<OPJ_UINT32>(rgb.width());
    image->y1 = static_cast<OPJ_UINT32>(rgb.height());
    if (hasAlpha(rgb)) {
        image->comps[3].alpha = 1;
    }
    const auto width = static_cast<std::size_t>(rgb.width());
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* row = rgb.constScanLine(y);
        const std::size_t rowStart = static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const auto sample =
                    row[x * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
                image->comps[c].data[rowStart + x] = sample;
            }
        }
    }
    return image;
}

// The default six resolution levels need at least 32 pixels on each side; small pictures
// get as many levels as fit.
int resolutionsFor(const QImage& rgb, int wanted) {
    const int shortest = std::min(rgb.width(), rgb.height());
    int levels = wanted;
    while (levels > 1 && (shortest >> (levels - 1)) == 0) {
        --levels;
    }
    return levels;
}

} // namespace

EncodeResult encodeJp2(const QImage& image) {
    const QImage rgb = toRgb8(image, AlphaPolicy::KeepIfPresent);
    const openjpeg::Image planes = planarImage(rgb);
    if (!planes) {
        return encodeFailure(QStringLiteral("JPEG 2000: cannot allocate the image"));
    }

    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    // One lossless layer with the reversible 5/3 wavelet: the library's own default when no
    // rate is asked for, spelled out so it does not depend on the version.
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0;
    parameters.cp_disto_alloc = 1;
    parameters.numresolution = resolutionsFor(rgb, parameters.numresolution);
    // Three colour components are stored as YCbCr-like RCT, as most writers do.
    parameters.tcp_mct = static_cast<char>(planes->numcomps >= 3 ? 1 : 0);

    QString message;
    const openjpeg::Codec codec(opj_create_compress(OPJ_CODEC_JP2));
    if (!codec) {
        return encodeFailure(QStringLiteral("JPEG 2000: cannot create the encoder"));
    }
    opj_set_error_handler(codec.get(), jp2Error, &message);
    opj_set_warning_handler(codec.get(), jp2Quiet, nullptr);
    opj_set_info_handler(codec.get(), jp2Quiet, nullptr);

    MemoryFile file;
    const openjpeg::Stream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
    if (!stream) {
        return encodeFailure(QStringLiteral("JPEG 2000: cannot create the output stream"));
    }
    opj_stream_set_user_data(stream.get(), &file, nullptr);
    opj_stream_set_write_function(stream.get(), jp2Write);
    opj_stream_set_skip_function(stream.get(), jp2Skip);
    opj_stream_set_seek_function(stream.get(), jp2Seek);

    const bool ok = opj_setup_encoder(codec.get(), &parameters, planes.get()) &&
                    opj_start_compress(codec.get(), planes.get(), stream.get()) &&
                    opj_encode(codec.get(), stream.get()) &&
                    opj_end_compress(codec.get(), stream.get());
    if (!ok) {
        return encodeFailure(
            QStringLiteral("JPEG 2000: %1")
                .arg(message.isEmpty() ? QStringLiteral("encoding failed") : message));
    }
    EncodeResult result;
    result.bytes = file.take();
    return result;
}

} // namespace zerbrak::encoders
