#include "DecoderCommon.h"
#include "FormatDecoders.h"
#include "Jpeg2000HeaderRepair.h"
#include "OpenJpegHandles.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <openjpeg.h>
#include <optional>
#include <vector>

namespace zerbrak::decoding {
namespace {

struct MemoryStream {
    std::span<const std::uint8_t> bytes;
    std::uint64_t pos = 0;
};

OPJ_SIZE_T readStream(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* stream = static_cast<MemoryStream*>(user);
    if (stream->pos >= stream->bytes.size()) {
        return static_cast<OPJ_SIZE_T>(-1);
    }
    const auto count = std::min<std::uint64_t>(size, stream->bytes.size() - stream->pos);
    std::memcpy(buffer, stream->bytes.data() + stream->pos, static_cast<std::size_t>(count));
    stream->pos += count;
    return static_cast<OPJ_SIZE_T>(count);
}

OPJ_OFF_T skipStream(OPJ_OFF_T count, void* user) {
    auto* stream = static_cast<MemoryStream*>(user);
    if (count < 0) {
        const auto back = std::min<std::uint64_t>(static_cast<std::uint64_t>(-count), stream->pos);
        stream->pos -= back;
        return -static_cast<OPJ_OFF_T>(back);
    }
    const auto ahead = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(count),
        stream->bytes.size() - std::min<std::uint64_t>(stream->pos, stream->bytes.size()));
    stream->pos += ahead;
    return static_cast<OPJ_OFF_T>(ahead);
}

OPJ_BOOL seekStream(OPJ_OFF_T offset, void* user) {
    auto* stream = static_cast<MemoryStream*>(user);
    if (offset < 0 || static_cast<std::uint64_t>(offset) > stream->bytes.size()) {
        return OPJ_FALSE;
    }
    stream->pos = static_cast<std::uint64_t>(offset);
    return OPJ_TRUE;
}

struct Messages {
    std::array<char, 512> error{};
    std::array<char, 512> warning{};
};

void keep(std::array<char, 512>& to, const char* text) {
    if (to[0] == '\0' && text != nullptr) {
        std::strncpy(to.data(), text, to.size() - 1);
    }
}
void onError(const char* text, void* user) {
    keep(static_cast<Messages*>(user)->error, text);
}
void onWarning(const char* text, void* user) {
    keep(static_cast<Messages*>(user)->warning, text);
}
void onInfo(const char*, void*) {}

// One component's samples, brought to 8 bits whatever their precision and sign.
class ComponentReader {
public:
    ComponentReader(const opj_image_comp_t& comp, const opj_image_t& image) : comp_(comp) {
        const OPJ_UINT32 precision = std::clamp<OPJ_UINT32>(comp.prec, 1, 31);
        offset_ = comp.sgnd != 0 ? (std::int64_t{1} << (precision - 1)) : 0;
        max_ = (std::int64_t{1} << precision) - 1;
        dx_ = std::max<OPJ_UINT32>(comp.dx, 1);
        dy_ = std::max<OPJ_UINT32>(comp.dy, 1);
        // A picture decoded at a lower resolution starts on its own, coarser grid.
        x0_ = reduced(image.x0, comp.factor);
        y0_ = reduced(image.y0, comp.factor);
    }

    bool present() const { return comp_.data != nullptr && comp_.w > 0 && comp_.h > 0; }

    int at(std::uint32_t x, std::uint32_t y) const {
        if (!present()) {
            return 0x80;
        }
        // Subsampled components cover several picture pixels each.
        const std::uint64_t cx = index(x0_, x, dx_, comp_.x0, comp_.w);
        const std::uint64_t cy = index(y0_, y, dy_, comp_.y0, comp_.h);
        const std::int64_t value = std::clamp<std::int64_t>(
            std::int64_t{comp_.data[cy * comp_.w + cx]} + offset_, 0, max_);
        return static_cast<int>(value * 255 / max_);
    }

