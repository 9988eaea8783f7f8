#include "codec/Encode.h"

#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <openjpeg.h>
#include <tiffio.h>

using namespace zerbrak;

Q_DECLARE_METATYPE(zerbrak::ImageFileType)

namespace {

using Bytes = std::vector<std::uint8_t>;

// A read cursor over encoded bytes, for the TIFF and JPEG 2000 readers.
struct ByteReader {
    const Bytes* bytes = nullptr;
    std::uint64_t position = 0;

    std::size_t read(void* out, std::size_t wanted) {
        if (position >= bytes->size()) {
            return 0;
        }
        const std::size_t count =
            std::min<std::size_t>(wanted, bytes->size() - static_cast<std::size_t>(position));
        std::memcpy(out, bytes->data() + position, count);
        position += count;
        return count;
    }
};

tmsize_t tiffRead(thandle_t handle, void* out, tmsize_t size) {
    return static_cast<tmsize_t>(
        static_cast<ByteReader*>(handle)->read(out, static_cast<std::size_t>(size)));
}
tmsize_t tiffNoWrite(thandle_t, void*, tmsize_t) {
    return -1;
}
toff_t tiffSeek(thandle_t handle, toff_t offset, int whence) {
    auto* reader = static_cast<ByteReader*>(handle);
    if (whence == SEEK_SET) {
        reader->position = offset;
    } else if (whence == SEEK_CUR) {
        reader->position += offset;
    } else {
        reader->position = reader->bytes->size() + offset;
    }
    return reader->position;
}
int tiffClose(thandle_t) {
    return 0;
}
toff_t tiffSize(thandle_t handle) {
    return static_cast<ByteReader*>(handle)->bytes->size();
}
int tiffMap(thandle_t, void**, toff_t*) {
    return 0;
}
void tiffUnmap(thandle_t, void*, toff_t) {}

struct TiffClose {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

std::unique_ptr<TIFF, TiffClose> openTiff(ByteReader& reader) {
    return std::unique_ptr<TIFF, TiffClose>(TIFFClientOpen("test", "r", &reader, tiffRead,
                                                           tiffNoWrite, tiffSeek, tiffClose,
                                                           tiffSize, tiffMap, tiffUnmap));
}

QImage decodeTiff(const Bytes& bytes) {
    ByteReader reader{&bytes};
    const auto tiff = openTiff(reader);
    if (!tiff) {
        return {};
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    std::vector<std::uint32_t> raster(std::size_t{width} * height);
    if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, raster.data(), ORIENTATION_TOPLEFT,
                                   0)) {
        return {};
    }
    // TIFFReadRGBAImage hands back premultiplied samples whatever the file holds.
    QImage image(static_cast<int>(width), static_cast<int>(height),
                 QImage::Format_ARGB32_Premultiplied);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t abgr = raster[std::size_t{y} * width + x];
            image.setPixel(static_cast<int>(x), static_cast<int>(y),
                           qRgba(static_cast<int>(TIFFGetR(abgr)), static_cast<int>(TIFFGetG(abgr)),
                                 static_cast<int>(TIFFGetB(abgr)),
                                 static_cast<int>(TIFFGetA(abgr))));
        }
    }
    return image;
}

// The stored samples as they are, for checking straight alpha bit for bit.
QImage tiffSamples(const Bytes& bytes) {
    ByteReader reader{&bytes};
    const auto tiff = openTiff(reader);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 0;
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (!tiff || !TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples) || samples != 4 ||
        !TIFFGetField(tiff.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extra) || extraCount != 1 ||
        extra[0] != EXTRASAMPLE_UNASSALPHA) {
        return {};
    }
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888);
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff.get(), image.scanLine(static_cast<int>(y)), y, 0) != 1) {
            return {};
        }
    }
    return image;
}

OPJ_SIZE_T jp2Read(void* out, OPJ_SIZE_T size, void* userData) {
    const std::size_t count = static_cast<ByteReader*>(userData)->read(out, size);
    return count == 0 ? static_cast<OPJ_SIZE_T>(-1) : count;
}
OPJ_OFF_T jp2Skip(OPJ_OFF_T count, void* userData) {
    auto* reader = static_cast<ByteReader*>(userData);
    reader->position += static_cast<std::uint64_t>(count);
    return count;
}
OPJ_BOOL jp2Seek(OPJ_OFF_T position, void* userData) {
    static_cast<ByteReader*>(userData)->position = static_cast<std::uint64_t>(position);
    return OPJ_TRUE;
}
void jp2Quiet(const char*, void*) {}

