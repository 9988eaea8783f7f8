// Writes the decoder test corpus: small originals in every container the decoders read,
// and damaged copies made by fixed byte edits, so the files can always be made again.
//
//   cmake --build <build> --target make-decode-fixtures
//   <build>/bin/make-decode-fixtures <source>/tests/data/decode
//
// The outcome each file should have is kept by hand in expected.tsv beside them.

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <gif_lib.h>
#include <initializer_list>
#include <memory>
#include <openjpeg.h>
#include <png.h>
#include <tiffio.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A gradient with a little fixed noise, so that compressed data spreads over the file and
// a cut at any point leaves some of the picture before it.
QImage gradient() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int noise = int(((std::uint32_t(x * 73 + y * 151) * 2654435761u) >> 24) & 31);
            image.setPixel(x, y, qRgb(x * 3 + noise, y * 5 + noise / 2, (x + y) * 2 + noise / 2));
        }
    }
    return image;
}

// The same GIF with its global colour table flag cleared and the table cut out.
Bytes withoutColourMap(const Bytes& gif) {
    constexpr std::size_t screenEnd = 13;
    if (gif.size() < screenEnd) {
        return gif;
    }
    const std::size_t tableEnd = screenEnd + (std::size_t{3} << ((gif[10] & 0x07) + 1));
    Bytes out;
    for (std::size_t i = 0; i < gif.size(); ++i) {
        if (i < screenEnd || i >= tableEnd) {
            out.push_back(i == 10 ? std::uint8_t(gif[i] & 0x7F) : gif[i]);
        }
    }
    return out;
}

bool save(const QString& dir, const QString& name, const Bytes& bytes) {
    QFile file(dir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return true;
}

Bytes load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray data = file.readAll();
    return Bytes(data.begin(), data.end());
}

Bytes withQt(const QImage& image, const char* format, bool progressive = false) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return Bytes(data.begin(), data.end());
}

// --- damage ---------------------------------------------------------------------------

Bytes truncated(Bytes bytes, double keep) {
    bytes.resize(static_cast<std::size_t>(static_cast<double>(bytes.size()) * keep));
    return bytes;
}

Bytes struck(Bytes bytes, std::size_t at, std::uint8_t value) {
    if (at < bytes.size()) {
        bytes[at] = value;
    }
    return bytes;
}

// Overwrites `count` bytes past `from` at positions drawn from a fixed linear congruence.
Bytes scattered(Bytes bytes, std::size_t from, int count, std::uint32_t seed) {
    for (int i = 0; i < count && bytes.size() > from; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const std::size_t at = from + (seed >> 8) % (bytes.size() - from);
        bytes[at] = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// Where `text` first occurs in the bytes, or the end.
std::size_t find(const Bytes& bytes, std::initializer_list<std::uint8_t> text) {
    return static_cast<std::size_t>(
        std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) - bytes.begin());
}

// Every line-break byte becomes CR LF and the bell a space, as a text-mode copy would.
Bytes lineBreaksRewritten(const Bytes& bytes) {
    Bytes out;
    for (const std::uint8_t b : bytes) {
        if (b == 0x0A || b == 0x0B || b == 0x0D) {
            out.push_back(0x0D);
            out.push_back(0x0A);
        } else {
            out.push_back(b == 0x07 ? 0x20 : b);
        }
    }
    return out;
}

// --- writers Qt does not have ---------------------------------------------------------

Bytes interlacedPng(const QImage& image) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, std::size_t length) {
            auto* sink = static_cast<Bytes*>(png_get_io_ptr(p));
            sink->insert(sink->end(), data, data + length);
        },
        nullptr);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<Bytes> rows(kHeight, Bytes(kWidth * 3));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb p = image.pixel(x, y);
            rows[std::size_t(y)][std::size_t(x) * 3] = std::uint8_t(qRed(p));
            rows[std::size_t(y)][std::size_t(x) * 3 + 1] = std::uint8_t(qGreen(p));
            rows[std::size_t(y)][std::size_t(x) * 3 + 2] = std::uint8_t(qBlue(p));
        }
        pointers.push_back(rows[std::size_t(y)].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes lzwTiff(const QImage& image, const QString& scratch, int rowsPerStrip = 8) {
    TIFF* tiff = TIFFOpen(qPrintable(scratch), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    Bytes row(kWidth * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb p = image.pixel(x, y);
            row[std::size_t(x) * 3] = std::uint8_t(qRed(p));
            row[std::size_t(x) * 3 + 1] = std::uint8_t(qGreen(p));
            row[std::size_t(x) * 3 + 2] = std::uint8_t(qBlue(p));
        }
        TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), 0);
    }
    TIFFClose(tiff);
    Bytes bytes = load(scratch);
    QFile::remove(scratch);
    return bytes;
}

