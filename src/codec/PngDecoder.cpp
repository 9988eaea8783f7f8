#include "DecoderCommon.h"
#include "FormatDecoders.h"
#include "PngChunkRepair.h"

#include <algorithm>
#include <array>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <png.h>

namespace zerbrak::decoding {
namespace {

// Deflate reaches 1032:1, and a byte of one-bit rows holds eight pixels.
constexpr std::uint64_t kPngPixelsPerByte = 16384;

// Everything the setjmp-guarded call and libpng's callbacks touch lives here, outside the
// guarded frame: a longjmp then never skips a destructor nor leaves a local with an
// indeterminate value.
struct PngState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::span<const std::uint8_t> chunks;
    const DecodeLimits* limits = nullptr;
    std::array<char, 256> error{};
    std::array<char, 256> warning{};
    QString refusal;

    int passes = 1;
    bool alpha = false;
    QImage canvas;
    std::uint8_t* bits = nullptr;
    std::size_t stride = 0;
    // How far the rows got: the pass under way and how many of its rows were delivered.
    bool anyRow = false;
    int pass = 0;
    std::uint32_t rowsOfPass = 0;
    bool finished = false;
};

void copyText(std::array<char, 256>& to, const char* text) {
    if (to[0] != '\0') {
        return; // the first complaint is the one that explains the rest
    }
    std::strncpy(to.data(), text != nullptr ? text : "", to.size() - 1);
}

void onError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    copyText(state->error, message);
    png_longjmp(png, 1);
}

void onWarning(png_structp png, png_const_charp message) {
    copyText(static_cast<PngState*>(png_get_error_ptr(png))->warning, message);
}

void setTransforms(PngState& s) {
    const png_byte colourType = png_get_color_type(s.png, s.info);
    const png_byte depth = png_get_bit_depth(s.png, s.info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(s.png);
    }
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0 && depth < 8) {
        png_set_expand_gray_1_2_4_to_8(s.png);
    }
    s.alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0;
    if (png_get_valid(s.png, s.info, PNG_INFO_tRNS) != 0) {
        png_set_tRNS_to_alpha(s.png);
        s.alpha = true;
    }
    if (depth == 16) {
        png_set_strip_16(s.png);
    }
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0) {
        png_set_gray_to_rgb(s.png);
    }
    // Rows land straight in the QImage, so libpng writes its native 32-bit pixel order.
    if constexpr (std::endian::native == std::endian::little) {
        png_set_bgr(s.png);
        if (!s.alpha) {
            png_set_filler(s.png, 0xFF, PNG_FILLER_AFTER);
        }
    } else {
        if (s.alpha) {
            png_set_swap_alpha(s.png);
        } else {
            png_set_filler(s.png, 0xFF, PNG_FILLER_BEFORE);
        }
    }
    s.passes = png_set_interlace_handling(s.png);
}

void onInfo(png_structp png, png_infop) {
    auto& s = *static_cast<PngState*>(png_get_progressive_ptr(png));
    setTransforms(s);
    png_read_update_info(s.png, s.info);
    const std::uint32_t width = png_get_image_width(s.png, s.info);
    const std::uint32_t height = png_get_image_height(s.png, s.info);
    // No C++ object may be alive in this frame when png_error jumps out of it.
    s.refusal = refuseSize(width, height, *s.limits, Capacity{s.chunks.size(), kPngPixelsPerByte})
                    .value_or(QString());
    if (!s.refusal.isEmpty()) {
        png_error(png, "size refused");
    }
    s.canvas = makeCanvas(static_cast<int>(width), static_cast<int>(height), s.alpha);
    if (s.canvas.isNull()) {
        png_error(png, "Out of memory.");
    }
    s.bits = s.canvas.bits();
    s.stride = static_cast<std::size_t>(s.canvas.bytesPerLine());
}

// Called for every row of every pass. Interlaced rows come "blocky": each pixel of a pass
// also covers the rest of its Adam7 block, to the right through the combine and below
// through repeated calls, so the canvas always holds the progressive picture of all passes
// so far, and an error in a later pass leaves a full frame at the last finished level.
// Rows a pass leaves to a finer one come without data.
void onRow(png_structp png, png_bytep row, png_uint_32 number, int pass) {
    auto& s = *static_cast<PngState*>(png_get_progressive_ptr(png));
    if (number >= static_cast<png_uint_32>(s.canvas.height())) {
        return;
    }
    if (row != nullptr) {
        png_progressive_combine_row(png, s.bits + std::size_t{number} * s.stride, row);
        s.anyRow = true;
    }
    s.pass = pass;
    s.rowsOfPass = number + 1;
}

void onEnd(png_structp png, png_infop) {
    static_cast<PngState*>(png_get_progressive_ptr(png))->finished = true;
}

