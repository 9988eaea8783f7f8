#include "DecoderCommon.h"
#include "FormatDecoders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <gif_lib.h>
#include <memory>
#include <span>
#include <vector>

namespace zerbrak::decoding {
namespace {

// LZW with 12-bit codes gives at most about 2,700 pixels a byte, each code one pixel longer
// than the last, for a picture of one colour.
constexpr std::uint64_t kGifPixelsPerByte = 8192;

// A screen past this many pixels (a 64 MiB canvas) of which the first frame covers less than
// a quarter is cut to the frame: the rest could only be background, and a struck screen size
// would have it cost hundreds of megabytes. Smaller screens are kept whole, as a small first
// frame on a larger screen is common enough.
constexpr std::int64_t kLargeScreenPixels = std::int64_t{1} << 24;

struct MemoryInput {
    std::span<const std::uint8_t> bytes;
    std::size_t pos = 0;
    bool inPixelData = false;
};

int readInput(GifFileType* gif, GifByteType* out, int length) {
    auto* input = static_cast<MemoryInput*>(gif->UserData);
    if (length <= 0) {
        return 0;
    }
    const std::size_t left = input->bytes.size() - input->pos;
    const std::size_t count = std::min(static_cast<std::size_t>(length), left);
    std::memcpy(out, input->bytes.data() + input->pos, count);
    input->pos += count;
    // Inside the pixel data every single-byte read is a sub-block's length. giflib drops a
    // sub-block the file cuts short whole, and with it up to 255 bytes of rows that did
    // arrive; announcing the block as only as long as what is left keeps them.
    if (input->inPixelData && count == 1 && out[0] > left - 1) {
        out[0] = static_cast<GifByteType>(left - 1);
    }
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

QString gifMessage(int error) {
    const char* text = GifErrorString(error);
    return text != nullptr ? QString::fromLatin1(text) : QStringLiteral("GIF error %1").arg(error);
}

// Up to 256 colours from the frame's own map, else the file's, else a grey ramp so that a
// map lost to damage still leaves a picture; indexes past the map's end are black.
std::array<QRgb, 256> paletteFor(const GifFileType& gif, int transparentIndex) {
    std::array<QRgb, 256> palette{};
    const ColorMapObject* map = gif.Image.ColorMap != nullptr ? gif.Image.ColorMap : gif.SColorMap;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const auto level = static_cast<int>(i);
        palette[i] = map == nullptr ? qRgb(level, level, level) : qRgb(0, 0, 0);
    }
    if (map != nullptr && map->Colors != nullptr) {
        const auto count = static_cast<std::size_t>(std::clamp(map->ColorCount, 0, 256));
        for (std::size_t i = 0; i < count; ++i) {
            const GifColorType& c = map->Colors[i];
            palette[i] = qRgb(c.Red, c.Green, c.Blue);
        }
    }
    if (transparentIndex >= 0 && transparentIndex < 256) {
        palette[static_cast<std::size_t>(transparentIndex)] = 0;
    }
    return palette;
}

QRgb backgroundOf(const GifFileType& gif, bool transparent) {
    if (transparent) {
        return 0;
    }
    const ColorMapObject* map = gif.SColorMap;
    if (map != nullptr && map->Colors != nullptr && gif.SBackGroundColor >= 0 &&
        gif.SBackGroundColor < map->ColorCount) {
        const GifColorType& c = map->Colors[gif.SBackGroundColor];
        return qRgb(c.Red, c.Green, c.Blue);
    }
    return kMissingPixel;
}

// Frame rows in the order the file stores them: straight down, or the four interlace passes.
std::vector<int> storedRowOrder(int height, bool interlaced) {
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) {
            order.push_back(y);
        }
        return order;
    }
    constexpr std::array<int, 4> start{0, 4, 2, 1};
    constexpr std::array<int, 4> step{8, 8, 4, 2};
    for (std::size_t pass = 0; pass < start.size(); ++pass) {
        for (int y = start[pass]; y < height; y += step[pass]) {
            order.push_back(y);
        }
    }
    return order;
}

struct FrameOutcome {
    int rowsDone = 0;
    // Pixels of the row the damage cut short, kept in front of the grey.
    int cutRowPixels = 0;
    // Every row that lands on the screen came through; the rest of the frame lies off it.
    bool screenDone = false;
    // The frame would cost more to decode than a picture at the pixel limit.
    bool tooCostly = false;
};

// Where the frame's top-left corner lies on the canvas.
struct Placement {
    int left = 0;
    int top = 0;
};