struct CodecDestroy {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDestroy {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDestroy {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

QImage decodeJp2(const Bytes& bytes) {
    ByteReader reader{&bytes};
    const std::unique_ptr<opj_stream_t, StreamDestroy> stream(
        opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    opj_stream_set_user_data(stream.get(), &reader, nullptr);
    opj_stream_set_user_data_length(stream.get(), bytes.size());
    opj_stream_set_read_function(stream.get(), jp2Read);
    opj_stream_set_skip_function(stream.get(), jp2Skip);
    opj_stream_set_seek_function(stream.get(), jp2Seek);

    const std::unique_ptr<opj_codec_t, CodecDestroy> codec(opj_create_decompress(OPJ_CODEC_JP2));
    opj_set_error_handler(codec.get(), jp2Quiet, nullptr);
    opj_set_warning_handler(codec.get(), jp2Quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* raw = nullptr;
    if (!opj_setup_decoder(codec.get(), &parameters) ||
        !opj_read_header(stream.get(), codec.get(), &raw)) {
        return {};
    }
    const std::unique_ptr<opj_image_t, ImageDestroy> decoded(raw);
    if (!opj_decode(codec.get(), stream.get(), decoded.get()) ||
        !opj_end_decompress(codec.get(), stream.get()) || decoded->numcomps < 3) {
        return {};
    }
    const auto width = static_cast<int>(decoded->comps[0].w);
    const auto height = static_cast<int>(decoded->comps[0].h);
    const bool alpha = decoded->numcomps > 3;
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                           static_cast<std::size_t>(x);
            image.setPixel(x, y,
                           qRgba(decoded->comps[0].data[i], decoded->comps[1].data[i],
                                 decoded->comps[2].data[i],
                                 alpha ? decoded->comps[3].data[i] : 255));
        }
    }
    return image;
}

QImage decode(ImageFileType type, const Bytes& bytes) {
    switch (type) {
    case ImageFileType::Tiff:
        return decodeTiff(bytes);
    case ImageFileType::Jpeg2000:
        return decodeJp2(bytes);
    default:
        break;
    }
    QImage image;
    image.loadFromData(bytes.data(), static_cast<int>(bytes.size()));
    return image;
}

// Red across, green down, blue against both: every pixel a different colour.
QImage gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r = width > 1 ? x * 255 / (width - 1) : 128;
            const int g = height > 1 ? y * 255 / (height - 1) : 64;
            image.setPixel(x, y, qRgb(r, g, 255 - (r + g) / 2));
        }
    }
    return image;
}

// Opaque gradient with a fully transparent square in the middle and a half-transparent band.
QImage withAlpha(int width, int height) {
    QImage image = gradient(width, height).convertToFormat(QImage::Format_ARGB32);
    for (int y = height / 4; y < height * 3 / 4; ++y) {
        for (int x = width / 4; x < width * 3 / 4; ++x) {
            image.setPixel(x, y, qRgba(10, 20, 30, 0));
        }
    }
    for (int x = 0; x < width; ++x) {
        const QRgb pixel = image.pixel(x, 0);
        image.setPixel(x, 0, qRgba(qRed(pixel), qGreen(pixel), qBlue(pixel), 128));
    }
    return image;
}

// Mean of |a-b| over the red, green and blue samples.
double meanAbsoluteError(const QImage& a, const QImage& b) {
    const QImage left = a.convertToFormat(QImage::Format_RGB32);
    const QImage right = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            const QRgb p = left.pixel(x, y);
            const QRgb q = right.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * left.width() * left.height());
}

int firstDifferentPixel(const QImage& a, const QImage& b, bool compareAlpha) {
    const QImage left = a.convertToFormat(QImage::Format_ARGB32);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32);
    const QRgb mask = compareAlpha ? 0xffffffffU : 0x00ffffffU;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            if ((left.pixel(x, y) & mask) != (right.pixel(x, y) & mask)) {
                return y * left.width() + x;
            }
        }
    }
    return -1;
}

std::uint32_t le32(const Bytes& bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8U |
           std::uint32_t{bytes[offset + 2]} << 16U | std::uint32_t{bytes[offset + 3]} << 24U;
}

std::uint16_t le16(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8U);
}

