#pragma once

#include "Decode.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>

namespace zerbrak::decoding {

// Pixels the data never reached are shown in one flat mid-grey, so damage reads as damage
// and not as part of the picture.
inline constexpr QRgb kMissingPixel = 0xFF808080u;

// Why a declared size cannot be decoded (zero, or more pixel bytes than the limits allow);
// nothing when it can. Called before anything of that size is allocated.
std::optional<QString> refuseSize(std::uint64_t width, std::uint64_t height,
                                  const DecodeLimits& limits);

// A 32-bit canvas of the given size, uninitialised; null when memory ran out.
QImage makeCanvas(int width, int height, bool alpha);

void fillRows(QImage& image, int firstRow, int endRow, QRgb colour);

DecodeResult invalidResult(const QString& message);

// A C library's message, which may be missing, trimmed of its trailing newline.
QString libraryMessage(const char* text);

} // namespace zerbrak::decoding
