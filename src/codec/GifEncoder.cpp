#include "EncoderMemoryFile.h"
#include "Encoders.h"
#include "GifEncoderPalette.h"

#include <algorithm>
#include <array>
#include <bit>
#include <gif_lib.h>
#include <memory>
#include <new>

namespace zerbrak::encoders {

namespace {

// GIF stores dimensions in 16 bits.
constexpr int maxSide = 0xffff;

int gifWrite(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return length;
}

struct GifClose {
    void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};
struct MapFree {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

using ColourMap = std::unique_ptr<ColorMapObject, MapFree>;

// giflib insists on a power-of-two table; unused entries stay black.
ColourMap colourMapFor(const IndexedPicture& picture) {
    const auto count = std::max<std::size_t>(2, std::bit_ceil(picture.palette.size()));
    ColourMap map(GifMakeMapObject(static_cast<int>(count), nullptr));
    if (!map) {
        return map;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto rgb =
            i < picture.palette.size() ? picture.palette[i] : std::array<std::uint8_t, 3>{0, 0, 0};
        map->Colors[i] = GifColorType{rgb[0], rgb[1], rgb[2]};
    }
    return map;
}

QString gifFailure(int code) {
    const char* text = GifErrorString(code);
    return QStringLiteral("GIF: %1").arg(text ? QString::fromUtf8(text)
                                              : QStringLiteral("error %1").arg(code));
}

bool putTransparency(GifFileType* gif, int transparentIndex) {
    // A still picture: no disposal, no delay, no user input; only the transparent index.
    GraphicsControlBlock control{};
    control.TransparentColor = transparentIndex;
    std::array<GifByteType, 4> extension{};
    const size_t length = EGifGCBToExtension(&control, extension.data());
    return EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length),
                            extension.data()) == GIF_OK;
}

} // namespace

EncodeResult encodeGif(const QImage& image) {
    if (image.width() > maxSide || image.height() > maxSide) {
        return encodeFailure(QStringLiteral("The picture is too large for a GIF file"));
    }
    IndexedPicture picture = quantizeForGif(image);
    if (!picture.error.isEmpty()) {
        return encodeFailure(picture.error);
    }
    const ColourMap map = colourMapFor(picture);
    if (!map) {
        return encodeFailure(QStringLiteral("GIF: cannot allocate the colour table"));
    }

    EncodeResult result;
    // Room for one byte a pixel, more than the codes of a detailed picture take: the file is
    // not copied as it grows.
    reserveOutput(result.bytes, picture.indices.size());
    int openError = 0;
    std::unique_ptr<GifFileType, GifClose> gif(EGifOpen(&result.bytes, gifWrite, &openError));
    if (!gif) {
        return encodeFailure(gifFailure(openError));
    }
    // The graphics control block needs 89a, and a plain picture reads the same either way.
    EGifSetGifVersion(gif.get(), true);

    bool ok =
        EGifPutScreenDesc(gif.get(), picture.width, picture.height, 8, 0, map.get()) == GIF_OK;
    if (ok && picture.transparentIndex >= 0) {
        ok = putTransparency(gif.get(), picture.transparentIndex);
    }
    ok = ok &&
         EGifPutImageDesc(gif.get(), 0, 0, picture.width, picture.height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < picture.height; ++y) {
        GifPixelType* row = picture.indices.data() +
                            static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width);
        ok = EGifPutLine(gif.get(), row, picture.width) == GIF_OK;
    }
    if (!ok) {
        return encodeFailure(gifFailure(gif->Error));
    }
    // Closing writes the trailer; the handle is gone afterwards whatever happens.
    int closeError = 0;
    if (EGifCloseFile(gif.release(), &closeError) != GIF_OK) {
        return encodeFailure(gifFailure(closeError));
    }
    return result;
}

} // namespace zerbrak::encoders
