#include "DecoderCommon.h"
#include "FormatDecoders.h"
#include "JpegDecoderOrientation.h"
#include "JpegSegmentRepair.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <jpeglib.h>
#include <memory>
#include <optional>
#include <vector>

namespace zerbrak::decoding {
namespace {

// A block of one flat colour takes two bits at best: about 256 pixels a byte in grey.
constexpr std::uint64_t kJpegPixelsPerByte = 2048;

// A stream of thousands of tiny scans would otherwise cost a pass over the whole picture
// each; no real encoder writes more than a few dozen.
constexpr int kMaxScans = 500;

struct ErrorManager {
    jpeg_error_mgr pub; // first, so libjpeg's pointer to it is a pointer to this
    std::jmp_buf jump;
    std::array<char, JMSG_LENGTH_MAX> error;
    std::array<char, JMSG_LENGTH_MAX> warning;
};

// Everything the setjmp-guarded calls touch lives here, outside their frames: a longjmp
// then never skips a destructor nor leaves a local with an indeterminate value.
struct JpegState {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::uint64_t maxMemory = 0;

    bool buffered = false;
    // Set when libjpeg cannot give us 32-bit pixels directly: rows go through `row`.
    bool convertRows = false;
    bool invertedCmyk = false;
    std::vector<JSAMPLE> row;

    std::uint8_t* bits = nullptr;
    std::size_t stride = 0;
    JDIMENSION rowsDone = 0;
    bool consumed = false; // buffered mode: input read to its end or to a stop
    int scans = 0;
    std::size_t lastScanEnd = 0;
};

void onErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (errors->error[0] == '\0') {
        (*cinfo->err->format_message)(cinfo, errors->error.data());
    }
    std::longjmp(errors->jump, 1);
}

// Corrupt-data warnings are counted and the first kept; decoding goes on regardless.
void onMessage(j_common_ptr cinfo, int level) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level >= 0) {
        return; // trace output
    }
    if (cinfo->err->num_warnings++ == 0) {
        (*cinfo->err->format_message)(cinfo, errors->warning.data());
    }
}

void onOutput(j_common_ptr) {}

// Notes where the stream could be cut to end after the scan libjpeg has just finished: the
// bytes it has taken, less the marker that ended the scan if it already read that. Not
// once its source has run dry and is feeding a made-up end marker. Kept out of line so
// its locals stay out of the setjmp frame.
[[gnu::noinline]] void noteScanEnd(JpegState& s) {
    ++s.scans;
    const auto* next = s.cinfo.src->next_input_byte;
    if (next < s.data || next > s.data + s.size) {
        return;
    }
    auto end = static_cast<std::size_t>(next - s.data);
    if (s.cinfo.unread_marker != 0 && end >= 2 && s.data[end - 2] == 0xFF) {
        end -= 2;
    }
    s.lastScanEnd = end;
}

bool readHeader(JpegState& s) {
    if (setjmp(s.errors.jump)) {
        return false;
    }
    jpeg_create_decompress(&s.cinfo);
    s.cinfo.mem->max_memory_to_use = static_cast<long>(
        std::min<std::uint64_t>(s.maxMemory, static_cast<std::uint64_t>(LONG_MAX)));
    jpeg_mem_src(&s.cinfo, s.data, static_cast<unsigned long>(s.size));
    jpeg_save_markers(&s.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&s.cinfo, TRUE);
    switch (s.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        s.cinfo.out_color_space =
            std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        s.cinfo.out_color_space = JCS_CMYK;
        s.convertRows = true;
        s.invertedCmyk = s.cinfo.saw_Adobe_marker != 0;
        break;
    default:
        // Unusual component counts come out as they are stored.
        s.cinfo.out_color_space = s.cinfo.jpeg_color_space;
        s.convertRows = true;
        break;
    }
    s.buffered = jpeg_has_multiple_scans(&s.cinfo) != 0;
    s.cinfo.buffered_image = s.buffered ? TRUE : FALSE;
    jpeg_calc_output_dimensions(&s.cinfo);
    return true;
}