// Rows of the frame that land on the canvas; none when it lies wholly beside the canvas.
int rowsOnScreen(const GifImageDesc& frame, Placement at, const QImage& canvas) {
    if (at.left >= canvas.width() || std::int64_t{at.left} + frame.Width <= 0) {
        return 0;
    }
    const std::int64_t first = std::max<std::int64_t>(at.top, 0);
    const std::int64_t end =
        std::min<std::int64_t>(std::int64_t{at.top} + frame.Height, canvas.height());
    return static_cast<int>(std::max<std::int64_t>(end - first, 0));
}

// The part of the screen the canvas shows: all of it, or for a large screen the first frame
// covers little of, the frame's part of it.
struct Shown {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool cut = false;
};

Shown shownPart(int screenWidth, int screenHeight, const GifImageDesc& frame) {
    const Shown screen{0, 0, screenWidth, screenHeight, false};
    const std::int64_t screenPixels = std::int64_t{screenWidth} * screenHeight;
    const int left = std::clamp(frame.Left, 0, screenWidth);
    const int top = std::clamp(frame.Top, 0, screenHeight);
    const auto right = static_cast<int>(
        std::clamp<std::int64_t>(std::int64_t{frame.Left} + frame.Width, left, screenWidth));
    const auto bottom = static_cast<int>(
        std::clamp<std::int64_t>(std::int64_t{frame.Top} + frame.Height, top, screenHeight));
    const std::int64_t framePixels = std::int64_t{right - left} * (bottom - top);
    if (screenPixels <= kLargeScreenPixels || framePixels == 0 || framePixels * 4 >= screenPixels) {
        return screen;
    }
    return {left, top, right - left, bottom - top, true};
}

// giflib decodes any number of pixels at a time, and on damage loses the whole call's worth:
// a row read in short pieces keeps all but the last few pixels before the damage. Returns
// how many pixels of the row came through.
int readRow(GifFileType& gif, std::span<GifPixelType> line, int& error) {
    constexpr int kPiece = 8;
    const auto width = static_cast<int>(line.size());
    for (int x = 0; x < width; x += kPiece) {
        const int count = std::min(kPiece, width - x);
        if (DGifGetLine(&gif, line.data() + x, count) == GIF_ERROR) {
            error = gif.Error;
            return x;
        }
    }
    return width;
}

// Decodes the frame described by gif.Image into the canvas, filling what is missing. LZW
// data can only be read in order, so a frame far larger than the screen stops as soon as
// its last on-screen row is in, and its decoding work is held to what a picture at the
// pixel limit would cost.
FrameOutcome decodeFrame(GifFileType& gif, Placement at, QImage& canvas, int transparentIndex,
                         std::uint64_t maxPixels, int& error) {
    const GifImageDesc& frame = gif.Image;
    const auto palette = paletteFor(gif, transparentIndex);
    const int width = frame.Width;
    const int height = frame.Height;
    std::vector<GifPixelType> line(static_cast<std::size_t>(std::max(width, 1)));
    std::vector<bool> done(static_cast<std::size_t>(std::max(height, 0)), false);
    const auto order = storedRowOrder(height, frame.Interlace);
    FrameOutcome outcome;
    int& rowsDone = outcome.rowsDone;
    int onScreenLeft = rowsOnScreen(frame, at, canvas);
    std::uint64_t pixelsLeft = maxPixels;
    for (const int y : order) {
        if (onScreenLeft == 0) {
            outcome.screenDone = true;
            break;
        }
        if (pixelsLeft < static_cast<std::uint64_t>(width)) {
            outcome.tooCostly = true;
            break;
        }
        pixelsLeft -= static_cast<std::uint64_t>(width);
        const int got = readRow(gif, std::span(line).first(static_cast<std::size_t>(width)), error);
        if (got == 0) {
            break;
        }
        done[static_cast<std::size_t>(y)] = true;
        if (got == width) {
            ++rowsDone;
        } else {
            outcome.cutRowPixels = got;
        }
        const int canvasY = at.top + y;
        if (canvasY >= 0 && canvasY < canvas.height()) {
            --onScreenLeft;
            auto* out = reinterpret_cast<QRgb*>(canvas.scanLine(canvasY));
            const int firstX = std::max(0, -at.left);
            const int endX = std::min(width, canvas.width() - at.left);
            for (int x = firstX; x < endX; ++x) {
                out[at.left + x] =
                    x < got ? palette[line[static_cast<std::size_t>(x)]] : kMissingPixel;
            }
        }
        if (got < width) {
            break;
        }
    }
    if (rowsDone == height || (rowsDone == 0 && outcome.cutRowPixels == 0) || outcome.screenDone) {
        outcome.screenDone = outcome.screenDone || rowsDone == height;
        return outcome;
    }
    // An interlaced frame cut short still has rows spread over its whole height; each one
    // stands in for the rows below it until the next one that arrived, as GIF viewers
    // grow such pictures. Straight frames just end, grey below the damage.
    const int firstX = std::max(0, at.left);
    const int endX = std::min(canvas.width(), at.left + width);
    int lastGood = -1;
    for (int y = 0; y < height; ++y) {
        const int canvasY = at.top + y;
        if (done[static_cast<std::size_t>(y)]) {
            lastGood = canvasY;
            continue;
        }
        if (canvasY < 0 || canvasY >= canvas.height() || firstX >= endX) {
            continue;
        }
        auto* out = reinterpret_cast<QRgb*>(canvas.scanLine(canvasY));
        if (frame.Interlace && lastGood >= 0 && lastGood < canvas.height()) {
            const auto* source = reinterpret_cast<const QRgb*>(canvas.constScanLine(lastGood));
            std::copy(source + firstX, source + endX, out + firstX);
        } else {
            std::fill(out + firstX, out + endX, kMissingPixel);
        }
    }
    return outcome;
}

} // namespace

