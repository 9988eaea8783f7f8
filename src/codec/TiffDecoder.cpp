#include "DecoderCommon.h"
#include "FormatDecoders.h"
#include "TiffRepair.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <tiffio.h>
#include <vector>

namespace zerbrak::decoding {
namespace {

// The most bytes of samples one byte of a file may hold: above what LZW (about 2,700), deflate
// (1,032) or a fax coding of a blank page reach.
constexpr std::uint64_t kSampleBytesPerByte = 4096;
// Samples stored as they are fill the file byte for byte; what a truncated file still holds
// beyond a sixty-fourth of them is shown.
constexpr std::uint64_t kStoredSampleBytesPerByte = 64;

struct MemoryFile {
    std::span<const std::uint8_t> bytes;
    std::uint64_t pos = 0;
    std::array<char, 512> error{};
    std::array<char, 512> warning{};
};

MemoryFile& fileOf(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& file = fileOf(handle);
    if (size <= 0 || file.pos >= file.bytes.size()) {
        return 0;
    }
    const auto count =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size), file.bytes.size() - file.pos);
    std::memcpy(buffer, file.bytes.data() + file.pos, static_cast<std::size_t>(count));
    file.pos += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = fileOf(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) {
        base = file.pos;
    } else if (whence == SEEK_END) {
        base = file.bytes.size();
    }
    // Offsets past the end are allowed, as for a file; reads there simply find nothing.
    if (offset > UINT64_MAX - base) {
        return static_cast<toff_t>(-1);
    }
    file.pos = base + offset;
    return file.pos;
}

int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t handle) {
    return fileOf(handle).bytes.size();
}

int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

// libtiff reports through printf-style handlers; ours keep the first of each kind instead
// of printing them.
int keepText(std::array<char, 512>& to, const char* module, const char* format, va_list args) {
    if (to[0] != '\0') {
        return 1;
    }
    std::array<char, 400> text{};
    std::vsnprintf(text.data(), text.size(), format, args);
    std::snprintf(to.data(), to.size(), "%s%s%s", module != nullptr ? module : "",
                  module != nullptr ? ": " : "", text.data());
    return 1;
}

int onError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    return keepText(static_cast<MemoryFile*>(user)->error, module, format, args);
}

int onWarning(TIFF*, void* user, const char* module, const char* format, va_list args) {
    return keepText(static_cast<MemoryFile*>(user)->warning, module, format, args);
}

