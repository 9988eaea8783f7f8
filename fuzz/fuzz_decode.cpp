// One lenient reader, or the sniffing entry point, on arbitrary bytes. Compiled once per
// reader; ZERBRAK_FUZZ_READER names which.

#include "DecodeCheck.h"
#include "codec/DecoderCommon.h"
#include "codec/FormatDecoders.h"

namespace {

enum class Reader { Any, Png, Jpeg, Tiff, Gif, Bmp, Jpeg2000 };

constexpr Reader reader = Reader::ZERBRAK_FUZZ_READER;

zerbrak::DecodeResult decode(std::span<const std::uint8_t> bytes,
                             const zerbrak::DecodeLimits& limits) {
    using namespace zerbrak::decoding;
    if constexpr (reader == Reader::Png) {
        return decodePng(bytes, limits);
    } else if constexpr (reader == Reader::Jpeg) {
        return decodeJpeg(bytes, limits);
    } else if constexpr (reader == Reader::Tiff) {
        return decodeTiff(bytes, limits);
    } else if constexpr (reader == Reader::Gif) {
        return decodeGif(bytes, limits);
    } else if constexpr (reader == Reader::Jpeg2000) {
        return decodeJpeg2000(bytes, limits);
    } else if constexpr (reader == Reader::Bmp) {
        if (auto result = decodeBmp(bytes, limits)) {
            return std::move(*result);
        }
        // A variant this reader leaves to Qt: nothing of its own to check.
        return invalidResult(QStringLiteral("left to Qt"));
    } else {
        return zerbrak::decodeImageBytes(bytes, limits);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zerbrak::fuzz;
    checkDecodeResult(decode(bytesOf(data, size), decodeLimits), decodeLimits);
    return 0;
}