void appendLe(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(std::uint8_t(value >> (8 * i)));
    }
}

// A run-length encoded BMP of 8 or 4 bits a pixel, which Qt cannot write: the left of every
// row one flat run of its own colour, the right the gradient's grey levels as they come, in
// absolute stretches between runs of three or more. Grey palette; bottom row first.
Bytes rleBmp(const QImage& image, int bits) {
    const int levels = 1 << bits;
    auto indexAt = [&](int x, int y) {
        return x < kWidth / 2 ? (y * 5) % levels : qGray(image.pixel(x, y)) * levels / 256;
    };
    Bytes data;
    for (int y = kHeight - 1; y >= 0; --y) {
        int x = 0;
        while (x < kWidth) {
            int run = 1;
            while (x + run < kWidth && run < 255 && indexAt(x + run, y) == indexAt(x, y)) {
                ++run;
            }
            int stretch = 0; // pixels before the next run of three
            while (x + stretch < kWidth && stretch < 255 &&
                   !(x + stretch + 2 < kWidth &&
                     indexAt(x + stretch, y) == indexAt(x + stretch + 1, y) &&
                     indexAt(x + stretch, y) == indexAt(x + stretch + 2, y))) {
                ++stretch;
            }
            if (run >= 3 || stretch < 3) {
                const int count = run >= 3 ? run : 1;
                const int index = indexAt(x, y);
                data.push_back(std::uint8_t(count));
                data.push_back(std::uint8_t(bits == 8 ? index : index << 4 | index));
                x += count;
                continue;
            }
            data.push_back(0);
            data.push_back(std::uint8_t(stretch));
            const std::size_t start = data.size();
            for (int i = 0; i < stretch; ++i) {
                const auto index = std::uint8_t(indexAt(x + i, y));
                if (bits == 8) {
                    data.push_back(index);
                } else if (i % 2 == 0) {
                    data.push_back(std::uint8_t(index << 4));
                } else {
                    data.back() = std::uint8_t(data.back() | index);
                }
            }
            if ((data.size() - start) % 2 != 0) {
                data.push_back(0);
            }
            x += stretch;
        }
        data.push_back(0);
        data.push_back(y == 0 ? 1 : 0); // end of line, end of bitmap after the top row
    }
    const std::uint32_t offset = 14 + 40 + 4 * std::uint32_t(levels);
    Bytes out{'B', 'M'};
    appendLe(out, offset + std::uint32_t(data.size()), 4);
    appendLe(out, 0, 4);
    appendLe(out, offset, 4);
    appendLe(out, 40, 4);
    appendLe(out, kWidth, 4);
    appendLe(out, kHeight, 4);
    appendLe(out, 1, 2);
    appendLe(out, std::uint32_t(bits), 2);
    appendLe(out, bits == 8 ? 1 : 2, 4);
    appendLe(out, std::uint32_t(data.size()), 4);
    appendLe(out, 2835, 4);
    appendLe(out, 2835, 4);
    appendLe(out, std::uint32_t(levels), 4);
    appendLe(out, 0, 4);
    for (int i = 0; i < levels; ++i) {
        const auto level = std::uint32_t(i * 255 / (levels - 1));
        appendLe(out, level << 16 | level << 8 | level, 4);
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// An uncompressed TIFF laid out by hand with its directory first, as some writers do;
// libtiff puts it last, where truncation would take it and leave nothing to test.
Bytes frontDirectoryTiff(const QImage& image) {
    constexpr int rowsPerStrip = 4;
    constexpr int strips = kHeight / rowsPerStrip;
    Bytes out;
    auto u16 = [&out](std::uint32_t v) {
        out.push_back(std::uint8_t(v));
        out.push_back(std::uint8_t(v >> 8));
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    constexpr std::uint32_t entries = 10;
    constexpr std::uint32_t ifd = 8;
    constexpr std::uint32_t extra = ifd + 2 + entries * 12 + 4;
    constexpr std::uint32_t bitsAt = extra;
    constexpr std::uint32_t offsetsAt = bitsAt + 6;
    constexpr std::uint32_t countsAt = offsetsAt + 4 * strips;
    constexpr std::uint32_t dataAt = countsAt + 4 * strips;
    constexpr std::uint32_t stripBytes = kWidth * 3 * rowsPerStrip;
    out.insert(out.end(), {'I', 'I', 42, 0});
    u32(ifd);
    u16(entries);
    auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count,
                     std::uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        u32(value);
    };
    entry(256, 3, 1, kWidth);
    entry(257, 3, 1, kHeight);
    entry(258, 3, 3, bitsAt);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 2);
    entry(273, 4, strips, offsetsAt);
    entry(277, 3, 1, 3);
    entry(278, 3, 1, rowsPerStrip);
    entry(279, 4, strips, countsAt);
    entry(284, 3, 1, 1);
    u32(0);
    u16(8);
    u16(8);
    u16(8);
    for (std::uint32_t s = 0; s < strips; ++s) {
        u32(dataAt + s * stripBytes);
    }
    for (std::uint32_t s = 0; s < strips; ++s) {
        u32(stripBytes);
    }
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb p = image.pixel(x, y);
            out.push_back(std::uint8_t(qRed(p)));
            out.push_back(std::uint8_t(qGreen(p)));
            out.push_back(std::uint8_t(qBlue(p)));
        }
    }
    return out;
}