// libtiff gives up on some damage without a word; the result still says what happened.
QString reason(const char* text, const char* otherwise) {
    const QString message = libraryMessage(text);
    return message.isEmpty() ? QString::fromLatin1(otherwise) : message;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct OptionsFreer {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// Owns the RGBA reading state that TIFFRGBAImageBegin sets up.
class RgbaReader {
public:
    RgbaReader() = default;
    RgbaReader(const RgbaReader&) = delete;
    RgbaReader& operator=(const RgbaReader&) = delete;
    ~RgbaReader() {
        if (begun_) {
            TIFFRGBAImageEnd(&image_);
        }
    }

    bool begin(TIFF* tiff, std::array<char, 1024>& message) {
        begun_ = TIFFRGBAImageBegin(&image_, tiff, 1, message.data()) != 0;
        return begun_;
    }
    TIFFRGBAImage& image() { return image_; }

private:
    TIFFRGBAImage image_{};
    bool begun_ = false;
};

// libtiff packs RGBA with red in the low byte; QImage wants blue there.
void swapRedBlue(QImage& canvas, int firstRow, int endRow) {
    for (int y = firstRow; y < endRow; ++y) {
        auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            const QRgb p = line[x];
            line[x] = (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
        }
    }
}

using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;
// Opens the bytes `file` holds, its reports kept in `file`; null when libtiff refuses them.
TiffHandle openTiff(MemoryFile& file, const DecodeLimits& limits) {
    const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
    if (!options) {
        return nullptr;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options.get(),
        static_cast<tmsize_t>(std::min<std::uint64_t>(limits.maxPixelBytes, INT64_MAX)));
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &file);
    // "m": no memory mapping, every read goes through readProc and its bounds.
    return TiffHandle(TIFFClientOpenExt("memory", "rm", &file, readProc, writeProc, seekProc,
                                        closeProc, sizeProc, mapProc, unmapProc, options.get()));
}

// A second reader of the same bytes for rows one at a time: the first one's decoder is left
// mid-strip by the failed strip, and libtiff would go on from there instead of from the
// strip's start.
class RowReader {
public:
    RowReader(std::span<const std::uint8_t> bytes, const DecodeLimits& limits)
        : bytes_(bytes), limits_(limits) {}

    // A row's buffer, made once for every damaged strip: a struck sample count can make one
    // row hundreds of megabytes that the decoder never reaches.
    std::span<std::uint8_t> line(std::size_t size) {
        if (lineSize_ < size) {
            line_ = std::make_unique_for_overwrite<std::uint8_t[]>(size);
            lineSize_ = size;
        }
        return {line_.get(), size};
    }

    TIFF* get() {
        if (!tiff_ && !tried_) {
            tried_ = true;
            file_ = std::make_unique<MemoryFile>();
            file_->bytes = bytes_;
            tiff_ = openTiff(*file_, limits_);
        }
        return tiff_.get();
    }

private:
    std::span<const std::uint8_t> bytes_;
    const DecodeLimits& limits_;
    std::unique_ptr<MemoryFile> file_;
    TiffHandle tiff_;
    bool tried_ = false;
    std::unique_ptr<std::uint8_t[]> line_;
    std::size_t lineSize_ = 0;
};

// A damaged strip still holds the rows decoded before the damage: read one at a time, each
// is drawn by the RGBA reader's own pixel routine, until the first that fails. Returns how
// many rows were drawn. Only strips of interleaved samples stored top down are read by rows;
// tiles, separate planes and YCbCr count as lost whole.
std::uint32_t drawRowsBeforeDamage(RowReader& reader, TIFFRGBAImage& rgba, QImage& canvas,
                                   std::uint32_t row, std::uint32_t rows) {
    TIFF* tiff = reader.get();
    if (tiff == nullptr) {
        return 0;
    }
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    const tmsize_t size = TIFFScanlineSize(tiff);
    // Subsampled YCbCr is drawn in blocks of several rows, never one at a time.
    if (TIFFIsTiled(tiff) != 0 || rgba.isContig == 0 || rgba.put.contig == nullptr ||
        orientation != ORIENTATION_TOPLEFT || rgba.photometric == PHOTOMETRIC_YCBCR || size <= 0) {
        return 0;
    }
    const std::span<std::uint8_t> line = reader.line(static_cast<std::size_t>(size));
    const auto width = static_cast<std::uint32_t>(canvas.width());
    std::uint32_t kept = 0;
    while (kept < rows && TIFFReadScanline(tiff, line.data(), row + kept, 0) > 0) {
        const int y = static_cast<int>(row + kept);
        auto* raster = reinterpret_cast<std::uint32_t*>(canvas.scanLine(y));
        (*rgba.put.contig)(&rgba, raster, 0, row + kept, width, 1, 0, 0, line.data());
        ++kept;
    }
    return kept;
}

DecodeResult decodeDirectly(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    auto file = std::make_unique<MemoryFile>();
    file->bytes = bytes;
    const TiffHandle tiff = openTiff(*file, limits);
    if (!tiff) {
        return invalidResult(reason(file->error.data(), "The TIFF header could not be read."));
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    if (auto refusal = refuseSize(width, height, limits, Capacity{bytes.size(), kPixelsPerByte})) {
        return invalidResult(*refusal);
    }
    // libtiff zeroes a buffer for every strip it reads, so a struck height, sample count or
    // depth costs seconds even when no strip decodes.
    const std::uint64_t sampleBytes =
        std::uint64_t{height} * static_cast<std::uint64_t>(TIFFScanlineSize64(tiff.get()));
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_COMPRESSION, &compression);
    const std::uint64_t perByte =
        compression == COMPRESSION_NONE ? kStoredSampleBytesPerByte : kSampleBytesPerByte;
    if (sampleBytes > 2 * limits.maxPixelBytes ||
        sampleBytes / perByte > std::max<std::uint64_t>(bytes.size(), 1)) {
        return invalidResult(QStringLiteral("The file declares %1 bytes of samples for %2 x %3 "
                                            "pixels, far more than its %4 bytes could hold.")
                                 .arg(sampleBytes)
                                 .arg(width)
                                 .arg(height)
                                 .arg(bytes.size()));
    }
    std::array<char, 1024> message{};
    RgbaReader reader;
    if (!reader.begin(tiff.get(), message)) {
        return invalidResult(reason(message.data(), "The TIFF picture could not be set up."));
    }
    TIFFRGBAImage& rgba = reader.image();
    rgba.req_orientation = ORIENTATION_TOPLEFT;
    const bool alpha = rgba.alpha != 0;
    const bool premultiplied = rgba.alpha == EXTRASAMPLE_ASSOCALPHA;
    QImage canvas(static_cast<int>(width), static_cast<int>(height),
                  premultiplied ? QImage::Format_ARGB32_Premultiplied
                  : alpha       ? QImage::Format_ARGB32
                                : QImage::Format_RGB32);
    if (canvas.isNull()) {
        return invalidResult(QStringLiteral("Out of memory."));
    }

    // A strip (or a row of tiles) at a time, so that one damaged strip costs only its rows.
    std::uint32_t band = 0;
    if (TIFFIsTiled(tiff.get()) != 0) {
        TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &band);
    } else {
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &band);
    }
    band = std::clamp<std::uint32_t>(band, 1, height);
    std::uint32_t goodRows = 0;
    RowReader rowReader(bytes, limits);
    for (std::uint32_t row = 0; row < height; row += band) {
        const std::uint32_t rows = std::min(band, height - row);
        rgba.row_offset = static_cast<int>(row);
        rgba.col_offset = 0;
        auto* raster = reinterpret_cast<std::uint32_t*>(canvas.scanLine(static_cast<int>(row)));
        const int first = static_cast<int>(row);
        const int end = static_cast<int>(row + rows);
        if (TIFFRGBAImageGet(&rgba, raster, width, rows) != 0) {
            swapRedBlue(canvas, first, end);
            goodRows += rows;
            continue;
        }
        // The rows from the first that fails to read on are grey.
        const std::uint32_t kept = drawRowsBeforeDamage(rowReader, rgba, canvas, row, rows);
        swapRedBlue(canvas, first, first + static_cast<int>(kept));
        goodRows += kept;
        fillRows(canvas, first + static_cast<int>(kept), end, kMissingPixel);
    }
    if (goodRows == 0) {
        return invalidResult(reason(file->error.data(), "No strip of the TIFF picture decoded."));
    }
    DecodeResult result;
    result.partial = goodRows < height;
    result.message =
        libraryMessage(file->error[0] != '\0' ? file->error.data() : file->warning.data());
    if (result.partial && result.message.isEmpty()) {
        result.message =
            QStringLiteral("%1 of %2 rows of the TIFF picture decoded.").arg(goodRows).arg(height);
    }
    result.image = premultiplied ? canvas.convertToFormat(QImage::Format_ARGB32) : canvas;
    return result;
}

} // namespace

DecodeResult decodeTiff(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    return decodeOrMend(
        bytes, limits, decodeDirectly, repairTiffDirectory,
        QStringLiteral("The TIFF directory was damaged; its sample fields were mended."));
}

} // namespace zerbrak::decoding