    static OPJ_UINT32 reduced(OPJ_UINT32 value, OPJ_UINT32 factor) {
        const OPJ_UINT32 shift = std::min<OPJ_UINT32>(factor, 31);
        return static_cast<OPJ_UINT32>(((std::uint64_t{value} + (std::uint64_t{1} << shift) - 1)) >>
                                       shift);
    }

private:
    // Picture coordinate to sample index along one axis, held inside the component.
    static std::uint64_t index(OPJ_UINT32 origin, std::uint32_t at, OPJ_UINT32 step,
                               OPJ_UINT32 compOrigin, OPJ_UINT32 extent) {
        const std::uint64_t onGrid = (std::uint64_t{origin} + at) / step;
        return std::min<std::uint64_t>(onGrid - std::min<std::uint64_t>(compOrigin, onGrid),
                                       extent - 1);
    }

    const opj_image_comp_t& comp_;
    std::int64_t offset_ = 0;
    std::int64_t max_ = 255;
    OPJ_UINT32 dx_ = 1;
    OPJ_UINT32 dy_ = 1;
    OPJ_UINT32 x0_ = 0;
    OPJ_UINT32 y0_ = 0;
};

int clampByte(double value) {
    return std::clamp(static_cast<int>(value + 0.5), 0, 255);
}

void toCanvas(const opj_image_t& image, QImage& canvas) {
    const std::uint32_t count = std::min<std::uint32_t>(image.numcomps, 4);
    std::vector<ComponentReader> comps;
    comps.reserve(count);
    for (std::uint32_t c = 0; c < count; ++c) {
        comps.emplace_back(image.comps[c], image);
    }
    const bool ycc = image.color_space == OPJ_CLRSPC_SYCC && count >= 3;
    const bool colour = count >= 3;
    const bool alpha = count == 2 || count == 4;
    const auto width = static_cast<std::uint32_t>(canvas.width());
    const auto height = static_cast<std::uint32_t>(canvas.height());
    for (std::uint32_t y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<QRgb*>(canvas.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < width; ++x) {
            int r = comps[0].at(x, y);
            int g = r;
            int b = r;
            if (colour) {
                g = comps[1].at(x, y);
                b = comps[2].at(x, y);
                if (ycc) {
                    const double luma = r;
                    const double cb = g - 128.0;
                    const double cr = b - 128.0;
                    r = clampByte(luma + 1.402 * cr);
                    g = clampByte(luma - 0.344136 * cb - 0.714136 * cr);
                    b = clampByte(luma + 1.772 * cb);
                }
            }
            const int a = alpha ? comps[count - 1].at(x, y) : 255;
            out[x] = qRgba(r, g, b, a);
        }
    }
}

bool anyComponentData(const opj_image_t& image) {
    for (std::uint32_t c = 0; c < std::min<std::uint32_t>(image.numcomps, 4); ++c) {
        if (image.comps[c].data != nullptr) {
            return true;
        }
    }
    return false;
}

// Where the codestream starts: its SOC marker followed by SIZ.
std::size_t codestreamStart(std::span<const std::uint8_t> bytes) {
    constexpr std::array<std::uint8_t, 4> socSiz{0xFF, 0x4F, 0xFF, 0x51};
    const auto found = std::search(bytes.begin(), bytes.end(), socSiz.begin(), socSiz.end());
    return static_cast<std::size_t>(found - bytes.begin());
}

// What a codestream's main header declares, read by us before the library sees it: a
// header declaring tens of thousands of tiles costs the library hundreds of megabytes
// before a single pixel is decoded.
struct Declared {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t tiles = 0;
    std::uint32_t components = 0;
    std::uint32_t layers = 0;
    std::uint32_t levels = 0;
    std::size_t layersAt = 0; // where the main coding style's layer count lies; 0: none
};

std::uint32_t bigEndian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

std::uint64_t tilesAlong(std::uint32_t end, std::uint32_t tileOrigin, std::uint32_t tileSize) {
    return end > tileOrigin ? (std::uint64_t{end} - tileOrigin + tileSize - 1) / tileSize : 0;
}

// The codestream must start at `codestream`; nothing comes back when its main header is
// too damaged to say, and the library is left to judge it.
std::optional<Declared> readDeclared(std::span<const std::uint8_t> codestream) {
    constexpr std::size_t sizLength = 4 + 38;
    if (codestream.size() < sizLength || bigEndian(codestream, 0, 4) != 0xFF4FFF51u) {
        return std::nullopt;
    }
    const std::uint32_t x1 = bigEndian(codestream, 8, 4);
    const std::uint32_t y1 = bigEndian(codestream, 12, 4);
    const std::uint32_t x0 = bigEndian(codestream, 16, 4);
    const std::uint32_t y0 = bigEndian(codestream, 20, 4);
    const std::uint32_t tileWidth = bigEndian(codestream, 24, 4);
    const std::uint32_t tileHeight = bigEndian(codestream, 28, 4);
    const std::uint32_t tileX0 = bigEndian(codestream, 32, 4);
    const std::uint32_t tileY0 = bigEndian(codestream, 36, 4);
    if (tileWidth == 0 || tileHeight == 0) {
        return std::nullopt;
    }
    Declared declared;
    declared.width = x1 > x0 ? x1 - x0 : 0;
    declared.height = y1 > y0 ? y1 - y0 : 0;
    declared.tiles = tilesAlong(x1, tileX0, tileWidth) * tilesAlong(y1, tileY0, tileHeight);
    declared.components = bigEndian(codestream, 40, 2);
    // The coding style follows SIZ among the main header's markers, before the first tile.
    std::size_t at = 4 + bigEndian(codestream, 4, 2);
    while (at + 4 <= codestream.size() && codestream[at] == 0xFF && codestream[at + 1] != 0x90) {
        const std::uint32_t length = bigEndian(codestream, at + 2, 2);
        if (codestream[at + 1] == 0x52 && length >= 12 && at + 2 + length <= codestream.size()) {
            declared.layers = bigEndian(codestream, at + 6, 2);
            declared.layersAt = at + 6;
            declared.levels = codestream[at + 9];
            break;
        }
        at += 2 + length;
    }
    return declared;
}

// Where a tile-part header (SOT) declares a length (Psot) reaching past the end of the
// codestream. The library allocates a tile-part's declared length before reading it, so one
// struck length costs gigabytes. Coded data never holds the pair FF 90, so every one is a
// tile-part header, or damage the library may take for one after skipping what it does not
// know: all of them are looked at, not only the chain of lengths from the first.
std::vector<std::size_t> overlongTileParts(std::span<const std::uint8_t> codestream) {
    constexpr std::size_t sotLength = 12;
    std::vector<std::size_t> found;
    if (codestream.size() < sotLength) {
        return found;
    }
    const std::uint8_t* data = codestream.data();
    const std::size_t last = codestream.size() - sotLength;
    for (std::size_t at = 0; at <= last; ++at) {
        const void* marker = std::memchr(data + at, 0xFF, last + 1 - at);
        if (marker == nullptr) {
            break;
        }
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(marker) - data);
        if (data[at + 1] == 0x90 && bigEndian(codestream, at + 6, 4) > codestream.size() - at) {
            found.push_back(at);
        }
    }
    return found;
}

