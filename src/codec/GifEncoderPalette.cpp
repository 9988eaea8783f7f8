#include "GifEncoderPalette.h"

#include <libimagequant.h>
#include <memory>

namespace zerbrak::encoders {

namespace {

struct AttrDestroy {
    void operator()(liq_attr* attr) const { liq_attr_destroy(attr); }
};
struct ImageDestroy {
    void operator()(liq_image* image) const { liq_image_destroy(image); }
};
struct ResultDestroy {
    void operator()(liq_result* result) const { liq_result_destroy(result); }
};

// Strong dithering keeps smooth gradients from banding into a handful of flat steps; weaker
// dithering saves no measurable time in the remap.
constexpr float ditheringLevel = 1.0f;

// 7 of 10 (the library's default is 4): one refining round of the palette instead of many,
// which keeps the colours within a percent or two of the slow search at a quarter of its time.
// Faster settings merge input colours one step apart, so a picture of 256 colours or fewer
// would no longer come back exactly, nor re-encode to the same bytes.
constexpr int quantizerSpeed = 7;

// Makes alpha binary; returns whether any pixel is transparent. Transparent pixels all get
// the same colour so the quantizer spends exactly one palette entry on them.
bool binarizeAlpha(QImage& rgba) {
    bool anyTransparent = false;
    for (int y = 0; y < rgba.height(); ++y) {
        uchar* pixel = rgba.scanLine(y);
        for (int x = 0; x < rgba.width(); ++x, pixel += 4) {
            if (pixel[3] == 0) {
                pixel[0] = pixel[1] = pixel[2] = 0;
                anyTransparent = true;
            } else {
                pixel[3] = 255;
            }
        }
    }
    return anyTransparent;
}

IndexedPicture failure(const QString& message) {
    IndexedPicture picture;
    picture.error = message;
    return picture;
}

// Points the transparent pixels at one palette entry, adding it if the quantizer did not.
void settleTransparency(IndexedPicture& picture, const QImage& rgba, const liq_palette& palette) {
    int index = -1;
    unsigned char lowestAlpha = 128;
    for (unsigned i = 0; i < palette.count; ++i) {
        if (palette.entries[i].a < lowestAlpha) {
            lowestAlpha = palette.entries[i].a;
            index = static_cast<int>(i);
        }
    }
    if (index < 0) {
        // There is room: the quantizer was held to 255 colours.
        index = static_cast<int>(picture.palette.size());
        picture.palette.push_back({0, 0, 0});
    }
    picture.transparentIndex = index;
    auto* target = picture.indices.data();
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar* pixel = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x, pixel += 4, ++target) {
            if (pixel[3] == 0) {
                *target = static_cast<std::uint8_t>(index);
            }
        }
    }
}

} // namespace

IndexedPicture quantizeForGif(const QImage& image) {
    QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    // Without an alpha channel the conversion has made every pixel opaque already.
    const bool anyTransparent = image.hasAlphaChannel() && binarizeAlpha(rgba);

    const std::unique_ptr<liq_attr, AttrDestroy> attr(liq_attr_create());
    if (!attr) {
        return failure(QStringLiteral("GIF: cannot create the quantizer"));
    }
    if (liq_set_max_colors(attr.get(), anyTransparent ? 255 : 256) != LIQ_OK ||
        liq_set_speed(attr.get(), quantizerSpeed) != LIQ_OK) {
        return failure(QStringLiteral("GIF: the quantizer refused its settings"));
    }

    std::vector<void*> rows(static_cast<std::size_t>(rgba.height()));
    for (int y = 0; y < rgba.height(); ++y) {
        rows[static_cast<std::size_t>(y)] = rgba.scanLine(y);
    }
    const std::unique_ptr<liq_image, ImageDestroy> input(
        liq_image_create_rgba_rows(attr.get(), rows.data(), rgba.width(), rgba.height(), 0.0));
    if (!input) {
        return failure(QStringLiteral("GIF: the quantizer refused the picture"));
    }
    liq_result* rawResult = nullptr;
    if (liq_image_quantize(input.get(), attr.get(), &rawResult) != LIQ_OK) {
        return failure(QStringLiteral("GIF: quantizing the picture failed"));
    }
    const std::unique_ptr<liq_result, ResultDestroy> result(rawResult);
    liq_set_dithering_level(result.get(), ditheringLevel);

    IndexedPicture picture;
    picture.width = rgba.width();
    picture.height = rgba.height();
    picture.indices.resize(static_cast<std::size_t>(rgba.width()) *
                           static_cast<std::size_t>(rgba.height()));
    if (liq_write_remapped_image(result.get(), input.get(), picture.indices.data(),
                                 picture.indices.size()) != LIQ_OK) {
        return failure(QStringLiteral("GIF: remapping the picture failed"));
    }
    // Only now: remapping refines the palette it was handed.
    const liq_palette* palette = liq_get_palette(result.get());
    picture.palette.reserve(palette->count + 1);
    for (unsigned i = 0; i < palette->count; ++i) {
        const liq_color& colour = palette->entries[i];
        picture.palette.push_back({colour.r, colour.g, colour.b});
    }
    if (anyTransparent) {
        settleTransparency(picture, rgba, *palette);
    }
    return picture;
}

} // namespace zerbrak::encoders