// Palette picture: index (x + 2y) mod 256 over a ramp palette; GIF needs no quantiser then.
Bytes gif(bool interlaced) {
    Bytes out;
    int error = 0;
    GifFileType* file = EGifOpen(
        &out,
        [](GifFileType* g, const GifByteType* data, int length) {
            auto* sink = static_cast<Bytes*>(g->UserData);
            sink->insert(sink->end(), data, data + length);
            return length;
        },
        &error);
    std::array<GifColorType, 256> colours{};
    for (int i = 0; i < 256; ++i) {
        colours[std::size_t(i)] = {GifByteType(i), GifByteType(255 - i), GifByteType(i * 3)};
    }
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    EGifPutScreenDesc(file, kWidth, kHeight, 8, 0, map);
    EGifPutImageDesc(file, 0, 0, kWidth, kHeight, interlaced, nullptr);
    std::vector<int> order;
    if (interlaced) {
        for (const auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
            for (int y = start; y < kHeight; y += step) {
                order.push_back(y);
            }
        }
    } else {
        for (int y = 0; y < kHeight; ++y) {
            order.push_back(y);
        }
    }
    Bytes line(kWidth);
    for (const int y : order) {
        for (int x = 0; x < kWidth; ++x) {
            line[std::size_t(x)] = GifPixelType((x + 2 * y) & 0xFF);
        }
        EGifPutLine(file, line.data(), kWidth);
    }
    EGifCloseFile(file, &error);
    GifFreeMapObject(map);
    return out;
}