// Every tile needs a tile-part header of at least this many bytes (SOT and SOD).
constexpr std::uint64_t kTilePartBytes = 14;
// Tiles the library is always trusted with, however few bytes hold them.
constexpr std::uint64_t kTilesTrusted = 4096;
// The most pixels decoded at full resolution. The library holds four bytes a sample of every
// component, and its time grows with the pixels whatever the bytes hold: a larger picture
// (often a struck size) is shown at a lower resolution, which leaves the file alone.
constexpr std::uint64_t kFullResolutionPixels = std::uint64_t{12} << 20U;

// How a codestream's declarations are held to what its bytes could carry.
struct Bounds {
    std::optional<QString> refusal;
    OPJ_UINT32 reduce = 0;
    OPJ_UINT32 layers = 0; // 0: all of them
    QString note;
};

Bounds boundsFor(const Declared& declared, std::uint64_t bytes) {
    Bounds bounds;
    if (declared.tiles > kTilesTrusted && declared.tiles > bytes / kTilePartBytes) {
        bounds.refusal =
            QStringLiteral("The file declares %1 x %2 pixels in %3 tiles, far more than its %4 "
                           "bytes could hold.")
                .arg(declared.width)
                .arg(declared.height)
                .arg(declared.tiles)
                .arg(bytes);
        return bounds;
    }
    const std::uint64_t pixels = declared.width * declared.height;
    const std::uint64_t plausible = std::max<std::uint64_t>(bytes, 1) * kPixelsPerByte;
    const std::uint64_t shown = std::min(plausible, kFullResolutionPixels);
    while (bounds.reduce < declared.levels && (pixels >> (2 * bounds.reduce)) > shown) {
        ++bounds.reduce;
    }
    // Every packet takes at least a byte, and each layer has a packet per resolution of each
    // component of each tile: a layer count past that is damage, and each surplus layer
    // would still cost a walk over every packet.
    const std::uint64_t packetsPerLayer = std::max<std::uint64_t>(declared.tiles, 1) *
                                          std::max<std::uint32_t>(declared.components, 1) *
                                          (std::uint64_t{declared.levels} + 1);
    const std::uint64_t layersHeld = std::max<std::uint64_t>(bytes / packetsPerLayer, 1);
    if (declared.layers > layersHeld) {
        bounds.layers = static_cast<OPJ_UINT32>(layersHeld);
    }
    if (bounds.reduce > 0 && pixels > plausible) {
        bounds.note = QStringLiteral("Decoded at 1/%1 size: the file is too small for the %2 x "
                                     "%3 pixels it declares.")
                          .arg(1U << bounds.reduce)
                          .arg(declared.width)
                          .arg(declared.height);
    } else if (bounds.reduce > 0) {
        bounds.note = QStringLiteral("Decoded at 1/%1 size: the %2 x %3 pixels it declares are "
                                     "more than this program decodes at full size.")
                          .arg(1U << bounds.reduce)
                          .arg(declared.width)
                          .arg(declared.height);
    } else if (bounds.layers > 0) {
        bounds.note = QStringLiteral("Decoded %1 of the %2 quality layers declared: the file is "
                                     "too small for the rest.")
                          .arg(bounds.layers)
                          .arg(declared.layers);
    }
    return bounds;
}

