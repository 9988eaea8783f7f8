// Whatever picture arbitrary bytes decode to, encoded into each of the six file types: every
// encode must succeed and give a file that decodes whole again, at the picture's size.

#include "DecodeCheck.h"
#include "codec/Encode.h"

#include <array>

namespace {

using namespace zerbrak;

struct Target {
    ImageFileType type;
    EncodeOptions options;
};

// PNG both ways: the re-encode writes it interlaced, but the encoder takes either.
constexpr std::array targets{
    Target{ImageFileType::Tiff, {}},
    Target{ImageFileType::Bmp, {}},
    Target{ImageFileType::Gif, {}},
    Target{ImageFileType::Jpeg, {}},
    Target{ImageFileType::Png, {.interlaced = true}},
    Target{ImageFileType::Png, {}},
    Target{ImageFileType::Jpeg2000, {}},
};

// Pictures up to 256 x 256: larger ones make an iteration slow without reaching new code.
constexpr DecodeLimits smallPictures{.maxPixelBytes = 256 * 256 * 4, .maxFileBytes = 1ULL << 20};

[[noreturn]] void failTarget(const Target& target, const char* what, const QString& detail) {
    std::fprintf(stderr, "zerbrak fuzz: file type %d%s: %s\n", static_cast<int>(target.type),
                 target.options.interlaced ? " interlaced" : "", qPrintable(detail));
    fuzz::fail(what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const DecodeResult source = decodeImageBytes(fuzz::bytesOf(data, size), smallPictures);
    fuzz::checkDecodeResult(source, smallPictures);
    if (!source.isValid()) {
        return 0;
    }
    for (const Target& target : targets) {
        const EncodeResult encoded = encodeImage(source.image, target.type, target.options);
        if (!encoded.ok()) {
            failTarget(target, "a small picture the encoder refused", encoded.error);
        }
        const DecodeResult back = decodeImageBytes(encoded.bytes);
        if (!back.isValid() || back.partial) {
            failTarget(target, "a clean encode that does not decode whole", back.message);
        }
        if (back.image.size() != source.image.size()) {
            failTarget(target, "a clean encode that decodes at another size", back.message);
        }
    }
    return 0;
}