// The push reader takes the file as far as it goes: a file that simply ends is no error,
// and the row callbacks have recorded how much of the picture arrived. It is handed an
// intact signature first, whatever the file's own has become.
bool readAll(PngState& s) {
    if (setjmp(png_jmpbuf(s.png))) {
        return false;
    }
    std::array<png_byte, 8> signature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    png_process_data(s.png, s.info, signature.data(), signature.size());
    png_process_data(s.png, s.info, const_cast<png_bytep>(s.chunks.data()), s.chunks.size());
    return true;
}

// Finds where the chunks begin when the signature itself was damaged, for instance by a
// rewrite of its line-break bytes; the IHDR chunk name is a reliable landmark.
std::optional<std::size_t> firstChunk(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0) {
        return 8;
    }
    constexpr std::array<std::uint8_t, 4> ihdr{'I', 'H', 'D', 'R'};
    const auto window = bytes.first(std::min<std::size_t>(bytes.size(), 64));
    const auto found = std::search(window.begin(), window.end(), ihdr.begin(), ihdr.end());
    if (found == window.end() || found - window.begin() < 4) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - window.begin() - 4);
}

// Owns libpng's structures for the length of one decode.
class PngReader {
public:
    explicit PngReader(PngState& state) : state_(state) {}
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    ~PngReader() { png_destroy_read_struct(&state_.png, &state_.info, nullptr); }

private:
    PngState& state_;
};

// Decodes the chunks that follow the signature.
DecodeResult decodeChunks(std::span<const std::uint8_t> chunks, const DecodeLimits& limits) {
    auto state = std::make_unique<PngState>();
    PngState& s = *state;
    s.chunks = chunks;
    s.limits = &limits;
    const PngReader reader(s);
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, onError, onWarning);
    s.info = s.png != nullptr ? png_create_info_struct(s.png) : nullptr;
    if (s.info == nullptr) {
        return invalidResult(QStringLiteral("Out of memory."));
    }
    png_set_progressive_read_fn(s.png, &s, onInfo, onRow, onEnd);
    // Damage is the point here: checksums that no longer match are ignored, as are the
    // errors libpng itself counts as harmless.
    png_set_crc_action(s.png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_benign_errors(s.png, 1);
    png_set_check_for_invalid_index(s.png, 0);
#ifdef PNG_IGNORE_ADLER32
    png_set_option(s.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif

    const bool clean = readAll(s);
    if (!s.refusal.isEmpty()) {
        return invalidResult(s.refusal);
    }
    if (!s.anyRow) {
        QString message = libraryMessage(s.error.data());
        return invalidResult(message.isEmpty() ? QStringLiteral("The PNG file ends before its "
                                                                "picture data.")
                                               : message);
    }
    DecodeResult result;
    const auto height = static_cast<std::uint32_t>(s.canvas.height());
    // Reaching the end chunk proves nothing: libpng stops inflating at damage in the picture
    // data and, damage counting as harmless here, goes on to the end without the rows that
    // never came. Only the last row of the last pass does.
    const bool complete = s.pass == s.passes - 1 && s.rowsOfPass == height;
    if (complete) {
        result.message = libraryMessage(s.warning.data());
    } else {
        // Only rows the first pass never reached hold nothing; below the rows a later pass
        // reached, the coarser blocks of the passes before it remain.
        if (s.pass == 0) {
            fillRows(s.canvas, static_cast<int>(s.rowsOfPass), s.canvas.height(), kMissingPixel);
        }
        result.partial = true;
        if (!clean) {
            result.message = libraryMessage(s.error.data());
        } else if (s.finished) {
            result.message = QStringLiteral("The PNG picture data breaks off before its last "
                                            "row.");
        } else {
            result.message = QStringLiteral("The PNG file ends inside its picture data.");
        }
    }
    result.image = std::move(s.canvas);
    return result;
}

} // namespace

DecodeResult decodePng(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    const auto start = firstChunk(bytes);
    if (!start) {
        return invalidResult(QStringLiteral("No PNG header found."));
    }
    const auto chunks = bytes.subspan(*start);
    DecodeResult result = decodeChunks(chunks, limits);
    if (result.isValid() && !result.partial) {
        return result;
    }
    const auto repaired = repairPngChunks(chunks);
    if (!repaired) {
        return result;
    }
    DecodeResult mended = decodeChunks(*repaired, limits);
    // A picture cut short is kept unless the mended chunks give the whole of it.
    if (!mended.isValid() || (result.isValid() && mended.partial)) {
        return result;
    }
    mended.partial = true;
    mended.message = QStringLiteral("The PNG chunk structure was damaged; decoding went on at the "
                                    "next picture data.");
    return mended;
}

} // namespace zerbrak::decoding