DecodeResult decodeAs(std::span<const std::uint8_t> bytes, OPJ_CODEC_FORMAT format,
                      const DecodeLimits& limits) {
    auto messages = std::make_unique<Messages>();
    MemoryStream input{bytes, 0};

    const openjpeg::Stream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    const openjpeg::Codec codec(opj_create_decompress(format));
    if (!stream || !codec) {
        return invalidResult(QStringLiteral("Out of memory."));
    }
    opj_stream_set_user_data(stream.get(), &input, nullptr);
    opj_stream_set_user_data_length(stream.get(), bytes.size());
    opj_stream_set_read_function(stream.get(), readStream);
    opj_stream_set_skip_function(stream.get(), skipStream);
    opj_stream_set_seek_function(stream.get(), seekStream);

    opj_set_error_handler(codec.get(), onError, messages.get());
    opj_set_warning_handler(codec.get(), onWarning, messages.get());
    opj_set_info_handler(codec.get(), onInfo, nullptr);
    const std::size_t start = codestreamStart(bytes);
    const auto declared = readDeclared(bytes.subspan(start));
    const Bounds bounds = declared ? boundsFor(*declared, bytes.size()) : Bounds{};
    if (bounds.refusal) {
        return invalidResult(*bounds.refusal);
    }
    // The library walks every declared layer of every packet even when told to decode fewer,
    // so an absurd count is also written down to the bound in a copy of the bytes; a tile-part
    // longer than the bytes left is cut to them, and reads as the truncated tile-part it is.
    const bool fewerLayers = bounds.layers > 0 && declared->layersAt > 0;
    const std::vector<std::size_t> overlong = overlongTileParts(bytes.subspan(start));
    std::vector<std::uint8_t> rewritten;
    if (fewerLayers || !overlong.empty()) {
        rewritten.assign(bytes.begin(), bytes.end());
        input.bytes = rewritten;
    }
    if (fewerLayers) {
        rewritten[start + declared->layersAt] = static_cast<std::uint8_t>(bounds.layers >> 8);
        rewritten[start + declared->layersAt + 1] = static_cast<std::uint8_t>(bounds.layers);
    }
    for (const std::size_t sot : overlong) {
        const std::size_t lengthAt = start + sot + 6;
        const auto left = static_cast<std::uint32_t>(bytes.size() - start - sot);
        for (std::size_t i = 0; i < 4; ++i) {
            rewritten[lengthAt + i] = static_cast<std::uint8_t>(left >> (8 * (3 - i)));
        }
    }
    opj_dparameters_t parameters{};
    opj_set_default_decoder_parameters(&parameters);
    parameters.cp_reduce = bounds.reduce;
    parameters.cp_layer = bounds.layers;
    if (opj_setup_decoder(codec.get(), &parameters) == OPJ_FALSE) {
        return invalidResult(libraryMessage(messages->error.data()));
    }
    // Lets a truncated codestream decode as far as it goes instead of failing outright.
    opj_decoder_set_strict_mode(codec.get(), OPJ_FALSE);
    // The main thread only, whatever OPJ_NUM_THREADS says: libopenjp2 2.5.0 writes past a
    // heap buffer when it decodes the code-blocks of a damaged codestream on worker threads
    // in this lenient mode, and damaged codestreams are what we read.
    opj_codec_set_threads(codec.get(), 0);

    opj_image_t* header = nullptr;
    const bool headerRead = opj_read_header(stream.get(), codec.get(), &header) != OPJ_FALSE;
    const openjpeg::Image image(header);
    if (!headerRead || !image || image->numcomps == 0 || image->comps == nullptr) {
        return invalidResult(libraryMessage(messages->error.data()));
    }
    const std::uint64_t width = image->x1 > image->x0 ? image->x1 - image->x0 : 0;
    const std::uint64_t height = image->y1 > image->y0 ? image->y1 - image->y0 : 0;
    if (auto refusal = refuseSize(width, height, limits)) {
        return invalidResult(*refusal);
    }
    // openjpeg holds every component at 32 bits per sample whatever it is drawn with.
    if (image->numcomps > 4) {
        return invalidResult(
            QStringLiteral("The file declares %1 colour components.").arg(image->numcomps));
    }

    const bool decoded = opj_decode(codec.get(), stream.get(), image.get()) != OPJ_FALSE;
    if (!anyComponentData(*image)) {
        return invalidResult(libraryMessage(messages->error.data()));
    }
    const std::uint32_t count = image->numcomps;
    const std::uint64_t scale = std::uint64_t{1} << bounds.reduce;
    QImage canvas =
        makeCanvas(static_cast<int>((width + scale - 1) / scale),
                   static_cast<int>((height + scale - 1) / scale), count == 2 || count == 4);
    if (canvas.isNull()) {
        return invalidResult(QStringLiteral("Out of memory."));
    }
    toCanvas(*image, canvas);

    DecodeResult result;
    const bool complained = messages->error[0] != '\0' || messages->warning[0] != '\0';
    result.partial = !decoded || complained || !bounds.note.isEmpty() || !overlong.empty();
    if (!bounds.note.isEmpty()) {
        result.message = bounds.note;
    } else if (!overlong.empty()) {
        result.message = QStringLiteral("A tile-part declares more bytes than the file holds; it "
                                        "was read as far as the file goes.");
    } else if (result.partial) {
        result.message = libraryMessage(messages->error[0] != '\0' ? messages->error.data()
                                                                   : messages->warning.data());
    }
    result.image = std::move(canvas);
    return result;
}