Bytes jpeg2000(const QImage& image, const QString& scratch, bool boxed) {
    std::array<opj_image_cmptparm_t, 3> parts{};
    for (auto& part : parts) {
        part.dx = part.dy = 1;
        part.w = kWidth;
        part.h = kHeight;
        part.prec = 8;
        part.sgnd = 0;
    }
    opj_image_t* j2k = opj_image_create(3, parts.data(), OPJ_CLRSPC_SRGB);
    j2k->x1 = kWidth;
    j2k->y1 = kHeight;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb p = image.pixel(x, y);
            const std::size_t i = std::size_t(y) * kWidth + std::size_t(x);
            j2k->comps[0].data[i] = qRed(p);
            j2k->comps[1].data[i] = qGreen(p);
            j2k->comps[2].data[i] = qBlue(p);
        }
    }
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    // Tiles make a truncated file lose its lower part rather than its sharpness.
    parameters.tile_size_on = OPJ_TRUE;
    parameters.cp_tdx = 32;
    parameters.cp_tdy = 16;
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0;
    parameters.cp_disto_alloc = 1;
    parameters.numresolution = 3;
    opj_codec_t* codec = opj_create_compress(boxed ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    opj_setup_encoder(codec, &parameters, j2k);
    opj_stream_t* stream = opj_stream_create_default_file_stream(qPrintable(scratch), OPJ_FALSE);
    opj_start_compress(codec, j2k, stream);
    opj_encode(codec, stream);
    opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(j2k);
    Bytes bytes = load(scratch);
    QFile::remove(scratch);
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <tests/data/decode>\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    const QString scratch = dir + QStringLiteral("/scratch.tmp");
    const QImage image = gradient();

    const Bytes png = withQt(image, "png");
    const Bytes pngInterlaced = interlacedPng(image);
    const Bytes jpeg = withQt(image, "jpg");
    const Bytes jpegProgressive = withQt(image, "jpg", true);
    const Bytes bmp = withQt(image, "bmp");
    const Bytes bmpRle8 = rleBmp(image, 8);
    const Bytes bmpRle4 = rleBmp(image, 4);
    const Bytes tiffLzw = lzwTiff(image, scratch);
    const Bytes tiffFront = frontDirectoryTiff(image);
    const Bytes tiffOneStrip = lzwTiff(image, scratch, kHeight);
    const Bytes gifPlain = gif(false);
    const Bytes gifInterlaced = gif(true);
    const Bytes jp2 = jpeg2000(image, scratch, true);
    const Bytes j2k = jpeg2000(image, scratch, false);
    const Bytes ppm = withQt(image, "ppm");

    const std::vector<std::pair<const char*, Bytes>> files{
        // originals: the tests compare damaged decodes with these
        {"png-clean.png", png},
        {"png-interlaced.png", pngInterlaced},
        {"jpeg-clean.jpg", jpeg},
        {"jpeg-progressive.jpg", jpegProgressive},
        {"bmp-clean.bmp", bmp},
        {"bmp-rle8.bmp", bmpRle8},
        {"bmp-rle4.bmp", bmpRle4},
        {"tiff-lzw.tif", tiffLzw},
        {"tiff-front-directory.tif", tiffFront},
        {"gif-clean.gif", gifPlain},
        {"gif-interlaced.gif", gifInterlaced},
        {"gif-no-colour-map.gif", withoutColourMap(gifPlain)},
        {"jp2-clean.jp2", jp2},
        {"j2k-clean.j2k", j2k},
        {"qt-clean.ppm", ppm},
        // damaged copies
        {"png-truncated.png", truncated(png, 0.5)},
        {"png-struck-idat.png", struck(png, png.size() / 2, 0x00)},
        {"png-scattered.png", scattered(png, 64, 6, 7)},
        {"png-broken-ihdr.png", struck(struck(png, 12, 'X'), 13, 'X')},
        {"png-line-breaks.png", lineBreaksRewritten(png)},
        {"png-interlaced-truncated.png", truncated(pngInterlaced, 0.3)},
        {"png-interlaced-struck.png", struck(pngInterlaced, pngInterlaced.size() / 2, 0xFF)},
        // inflate fails in the first pass ("invalid distance too far back"); libpng still goes
        // on to the end chunk
        {"png-interlaced-distance-too-far.png", struck(pngInterlaced, 151, 0xFF)},
        {"jpeg-truncated.jpg", truncated(jpeg, 0.6)},
        {"jpeg-struck.jpg", struck(jpeg, jpeg.size() / 2, 0x00)},
        {"jpeg-scattered.jpg", scattered(jpeg, 700, 8, 11)},
        {"jpeg-no-frame.jpg", truncated(jpeg, 0.02)},
        {"jpeg-progressive-truncated.jpg", truncated(jpegProgressive, 0.5)},
        {"jpeg-progressive-struck.jpg",
         struck(jpegProgressive, jpegProgressive.size() * 2 / 3, 0xFF)},
        {"bmp-truncated.bmp", truncated(bmp, 0.5)},
        {"bmp-bad-offset.bmp", struck(struck(bmp, 12, 0x7F), 13, 0x7F)},
        {"bmp-line-breaks.bmp", lineBreaksRewritten(bmp)},
        {"bmp-scattered.bmp", scattered(bmp, 54, 40, 5)},
        {"bmp-no-pixels.bmp", truncated(bmp, 0.005)},
        {"bmp-rle8-truncated.bmp", truncated(bmpRle8, 0.78)},
        {"bmp-rle4-truncated.bmp", truncated(bmpRle4, 0.6)},
        {"tiff-front-directory-truncated.tif", truncated(tiffFront, 0.5)},
        {"tiff-lzw-struck.tif", struck(tiffLzw, 200, 0xFF)},
        {"tiff-lzw-scattered.tif", scattered(tiffLzw, 8, 4, 3)},
        {"tiff-no-directory.tif", truncated(tiffLzw, 0.5)},
        {"gif-truncated.gif", truncated(gifPlain, 0.6)},
        {"gif-interlaced-truncated.gif", truncated(gifInterlaced, 0.55)},
        {"gif-scattered.gif", scattered(gifPlain, 800, 5, 13)},
        {"gif-no-image.gif", truncated(gifPlain, 0.1)},
        // the frame's left edge struck far past the screen's right
        {"gif-frame-off-screen.gif", struck(gifPlain, 13 + 3 * 256 + 2, 0x7F)},
        {"jp2-truncated.jp2", truncated(jp2, 0.5)},
        {"jp2-scattered.jp2", scattered(jp2, 200, 6, 17)},
        {"j2k-truncated.j2k", truncated(j2k, 0.6)},
        {"jp2-broken-header.jp2", truncated(jp2, 0.03)},
        {"garbage.bin", scattered(Bytes(4096, 0x55), 0, 4096, 23)},
        // damage a lenient reader gets past: the length of the chunk before the picture data,
        // a code not yet in the table in row 16 of a TIFF's only strip, an end code struck into a
        // GIF's first row, a Huffman table's counts, the length of the codestream's size marker
        {"png-struck-chunk-length.png", struck(png, find(png, {'p', 'H', 'Y', 's'}) - 4, 0x7F)},
        {"tiff-lzw-early-damage.tif", struck(tiffOneStrip, tiffOneStrip.size() / 3 + 39, 0xFF)},
        {"gif-early-damage.gif", struck(gifPlain, 13 + 3 * 256 + 10 + 1 + 1 + 16, 0xC0)},
        {"jpeg-struck-huffman-table.jpg", struck(jpeg, find(jpeg, {0xFF, 0xC4}) + 5, 0xFF)},
        {"jp2-struck-size-marker.jp2", struck(jp2, find(jp2, {0xFF, 0x4F, 0xFF, 0x51}) + 5, 0x30)},
    };
    for (const auto& [name, bytes] : files) {
        if (!save(dir, QString::fromLatin1(name), bytes)) {
            return 1;
        }
    }
    std::printf("wrote %zu files to %s\n", files.size(), qPrintable(dir));
    return 0;
}
