#include "GifEncoderPalette.h"

#include <cstring>
#include <libimagequant.h>
#include <memory>
#include <optional>
#include <unordered_map>

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

// Full dithering (the default) keeps smooth gradients from banding into a handful of flat
// steps; weaker dithering would save only a sixth of the remap.
constexpr float ditheringLevel = 1.0f;

// 8 of 10 (the library's default is 4): no contrast or dither maps and one refining round of
// the palette, about a sixth of the search's time at 7, with colours within a percent of it.
// At 8 the search merges colours one step apart; pictures it could not improve on (256
// colours or fewer, like every decoded GIF) never reach it, so they keep their colours exactly
// and a GIF re-encodes to the same bytes.
constexpr int quantizerSpeed = 8;

// The picture's own colours as its palette, in order of first appearance, when it has no more
// than `limit` of them; nothing otherwise (found at once for a photograph). Exact, and the same
// pixels always give the same palette.
std::optional<IndexedPicture> ownColours(const QImage& rgba, std::size_t limit) {
    IndexedPicture picture;
    picture.width = rgba.width();
    picture.height = rgba.height();
    picture.indices.resize(static_cast<std::size_t>(rgba.width()) *
                           static_cast<std::size_t>(rgba.height()));
    std::unordered_map<std::uint32_t, std::uint8_t> index;
    index.reserve(limit * 2);
    std::vector<std::uint32_t> colours;
    std::uint32_t last = 0;
    std::uint8_t lastIndex = 0;
    bool haveLast = false;
    auto* target = picture.indices.data();
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar* pixel = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x, pixel += 4, ++target) {
            std::uint32_t colour = 0;
            std::memcpy(&colour, pixel, sizeof colour);
            if (!haveLast || colour != last) {
                const auto [slot, added] =
                    index.try_emplace(colour, static_cast<std::uint8_t>(colours.size()));
                if (added) {
                    if (colours.size() == limit) {
                        return std::nullopt;
                    }
                    colours.push_back(colour);
                }
                last = colour;
                lastIndex = slot->second;
                haveLast = true;
            }
            *target = lastIndex;
        }
    }
    picture.palette.reserve(colours.size());
    for (std::size_t i = 0; i < colours.size(); ++i) {
        std::array<std::uint8_t, 4> rgbaBytes{};
        std::memcpy(rgbaBytes.data(), &colours[i], sizeof colours[i]);
        if (rgbaBytes[3] == 0) {
            picture.transparentIndex = static_cast<int>(i);
        }
        picture.palette.push_back({rgbaBytes[0], rgbaBytes[1], rgbaBytes[2]});
    }
    return picture;
}

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

    if (std::optional<IndexedPicture> exact = ownColours(rgba, 256)) {
        return std::move(*exact);
    }

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
