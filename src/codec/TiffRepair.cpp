#include "TiffRepair.h"

#include <array>
#include <tiffio.h>

namespace zerbrak::decoding {
namespace {

constexpr std::uint16_t tagImageWidth = 256;
constexpr std::uint16_t tagImageLength = 257;
constexpr std::uint16_t tagBitsPerSample = 258;
constexpr std::uint16_t tagCompression = 259;
constexpr std::uint16_t tagPhotometric = 262;
constexpr std::uint16_t tagSamplesPerPixel = 277;
constexpr std::uint16_t tagRowsPerStrip = 278;
constexpr std::uint16_t tagPlanarConfig = 284;
constexpr std::uint16_t tagSampleFormat = 339;
constexpr std::uint16_t typeShort = 3;
constexpr std::uint16_t typeLong = 4;
constexpr std::size_t entrySize = 12;

// Reads and writes numbers in the file's own byte order, inside its bounds only.
class Bytes {
public:
    Bytes(std::vector<std::uint8_t>& data, bool bigEndian) : data_(data), big_(bigEndian) {}

    bool has(std::size_t at, std::size_t length) const {
        return at <= data_.size() && length <= data_.size() - at;
    }
    std::uint32_t get(std::size_t at, std::size_t length) const {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint32_t byte = data_[at + (big_ ? i : length - 1 - i)];
            value = (value << 8U) | byte;
        }
        return value;
    }
    bool put(std::size_t at, std::size_t length, std::uint32_t value) {
        if (get(at, length) == value) {
            return false;
        }
        for (std::size_t i = 0; i < length; ++i) {
            const std::size_t shift = 8 * (big_ ? length - 1 - i : i);
            data_[at + i] = static_cast<std::uint8_t>(value >> shift);
        }
        return true;
    }

private:
    std::vector<std::uint8_t>& data_;
    bool big_;
};

bool isSampleWidth(std::uint32_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 32;
}

// Makes every value of a per-sample SHORT array equal to the first sane one.
bool evenOutPerSample(Bytes& file, std::size_t entry, std::uint32_t samples, bool widths) {
    bool changed = file.put(entry + 2, 2, typeShort);
    changed |= file.put(entry + 4, 4, samples);
    // Two values fit in the entry itself; more live at the offset it holds.
    const std::size_t values = samples <= 2 ? entry + 8 : file.get(entry + 8, 4);
    if (!file.has(values, 2 * std::size_t{samples})) {
        return changed;
    }
    std::uint32_t first = file.get(values, 2);
    if (widths && !isSampleWidth(first)) {
        first = 8;
    }
    for (std::uint32_t s = 0; s < samples; ++s) {
        changed |= file.put(values + 2 * std::size_t{s}, 2, first);
    }
    return changed;
}

// A size field (one value) whose count or type was struck. A SHORT leaves the last two bytes
// of the value field zero in either byte order, and a small LONG read as a SHORT there is the
// same number, so those two bytes say which type gives back the file's own number.
bool mendSize(Bytes& file, std::size_t entry) {
    bool changed = file.put(entry + 4, 4, 1);
    const std::uint32_t type = file.get(entry + 2, 2);
    if (type != typeShort && type != typeLong) {
        changed |= file.put(entry + 2, 2, file.get(entry + 10, 2) == 0 ? typeShort : typeLong);
    }
    return changed;
}

} // namespace

std::optional<std::vector<std::uint8_t>> repairTiffDirectory(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8) {
        return std::nullopt;
    }
    const bool little = bytes[0] == 'I' && bytes[1] == 'I';
    const bool big = bytes[0] == 'M' && bytes[1] == 'M';
    if (!little && !big) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    Bytes file(copy, big);
    if (file.get(2, 2) != 42) {
        return std::nullopt; // BigTIFF or no TIFF at all
    }
    const std::size_t directory = file.get(4, 4);
    if (!file.has(directory, 2)) {
        return std::nullopt;
    }
    std::size_t entries = file.get(directory, 2);
    const std::size_t first = directory + 2;
    while (entries > 0 && !file.has(first, entries * entrySize)) {
        --entries;
    }

    // Samples per pixel first: the per-sample arrays are evened out to its value.
    std::uint32_t samples = 0;
    bool changed = false;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = first + i * entrySize;
        if (file.get(entry, 2) == tagSamplesPerPixel) {
            changed |= file.put(entry + 2, 2, typeShort);
            changed |= file.put(entry + 4, 4, 1);
            samples = file.get(entry + 8, 2);
        }
    }
    if (samples == 0 || samples > 4) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = first + i * entrySize;
        switch (file.get(entry, 2)) {
        case tagBitsPerSample:
            changed |= evenOutPerSample(file, entry, samples, true);
            break;
        case tagSampleFormat:
            changed |= evenOutPerSample(file, entry, samples, false);
            break;
        case tagImageWidth:
        case tagImageLength:
        case tagRowsPerStrip:
            changed |= mendSize(file, entry);
            break;
        case tagCompression:
            // A scheme libtiff does not know can only be damage; uncompressed is the likeliest
            // reading of what follows, and any reading shows something.
            if (TIFFIsCODECConfigured(static_cast<std::uint16_t>(file.get(entry + 8, 2))) == 0) {
                changed |= file.put(entry + 8, 2, COMPRESSION_NONE);
            }
            [[fallthrough]];
        case tagPhotometric:
        case tagPlanarConfig:
            changed |= file.put(entry + 2, 2, typeShort);
            changed |= file.put(entry + 4, 4, 1);
            break;
        default:
            break;
        }
    }
    if (!changed) {
        return std::nullopt;
    }
    return copy;
}

} // namespace zerbrak::decoding