void convertRow(const JpegState& s, QRgb* out) {
    const JSAMPLE* in = s.row.data();
    const int components = s.cinfo.output_components;
    const JDIMENSION width = s.cinfo.output_width;
    for (JDIMENSION x = 0; x < width; ++x, in += components) {
        if (s.cinfo.out_color_space == JCS_CMYK && components == 4) {
            int c = in[0], m = in[1], y = in[2], k = in[3];
            if (!s.invertedCmyk) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            out[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
        } else if (components >= 3) {
            out[x] = qRgb(in[0], in[1], in[2]);
        } else {
            out[x] = qRgb(in[0], in[0], in[0]);
        }
    }
}

void readScanlines(JpegState& s) {
    while (s.cinfo.output_scanline < s.cinfo.output_height) {
        const JDIMENSION y = s.cinfo.output_scanline;
        std::uint8_t* target = s.bits + std::size_t{y} * s.stride;
        JSAMPROW rowPointer = s.convertRows ? s.row.data() : target;
        if (jpeg_read_scanlines(&s.cinfo, &rowPointer, 1) != 1) {
            break;
        }
        if (s.convertRows) {
            convertRow(s, reinterpret_cast<QRgb*>(target));
        }
        s.rowsDone = s.cinfo.output_scanline;
    }
}

bool decode(JpegState& s) {
    if (setjmp(s.errors.jump)) {
        return false;
    }
    jpeg_start_decompress(&s.cinfo);
    if (!s.buffered) {
        readScanlines(s);
        return true;
    }
    // The whole stream is taken in before a single output pass, so a clean progressive
    // file costs what it would outside buffered mode; the mode is there to note where each
    // scan ended, should a later one prove fatal.
    while (!s.consumed) {
        const int status = jpeg_consume_input(&s.cinfo);
        if (status == JPEG_SCAN_COMPLETED) {
            noteScanEnd(s);
        }
        s.consumed = status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED || s.scans >= kMaxScans;
    }
    jpeg_start_output(&s.cinfo, s.cinfo.input_scan_number);
    readScanlines(s);
    jpeg_finish_output(&s.cinfo);
    return true;
}

// Owns libjpeg's structures for the length of one decode.
class Decompressor {
public:
    explicit Decompressor(JpegState& state) : state_(state) {}
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
    ~Decompressor() { jpeg_destroy_decompress(&state_.cinfo); }

private:
    JpegState& state_;
};

// Coefficient buffers below this size are allocated whatever the file holds.
constexpr std::uint64_t kCoefficientsTrusted = 64ULL << 20;

// A multi-scan picture keeps every coefficient of the picture at once. Its first scan codes
// each block in at least one bit, so a declaration with more blocks than the file has bits
// cannot be the picture in it: the size fields were damaged, and honouring them would take
// hundreds of megabytes for a picture of grey.
std::optional<QString> refuseCoefficients(const JpegState& s) {
    if (!s.buffered) {
        return std::nullopt;
    }
    std::uint64_t blocks = 0;
    for (int c = 0; c < s.cinfo.num_components; ++c) {
        const jpeg_component_info& component = s.cinfo.comp_info[c];
        blocks += std::uint64_t{component.width_in_blocks} * component.height_in_blocks;
    }
    const std::uint64_t coefficientBytes = blocks * DCTSIZE2 * sizeof(JCOEF);
    if (coefficientBytes <= kCoefficientsTrusted || blocks / 8 <= s.size) {
        return std::nullopt;
    }
    return QStringLiteral("The file declares a %1 x %2 progressive picture of %3 blocks, more than "
                          "its %4 bytes could hold.")
        .arg(s.cinfo.image_width)
        .arg(s.cinfo.image_height)
        .arg(blocks)
        .arg(s.size);
}

DecodeResult decodeOnce(std::span<const std::uint8_t> bytes, const DecodeLimits& limits,
                        std::size_t& retryAt) {
    retryAt = 0;
    auto state = std::make_unique<JpegState>();
    JpegState& s = *state;
    s.data = bytes.data();
    s.size = bytes.size();
    // Coefficient buffers of a progressive picture need about as much as its pixels; with
    // no backing store, more than that fails as "Insufficient memory", a clean error.
    s.maxMemory = limits.maxPixelBytes;
    s.cinfo.err = jpeg_std_error(&s.errors.pub);
    s.errors.pub.error_exit = onErrorExit;
    s.errors.pub.emit_message = onMessage;
    s.errors.pub.output_message = onOutput;
    const Decompressor owner(s);

    if (!readHeader(s)) {
        return invalidResult(libraryMessage(s.errors.error.data()));
    }
    if (auto refusal = refuseSize(s.cinfo.output_width, s.cinfo.output_height, limits,
                                  Capacity{s.size, kJpegPixelsPerByte})) {
        return invalidResult(*refusal);
    }
    if (auto refusal = refuseCoefficients(s)) {
        return invalidResult(*refusal);
    }
    QImage canvas = makeCanvas(static_cast<int>(s.cinfo.output_width),
                               static_cast<int>(s.cinfo.output_height), false);
    if (canvas.isNull()) {
        return invalidResult(QStringLiteral("Out of memory."));
    }
    s.bits = canvas.bits();
    s.stride = static_cast<std::size_t>(canvas.bytesPerLine());
    if (s.convertRows) {
        s.row.resize(std::size_t{s.cinfo.output_width} *
                     static_cast<std::size_t>(std::max(s.cinfo.out_color_components, 1)));
    }

    DecodeResult result;
    if (!decode(s)) {
        if (s.buffered && !s.consumed) {
            // A fatal error between scans: the scans before it are worth a second try.
            retryAt = s.scans > 0 ? s.lastScanEnd : 0;
            return invalidResult(libraryMessage(s.errors.error.data()));
        }
        if (s.rowsDone == 0) {
            return invalidResult(libraryMessage(s.errors.error.data()));
        }
        result.partial = true;
        result.message = libraryMessage(s.errors.error.data());
    } else if (s.errors.pub.num_warnings > 0 || s.rowsDone < s.cinfo.output_height ||
               s.scans >= kMaxScans) {
        result.partial = true;
        result.message = libraryMessage(s.errors.warning.data());
    }
    fillRows(canvas, static_cast<int>(s.rowsDone), canvas.height(), kMissingPixel);
    result.image = applyExifOrientation(std::move(canvas), s.cinfo.marker_list);
    return result;
}

// Decodes `bytes`, and when a fatal error comes between scans, decodes them again up to the
// end of the last scan that read cleanly.
DecodeResult decodeScans(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    std::size_t retryAt = 0;
    DecodeResult result = decodeOnce(bytes, limits, retryAt);
    if (!result.isValid() && retryAt > 0 && retryAt < bytes.size()) {
        // Cut at the end of the last scan that read cleanly, the stream decodes as if it
        // ended there; libjpeg supplies the missing end marker itself.
        std::size_t unused = 0;
        DecodeResult retried = decodeOnce(bytes.first(retryAt), limits, unused);
        if (retried.isValid()) {
            retried.partial = true;
            retried.message = result.message;
            return retried;
        }
    }
    return result;
}

} // namespace

DecodeResult decodeJpeg(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    return decodeOrMend(bytes, limits, decodeScans, repairJpegSegments,
                        QStringLiteral("The file's damaged tables or markers were mended."));
}

} // namespace zerbrak::decoding
