#include "Decode.h"

#include <algorithm>
#include <array>

namespace zerbrak {
namespace {

template <std::size_t N>
bool startsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& magic) {
    return bytes.size() >= N && std::equal(magic.begin(), magic.end(), bytes.begin());
}

} // namespace

ImageFormat sniffFormat(std::span<const std::uint8_t> bytes) {
    // PNG's signature holds CR LF and LF exactly so that text-mode damage breaks it; such a
    // file is still worth handing to the PNG reader, which looks past the signature. So is
    // one whose first bytes were struck, with its header chunk in place behind them.
    constexpr std::array<std::uint8_t, 4> header{'I', 'H', 'D', 'R'};
    if (startsWith(bytes, std::array<std::uint8_t, 4>{0x89, 'P', 'N', 'G'}) ||
        (bytes.size() >= 16 && std::equal(header.begin(), header.end(), bytes.begin() + 12))) {
        return ImageFormat::Png;
    }
    if (startsWith(bytes, std::array<std::uint8_t, 3>{0xFF, 0xD8, 0xFF})) {
        return ImageFormat::Jpeg;
    }
    if (startsWith(bytes, std::array<std::uint8_t, 4>{'I', 'I', 0x2A, 0x00}) ||
        startsWith(bytes, std::array<std::uint8_t, 4>{'M', 'M', 0x00, 0x2A}) ||
        startsWith(bytes, std::array<std::uint8_t, 4>{'I', 'I', 0x2B, 0x00}) ||
        startsWith(bytes, std::array<std::uint8_t, 4>{'M', 'M', 0x00, 0x2B})) {
        return ImageFormat::Tiff;
    }
    if (startsWith(bytes, std::array<std::uint8_t, 6>{'G', 'I', 'F', '8', '7', 'a'}) ||
        startsWith(bytes, std::array<std::uint8_t, 6>{'G', 'I', 'F', '8', '9', 'a'})) {
        return ImageFormat::Gif;
    }
    if (startsWith(bytes, std::array<std::uint8_t, 12>{0x00, 0x00, 0x00, 0x0C, 'j', 'P', ' ', ' ',
                                                       0x0D, 0x0A, 0x87, 0x0A}) ||
        startsWith(bytes, std::array<std::uint8_t, 4>{0xFF, 0x4F, 0xFF, 0x51})) {
        return ImageFormat::Jpeg2000;
    }
    // Two letters are a weak mark, but a BMP header has room for nothing longer; the reader
    // checks the header size before trusting anything else.
    if (startsWith(bytes, std::array<std::uint8_t, 2>{'B', 'M'}) && bytes.size() >= 26) {
        return ImageFormat::Bmp;
    }
    return ImageFormat::Unknown;
}

} // namespace zerbrak
