#pragma once

#include "codec/DecodeResult.h"

#include <QString>
#include <cstdint>
#include <span>

namespace zerbrak {

// Where the runs have damaged data decoded. The program hands them one that decodes in a
// helper process; without one (the tests) they decode in-process.
class ImageDecoder {
public:
    virtual ~ImageDecoder() = default;
    virtual DecodeResult decodeBytes(std::span<const std::uint8_t> bytes) = 0;
    virtual DecodeResult decodeFile(const QString& path) = 0;

protected:
    ImageDecoder() = default;
    ImageDecoder(const ImageDecoder&) = default;
    ImageDecoder& operator=(const ImageDecoder&) = default;
};

// Decodes with `decoder`, or in-process when it is null.
DecodeResult decodeBytes(ImageDecoder* decoder, std::span<const std::uint8_t> bytes);
DecodeResult decodeFile(ImageDecoder* decoder, const QString& path);

} // namespace zerbrak