bool startsWith(const Bytes& bytes, const QByteArray& prefix) {
    return bytes.size() >= static_cast<std::size_t>(prefix.size()) &&
           std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

bool contains(const Bytes& bytes, const QByteArray& needle) {
    const auto* begin = reinterpret_cast<const char*>(bytes.data());
    return QByteArrayView(begin, static_cast<qsizetype>(bytes.size())).contains(needle);
}

void addTypeRows() {
    QTest::addColumn<ImageFileType>("type");
    QTest::newRow("tiff") << ImageFileType::Tiff;
    QTest::newRow("bmp") << ImageFileType::Bmp;
    QTest::newRow("gif") << ImageFileType::Gif;
    QTest::newRow("jpeg") << ImageFileType::Jpeg;
    QTest::newRow("png") << ImageFileType::Png;
    QTest::newRow("jpeg2000") << ImageFileType::Jpeg2000;
}

bool isLossless(ImageFileType type) {
    return type != ImageFileType::Jpeg && type != ImageFileType::Gif;
}

} // namespace

class TestEncode : public QObject {
    Q_OBJECT
private slots:
    void fileTypeNumbers() {
        QCOMPARE(static_cast<int>(ImageFileType::Tiff), 0);
        QCOMPARE(static_cast<int>(ImageFileType::Bmp), 1);
        QCOMPARE(static_cast<int>(ImageFileType::Gif), 2);
        QCOMPARE(static_cast<int>(ImageFileType::Jpeg), 3);
        QCOMPARE(static_cast<int>(ImageFileType::Png), 4);
        QCOMPARE(static_cast<int>(ImageFileType::Jpeg2000), 5);
    }

    void signature_data() {
        QTest::addColumn<ImageFileType>("type");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("tiff") << ImageFileType::Tiff << QByteArray("II*\0", 4);
        QTest::newRow("bmp") << ImageFileType::Bmp << QByteArray("BM");
        QTest::newRow("gif") << ImageFileType::Gif << QByteArray("GIF89a");
        QTest::newRow("jpeg") << ImageFileType::Jpeg << QByteArray("\xff\xd8\xff");
        QTest::newRow("png") << ImageFileType::Png << QByteArray("\x89PNG\r\n\x1a\n");
        QTest::newRow("jpeg2000") << ImageFileType::Jpeg2000
                                  << QByteArray("\x00\x00\x00\x0cjP  \r\n\x87\n", 12);
    }
    void signature() {
        QFETCH(ImageFileType, type);
        QFETCH(QByteArray, prefix);
        const EncodeResult result = encodeImage(gradient(37, 23), type);
        QVERIFY2(result.ok(), qPrintable(result.error));
        QVERIFY(startsWith(result.bytes, prefix));
    }

    void roundTrip_data() { addTypeRows(); }
    void roundTrip() {
        QFETCH(ImageFileType, type);
        const QImage original = gradient(67, 45);
        const EncodeResult result = encodeImage(original, type);
        QVERIFY2(result.ok(), qPrintable(result.error));
        const QImage decoded = decode(type, result.bytes);
        QVERIFY(!decoded.isNull());
        QCOMPARE(decoded.size(), original.size());
        if (isLossless(type)) {
            QCOMPARE(firstDifferentPixel(original, decoded, true), -1);
        } else {
            const double error = meanAbsoluteError(original, decoded);
            QVERIFY2(error < 6.0, qPrintable(QString::number(error)));
        }
    }

    void onePixel_data() { addTypeRows(); }
    void onePixel() {
        QFETCH(ImageFileType, type);
        QImage original(1, 1, QImage::Format_RGB32);
        original.setPixel(0, 0, qRgb(200, 100, 50));
        const EncodeResult result = encodeImage(original, type);
        QVERIFY2(result.ok(), qPrintable(result.error));
        const QImage decoded = decode(type, result.bytes);
        QCOMPARE(decoded.size(), QSize(1, 1));
        const QRgb pixel = decoded.pixel(0, 0);
        const int tolerance = type == ImageFileType::Jpeg ? 4 : 0;
        QVERIFY2(std::abs(qRed(pixel) - 200) <= tolerance &&
                     std::abs(qGreen(pixel) - 100) <= tolerance &&
                     std::abs(qBlue(pixel) - 50) <= tolerance,
                 qPrintable(QColor(pixel).name()));
    }

    void nullImage_data() { addTypeRows(); }
    void nullImage() {
        QFETCH(ImageFileType, type);
        const EncodeResult fromNull = encodeImage(QImage(), type);
        QVERIFY(!fromNull.ok());
        QVERIFY(!fromNull.error.isEmpty());
        QVERIFY(fromNull.bytes.empty());
        const EncodeResult fromEmpty = encodeImage(QImage(0, 5, QImage::Format_RGB32), type);
        QVERIFY(!fromEmpty.ok());
        QVERIFY(!fromEmpty.error.isEmpty());
    }

    void unknownType() {
        const EncodeResult result = encodeImage(gradient(4, 4), static_cast<ImageFileType>(42));
        QVERIFY(!result.ok());
        QVERIFY(!result.error.isEmpty());
    }