DecodeResult decodeGif(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    MemoryInput input{bytes, 0};
    int error = 0;
    const GifHandle gif(DGifOpen(&input, readInput, &error));
    if (!gif) {
        return invalidResult(gifMessage(error));
    }
    GraphicsControlBlock control{};
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    // Every record consumes input, so the walk ends with the bytes at the latest.
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            return invalidResult(gifMessage(gif->Error));
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) {
                return invalidResult(gifMessage(gif->Error));
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
                DGifExtensionToGCB(block[0], block + 1, &control);
            }
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    return invalidResult(gifMessage(gif->Error));
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) {
            return invalidResult(QStringLiteral("The GIF file holds no picture."));
        }
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            return invalidResult(gifMessage(gif->Error));
        }
        input.inPixelData = true;
        break;
    }

    const GifImageDesc& frame = gif->Image;
    int width = gif->SWidth;
    int height = gif->SHeight;
    if (width <= 0 || height <= 0) {
        // A screen size lost to damage: the first frame's extent stands in for it.
        width = frame.Left + frame.Width;
        height = frame.Top + frame.Height;
    }
    Shown shown{0, 0, width, height, false};
    if (width > 0 && height > 0 && frame.Width > 0 && frame.Height > 0) {
        shown = shownPart(width, height, frame);
    }
    if (auto refusal = refuseSize(static_cast<std::uint64_t>(std::max(shown.width, 0)),
                                  static_cast<std::uint64_t>(std::max(shown.height, 0)), limits,
                                  Capacity{bytes.size(), kGifPixelsPerByte})) {
        return invalidResult(*refusal);
    }
    if (frame.Width <= 0 || frame.Height <= 0) {
        return invalidResult(QStringLiteral("The GIF picture is empty."));
    }
    const int transparentIndex = control.TransparentColor;
    const bool alpha = transparentIndex >= 0;
    QImage canvas = makeCanvas(shown.width, shown.height, alpha);
    if (canvas.isNull()) {
        return invalidResult(QStringLiteral("Out of memory."));
    }
    canvas.fill(backgroundOf(*gif, alpha));

    int frameError = 0;
    const Placement at{frame.Left - shown.left, frame.Top - shown.top};
    const FrameOutcome outcome =
        decodeFrame(*gif, at, canvas, transparentIndex, limits.maxPixelBytes / 4, frameError);
    if (outcome.rowsDone == 0 && outcome.cutRowPixels == 0 && !outcome.screenDone) {
        return invalidResult(outcome.tooCostly
                                 ? QStringLiteral("The GIF frame is too large to decode.")
                                 : gifMessage(frameError));
    }
    DecodeResult result;
    if (outcome.tooCostly) {
        result.partial = true;
        result.message = QStringLiteral(
            "The GIF frame is too large to decode whole; it was decoded as far as the pixel "
            "limit allows.");
    } else if (!outcome.screenDone) {
        result.partial = true;
        result.message = gifMessage(frameError);
    } else if (outcome.rowsDone == 0) {
        result.partial = true;
        result.message = QStringLiteral("The GIF frame lies wholly off the screen.");
    } else if (shown.cut) {
        result.partial = true;
        result.message = QStringLiteral("The GIF screen of %1 x %2 is far larger than its first "
                                        "frame; only the frame's %3 x %4 are shown.")
                             .arg(width)
                             .arg(height)
                             .arg(shown.width)
                             .arg(shown.height);
    } else if (outcome.rowsDone < frame.Height) {
        result.message = QStringLiteral(
            "The GIF frame reaches past the screen; only the part on the screen was decoded.");
    }
    result.image = std::move(canvas);
    return result;
}

} // namespace zerbrak::decoding