// Decodes a JP2 file, or its codestream alone when the boxes around it are what is damaged.
DecodeResult decodeBoxed(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    DecodeResult result = decodeAs(bytes, OPJ_CODEC_JP2, limits);
    if (result.isValid()) {
        return result;
    }
    // A struck byte in the boxes around the codestream (the image header box disagreeing with
    // SIZ, a box length gone wrong) rejects the whole file, though the codestream itself may be
    // fine: decode it alone, without the boxes.
    const std::size_t start = codestreamStart(bytes);
    if (start >= bytes.size()) {
        return result;
    }
    DecodeResult bare = decodeAs(bytes.subspan(start), OPJ_CODEC_J2K, limits);
    if (!bare.isValid()) {
        return result;
    }
    bare.partial = true;
    bare.message = QStringLiteral("The JP2 boxes are damaged; the codestream was decoded alone.");
    return bare;
}

DecodeResult decodeEither(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    const bool boxed = bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == 0;
    return boxed ? decodeBoxed(bytes, limits) : decodeAs(bytes, OPJ_CODEC_J2K, limits);
}

} // namespace

DecodeResult decodeJpeg2000(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    return decodeOrMend(bytes, limits, decodeEither, repairJpeg2000Header,
                        QStringLiteral("The picture's size marker was damaged; it was mended."));
}

} // namespace zerbrak::decoding