    void tooWideForTheFormat_data() {
        QTest::addColumn<ImageFileType>("type");
        QTest::newRow("jpeg") << ImageFileType::Jpeg;
        QTest::newRow("gif") << ImageFileType::Gif;
    }
    void tooWideForTheFormat() {
        QFETCH(ImageFileType, type);
        QImage wide(70000, 1, QImage::Format_RGB32);
        wide.fill(Qt::darkCyan);
        const EncodeResult result = encodeImage(wide, type);
        QVERIFY(!result.ok());
        QVERIFY(!result.error.isEmpty());
        qInfo("%s", qPrintable(result.error));
    }

    void alpha_data() { addTypeRows(); }
    void alpha() {
        QFETCH(ImageFileType, type);
        const QImage original = withAlpha(40, 30);
        const EncodeResult result = encodeImage(original, type);
        QVERIFY2(result.ok(), qPrintable(result.error));
        const QImage decoded = decode(type, result.bytes);
        QCOMPARE(decoded.size(), original.size());
        const QPoint hole(20, 15);
        const QPoint opaque(2, 28);
        switch (type) {
        case ImageFileType::Tiff:
            QCOMPARE(firstDifferentPixel(original, tiffSamples(result.bytes), true), -1);
            QCOMPARE(qAlpha(decoded.pixel(hole)), 0);
            QCOMPARE(qAlpha(decoded.pixel(opaque)), 255);
            break;
        case ImageFileType::Png:
        case ImageFileType::Jpeg2000:
            QCOMPARE(firstDifferentPixel(original, decoded, true), -1);
            break;
        case ImageFileType::Gif:
            QCOMPARE(qAlpha(decoded.pixel(hole)), 0);
            QCOMPARE(qAlpha(decoded.pixel(opaque)), 255);
            // Half transparency is not expressible; those pixels come back opaque.
            QCOMPARE(qAlpha(decoded.pixel(5, 0)), 255);
            break;
        case ImageFileType::Bmp:
        case ImageFileType::Jpeg:
            QVERIFY(!decoded.hasAlphaChannel() || qAlpha(decoded.pixel(hole)) == 255);
            break;
        }
    }

    void pngInterlaceFlag_data() {
        QTest::addColumn<bool>("interlaced");
        QTest::newRow("plain") << false;
        QTest::newRow("adam7") << true;
    }
    void pngInterlaceFlag() {
        QFETCH(bool, interlaced);
        const QImage original = gradient(33, 17);
        const EncodeResult result =
            encodeImage(original, ImageFileType::Png, EncodeOptions{.interlaced = interlaced});
        QVERIFY2(result.ok(), qPrintable(result.error));
        QVERIFY(result.bytes.size() > 28);
        QCOMPARE(result.bytes[28], interlaced ? 1 : 0);
        QImage decoded;
        QVERIFY(decoded.loadFromData(result.bytes.data(), static_cast<int>(result.bytes.size())));
        QCOMPARE(firstDifferentPixel(original, decoded, true), -1);
    }

    void pngColourType_data() {
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<int>("colourType");
        QTest::newRow("rgb") << false << 2;
        QTest::newRow("rgba") << true << 6;
    }
    void pngColourType() {
        QFETCH(bool, transparent);
        QFETCH(int, colourType);
        const QImage original = transparent ? withAlpha(8, 8) : gradient(8, 8);
        const EncodeResult result = encodeImage(original, ImageFileType::Png);
        QVERIFY2(result.ok(), qPrintable(result.error));
        QCOMPARE(result.bytes[24], 8); // bit depth
        QCOMPARE(int{result.bytes[25]}, colourType);
    }

