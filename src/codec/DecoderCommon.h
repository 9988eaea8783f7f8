#pragma once

#include "Decode.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zerbrak::decoding {

// Pixels the data never reached are shown in one flat mid-grey, so damage reads as damage
// and not as part of the picture.
inline constexpr QRgb kMissingPixel = 0xFF808080u;

// The most pixels one byte of a file may hold, above what the format reaches for a picture of
// one flat colour at its best compression. A declaration past it was damaged: even the part
// of the picture the bytes could give would be lost in seconds and hundreds of megabytes of
// grey.
struct Capacity {
    std::uint64_t fileBytes = 0;
    std::uint64_t pixelsPerByte = 0;
};
inline constexpr std::uint64_t kPixelsPerByte = 65536; // any container, any compression

// Why a declared size cannot be decoded (zero, more pixel bytes than the limits allow, or more
// pixels than the file's bytes could hold, when a capacity is given); nothing when it can.
// Called before anything of that size is allocated.
std::optional<QString> refuseSize(std::uint64_t width, std::uint64_t height,
                                  const DecodeLimits& limits,
                                  std::optional<Capacity> capacity = std::nullopt);

// A 32-bit canvas of the given size, uninitialised; null when memory ran out.
QImage makeCanvas(int width, int height, bool alpha);

void fillRows(QImage& image, int firstRow, int endRow, QRgb colour);

DecodeResult invalidResult(const QString& message);

using BytesDecoder = DecodeResult (*)(std::span<const std::uint8_t>, const DecodeLimits&);
using BytesRepair = std::optional<std::vector<std::uint8_t>> (*)(std::span<const std::uint8_t>);

// Decodes the bytes; when no picture comes of them and `repair` mends something, the mended
// bytes are decoded instead, and a picture from them is partial, with `mendedMessage`.
DecodeResult decodeOrMend(std::span<const std::uint8_t> bytes, const DecodeLimits& limits,
                          BytesDecoder decode, BytesRepair repair, const QString& mendedMessage);

// A C library's message, which may be missing, trimmed of its trailing newline.
QString libraryMessage(const char* text);

} // namespace zerbrak::decoding