    void bmpHeader() {
        QImage original(3, 2, QImage::Format_RGB32);
        original.setPixel(0, 0, qRgb(1, 2, 3));
        original.setPixel(1, 0, qRgb(4, 5, 6));
        original.setPixel(2, 0, qRgb(7, 8, 9));
        original.setPixel(0, 1, qRgb(10, 11, 12));
        original.setPixel(1, 1, qRgb(13, 14, 15));
        original.setPixel(2, 1, qRgb(16, 17, 18));
        const EncodeResult result = encodeImage(original, ImageFileType::Bmp);
        QVERIFY2(result.ok(), qPrintable(result.error));
        const Bytes& b = result.bytes;
        const std::uint32_t stride = 12; // 9 bytes of pixels padded to 12
        QCOMPARE(b.size(), std::size_t{54 + 2 * stride});
        QCOMPARE(le32(b, 2), std::uint32_t{54 + 2 * stride}); // file size
        QCOMPARE(le32(b, 10), 54U);                           // pixel data offset
        QCOMPARE(le32(b, 14), 40U);                           // info header size
        QCOMPARE(le32(b, 18), 3U);                            // width
        QCOMPARE(le32(b, 22), 2U);                            // height, bottom-up
        QCOMPARE(le16(b, 26), 1);                             // planes
        QCOMPARE(le16(b, 28), 24);                            // bits per pixel
        QCOMPARE(le32(b, 30), 0U);                            // BI_RGB
        QCOMPARE(le32(b, 34), 2 * stride);                    // image size
        QCOMPARE(le32(b, 38), 2835U);
        QCOMPARE(le32(b, 42), 2835U);
        // Bottom row first, blue-green-red, then three zero bytes of padding.
        const Bytes firstRow(b.begin() + 54, b.begin() + 54 + stride);
        QCOMPARE(firstRow, (Bytes{12, 11, 10, 15, 14, 13, 18, 17, 16, 0, 0, 0}));
        const Bytes secondRow(b.begin() + 54 + stride, b.end());
        QCOMPARE(secondRow, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0}));
    }

    void jpegIsBaseline() {
        const EncodeResult result = encodeImage(gradient(64, 64), ImageFileType::Jpeg);
        QVERIFY2(result.ok(), qPrintable(result.error));
        QVERIFY(contains(result.bytes, QByteArray("\xff\xc0", 2)));
        QVERIFY(!contains(result.bytes, QByteArray("\xff\xc2", 2)));
    }

    void tiffIsUncompressedInStrips() {
        const QImage original = gradient(300, 200);
        const EncodeResult result = encodeImage(original, ImageFileType::Tiff);
        QVERIFY2(result.ok(), qPrintable(result.error));
        ByteReader reader{&result.bytes};
        const auto tiff = openTiff(reader);
        QVERIFY(tiff);
        std::uint16_t compression = 0;
        std::uint16_t samples = 0;
        std::uint32_t rowsPerStrip = 0;
        QVERIFY(TIFFGetField(tiff.get(), TIFFTAG_COMPRESSION, &compression));
        QVERIFY(TIFFGetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples));
        QVERIFY(TIFFGetField(tiff.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip));
        QCOMPARE(compression, std::uint16_t{COMPRESSION_NONE});
        QCOMPARE(samples, std::uint16_t{3});
        // Strips of roughly 8 KiB: 900-byte rows, so nine of them.
        QCOMPARE(rowsPerStrip, 9U);
        QVERIFY(TIFFNumberOfStrips(tiff.get()) > 1);
    }

    void gifPaletteKeepsGradientsClose() {
        const QImage original = gradient(256, 256);
        const EncodeResult result = encodeImage(original, ImageFileType::Gif);
        QVERIFY2(result.ok(), qPrintable(result.error));
        const QImage decoded = decode(ImageFileType::Gif, result.bytes);
        QCOMPARE(decoded.size(), original.size());
        const double error = meanAbsoluteError(original, decoded);
        qInfo("GIF mean absolute error per channel: %.2f", error);
        QVERIFY2(error < 6.0, qPrintable(QString::number(error)));
        QVERIFY(decoded.convertToFormat(QImage::Format_RGB32).colorCount() == 0);
        QVERIFY(!contains(result.bytes, QByteArray("\x21\xf9", 2)));
    }

    void gifTransparencyHasControlBlock() {
        const EncodeResult result = encodeImage(withAlpha(16, 16), ImageFileType::Gif);
        QVERIFY2(result.ok(), qPrintable(result.error));
        QVERIFY(contains(result.bytes, QByteArray("\x21\xf9\x04", 3)));
    }

    void jp2KeepsComponentCount_data() {
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<bool>("alphaBack");
        QTest::newRow("rgb") << false << false;
        QTest::newRow("rgba") << true << true;
    }
    void jp2KeepsComponentCount() {
        QFETCH(bool, transparent);
        QFETCH(bool, alphaBack);
        const QImage original = transparent ? withAlpha(20, 20) : gradient(20, 20);
        const EncodeResult result = encodeImage(original, ImageFileType::Jpeg2000);
        QVERIFY2(result.ok(), qPrintable(result.error));
        const QImage decoded = decodeJp2(result.bytes);
        QVERIFY(!decoded.isNull());
        QCOMPARE(qAlpha(decoded.pixel(10, 10)) != 255, alphaBack);
    }
};

QTEST_GUILESS_MAIN(TestEncode)
#include "tst_encode.moc"
