// The lenient decoders: sniffing, the size limit, clean files, files cut short, interlaced
// files cut after their early passes, and garbage.

#include "codec/Decode.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

using zerbrak::DecodeLimits;
using zerbrak::DecodeResult;
using zerbrak::ImageFormat;

Q_DECLARE_METATYPE(ImageFormat)

namespace {

constexpr QRgb kGrey = 0xFF808080u;

std::span<const std::uint8_t> spanOf(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

DecodeResult decode(const QByteArray& bytes, const DecodeLimits& limits = {}) {
    return zerbrak::decodeImageBytes(spanOf(bytes), limits);
}

// The fixtures' picture: a gradient with a little fixed noise, so that compressed data
// spreads over the file.
QImage gradient(int width, int height, bool alpha = false) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto seed = static_cast<std::uint32_t>(x * 73 + y * 151);
            const int noise = static_cast<int>(((seed * 2654435761u) >> 24) & 31);
            const int a = alpha ? (x * 255 / std::max(width - 1, 1)) : 255;
            // qRgba keeps the low byte of each channel, so the ramps wrap around.
            image.setPixel(x, y,
                           qRgba(x * 3 + noise, y * 5 + noise / 2, (x + y) * 2 + noise / 2, a));
        }
    }
    return image;
}

QByteArray encoded(const QImage& image, const char* format, bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image)) {
        qWarning() << "cannot write" << format << writer.errorString();
    }
    return bytes;
}

QByteArray fixture(const char* name) {
    QFile file(QStringLiteral(ZERBRAK_DECODE_FIXTURES "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "missing fixture" << name;
        return {};
    }
    return file.readAll();
}

QByteArray truncated(const QByteArray& bytes, double keep) {
    return bytes.left(static_cast<qsizetype>(static_cast<double>(bytes.size()) * keep));
}

QByteArray garbageAfter(const QByteArray& magic, int count) {
    QByteArray bytes = magic;
    std::uint32_t seed = 12345;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes.append(static_cast<char>(seed >> 24));
    }
    return bytes;
}

bool sameRow(const QImage& a, const QImage& b, int y) {
    const QImage left = a.convertToFormat(QImage::Format_ARGB32);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32);
    return left.width() == right.width() &&
           std::memcmp(left.constScanLine(y), right.constScanLine(y),
                       static_cast<std::size_t>(left.width()) * 4) == 0;
}

bool samePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (int y = 0; y < a.height(); ++y) {
        if (!sameRow(a, b, y)) {
            return false;
        }
    }
    return true;
}

bool rowIs(const QImage& image, int y, QRgb colour) {
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, y) != colour) {
            return false;
        }
    }
    return true;
}

// --- hand-made headers ----------------------------------------------------------------

void appendLe(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void appendBe(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

QByteArray pngDeclaring(std::uint32_t width, std::uint32_t height) {
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    appendBe(out, 13, 4);
    out.append("IHDR");
    appendBe(out, width, 4);
    appendBe(out, height, 4);
    out.append(QByteArray("\x08\x02\x00\x00\x00", 5));
    appendBe(out, 0, 4); // checksums are not checked
    appendBe(out, 10, 4);
    out.append("IDAT");
    out.append(QByteArray(14, '\0'));
    return out;
}

// A BMP of `bits` per pixel with a BITMAPINFOHEADER, optional masks and palette, and the
// given stored rows (already padded).
QByteArray bmp(int width, int height, int bits, std::uint32_t compression, const QByteArray& extra,
               const QByteArray& pixels) {
    QByteArray out("BM");
    const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(extra.size());
    appendLe(out, offset + static_cast<std::uint32_t>(pixels.size()), 4);
    appendLe(out, 0, 4);
    appendLe(out, offset, 4);
    appendLe(out, 40, 4);
    appendLe(out, static_cast<std::uint32_t>(width), 4);
    appendLe(out, static_cast<std::uint32_t>(height), 4);
    appendLe(out, 1, 2);
    appendLe(out, static_cast<std::uint32_t>(bits), 2);
    appendLe(out, compression, 4);
    appendLe(out, static_cast<std::uint32_t>(pixels.size()), 4);
    appendLe(out, 2835, 4);
    appendLe(out, 2835, 4);
    appendLe(out, 0, 4);
    appendLe(out, 0, 4);
    return out + extra + pixels;
}

QByteArray gifDeclaring(std::uint16_t width, std::uint16_t height) {
    QByteArray out("GIF89a");
    appendLe(out, width, 2);
    appendLe(out, height, 2);
    out.append(QByteArray("\x80\x00\x00", 3)); // two-entry global colour table
    out.append(QByteArray("\x00\x00\x00\xff\xff\xff", 6));
    out.append(',');
    appendLe(out, 0, 4);
    appendLe(out, width, 2);
    appendLe(out, height, 2);
    out.append(QByteArray("\x00\x02\x02\x4c\x01\x00\x3b", 7));
    return out;
}

QByteArray jpegDeclaring(std::uint16_t width, std::uint16_t height) {
    QByteArray out("\xff\xd8", 2);
    out.append(QByteArray("\xff\xc0\x00\x11\x08", 5));
    appendBe(out, height, 2);
    appendBe(out, width, 2);
    out.append(QByteArray("\x03\x01\x11\x00\x02\x11\x01\x03\x11\x01", 10));
    out.append(QByteArray("\xff\xda\x00\x0c\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00", 14));
    out.append(QByteArray(64, '\0'));
    out.append(QByteArray("\xff\xd9", 2));
    return out;
}

QByteArray tiffDeclaring(std::uint32_t width, std::uint32_t height) {
    QByteArray out("II*\0", 4);
    appendLe(out, 8, 4);
    const std::uint32_t entries = 9;
    appendLe(out, entries, 2);
    const std::uint32_t dataAt = 8 + 2 + entries * 12 + 4;
    auto entry = [&out](std::uint32_t tag, std::uint32_t type, std::uint32_t value) {
        appendLe(out, tag, 2);
        appendLe(out, type, 2);
        appendLe(out, 1, 4);
        appendLe(out, value, 4);
    };
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, 8);
    entry(259, 3, 1);
    entry(262, 3, 1);
    entry(273, 4, dataAt);
    entry(277, 3, 1);
    entry(278, 4, 1);
    entry(279, 4, 64);
    appendLe(out, 0, 4);
    out.append(QByteArray(64, '\x40'));
    return out;
}

QByteArray codestreamDeclaring(std::uint32_t width, std::uint32_t height) {
    QByteArray out("\xff\x4f\xff\x51", 4);
    appendBe(out, 41, 2);
    appendBe(out, 0, 2);
    appendBe(out, width, 4);
    appendBe(out, height, 4);
    appendBe(out, 0, 4);
    appendBe(out, 0, 4);
    appendBe(out, width, 4);
    appendBe(out, height, 4);
    appendBe(out, 0, 4);
    appendBe(out, 0, 4);
    appendBe(out, 1, 2);
    out.append(QByteArray("\x07\x01\x01", 3));
    out.append(QByteArray("\xff\x52\x00\x0c\x00\x00\x00\x01\x00\x05\x04\x04\x00\x01", 14));
    out.append(QByteArray("\xff\x5c\x00\x13\x40", 5));
    out.append(QByteArray(16, '\x48'));
    out.append(QByteArray("\xff\x90\x00\x0a\x00\x00\x00\x00\x00\x00\x00\x01", 12));
    out.append(QByteArray("\xff\x93\xff\xd9", 4));
    return out;
}

} // namespace

class TestDecode : public QObject {
    Q_OBJECT

private slots:
    void sniff_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ImageFormat>("expected");
        const QByteArray png("\x89PNG\r\n\x1a\n", 8);
        QTest::newRow("png") << png << ImageFormat::Png;
        QTest::newRow("png, line breaks rewritten")
            << QByteArray("\x89PNG\r\n\r\n\x1a\r\n", 11) << ImageFormat::Png;
        QTest::newRow("jpeg") << QByteArray("\xff\xd8\xff\xe0", 4) << ImageFormat::Jpeg;
        QTest::newRow("tiff little-endian") << QByteArray("II*\0", 4) << ImageFormat::Tiff;
        QTest::newRow("tiff big-endian") << QByteArray("MM\0*", 4) << ImageFormat::Tiff;
        QTest::newRow("bigtiff") << QByteArray("II+\0", 4) << ImageFormat::Tiff;
        QTest::newRow("gif87a") << QByteArray("GIF87a") << ImageFormat::Gif;
        QTest::newRow("gif89a") << QByteArray("GIF89a") << ImageFormat::Gif;
        QTest::newRow("bmp") << QByteArray("BM") + QByteArray(30, '\0') << ImageFormat::Bmp;
        QTest::newRow("jp2 box") << QByteArray("\0\0\0\x0cjP  \r\n\x87\n", 12)
                                 << ImageFormat::Jpeg2000;
        QTest::newRow("j2k codestream")
            << QByteArray("\xff\x4f\xff\x51", 4) << ImageFormat::Jpeg2000;
        QTest::newRow("png cut inside its magic")
            << QByteArray("\x89PN", 3) << ImageFormat::Unknown;
        QTest::newRow("jpeg cut inside its magic")
            << QByteArray("\xff\xd8", 2) << ImageFormat::Unknown;
        QTest::newRow("gif cut inside its magic") << QByteArray("GIF8") << ImageFormat::Unknown;
        QTest::newRow("tiff cut inside its magic") << QByteArray("II*") << ImageFormat::Unknown;
        QTest::newRow("jp2 cut inside its box")
            << QByteArray("\0\0\0\x0cjP  ", 8) << ImageFormat::Unknown;
        QTest::newRow("bmp with no room for a header") << QByteArray("BM") << ImageFormat::Unknown;
        QTest::newRow("empty") << QByteArray() << ImageFormat::Unknown;
        QTest::newRow("text") << QByteArray("hello, world") << ImageFormat::Unknown;
        QTest::newRow("ppm") << QByteArray("P6\n4 4\n255\n") << ImageFormat::Unknown;
    }

    void sniff() {
        QFETCH(QByteArray, bytes);
        QFETCH(ImageFormat, expected);
        QCOMPARE(zerbrak::sniffFormat(spanOf(bytes)), expected);
    }

    // The bytes decide, not the name.
    void extensionLies_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<ImageFormat>("format");
        const QImage image = gradient(40, 30);
        QTest::newRow("png named .jpg")
            << encoded(image, "png") << "picture.jpg" << ImageFormat::Png;
        QTest::newRow("bmp named .png")
            << encoded(image, "bmp") << "picture.png" << ImageFormat::Bmp;
        QTest::newRow("jpeg named .gif")
            << encoded(image, "jpg") << "picture.gif" << ImageFormat::Jpeg;
    }

    void extensionLies() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(ImageFormat, format);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QCOMPARE(zerbrak::sniffFormat(spanOf(bytes)), format);
        const DecodeResult result = zerbrak::decodeImageFile(dir.filePath(name));
        QVERIFY2(result.isValid(), qPrintable(result.message));
        QVERIFY(!result.partial);
        QCOMPARE(result.image.size(), QSize(40, 30));
    }

    void missingFile() {
        const DecodeResult result =
            zerbrak::decodeImageFile(QStringLiteral("/nonexistent/zerbrak/picture.png"));
        QVERIFY(!result.isValid());
        QVERIFY(!result.message.isEmpty());
    }

    // Headers declaring 100000 x 100000 (GIF's fields stop at 65535) must be refused from
    // the header alone: decoding would need 40 GB, so a pass here means nothing was
    // allocated for the pixels.
    void sizeLimit_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qulonglong>("limit");
        const qulonglong standard = DecodeLimits{}.maxPixelBytes;
        QTest::newRow("png") << pngDeclaring(100000, 100000) << standard;
        QTest::newRow("bmp") << bmp(100000, 100000, 24, 0, {}, QByteArray(64, '\0')) << standard;
        QTest::newRow("bmp, top-down")
            << bmp(100000, -100000, 24, 0, {}, QByteArray(64, '\0')) << standard;
        QTest::newRow("gif") << gifDeclaring(65535, 65535) << standard;
        QTest::newRow("jpeg") << jpegDeclaring(65000, 65000) << standard;
        QTest::newRow("tiff") << tiffDeclaring(100000, 100000) << standard;
        QTest::newRow("j2k") << codestreamDeclaring(100000, 100000) << standard;
        // Every reader honours a caller's own, smaller limit the same way.
        const QImage image = gradient(64, 48);
        QTest::newRow("png, small limit") << encoded(image, "png") << 4096ULL;
        QTest::newRow("jpeg, small limit") << encoded(image, "jpg") << 4096ULL;
        QTest::newRow("bmp, small limit") << encoded(image, "bmp") << 4096ULL;
        QTest::newRow("tiff, small limit") << fixture("tiff-lzw.tif") << 4096ULL;
        QTest::newRow("gif, small limit") << fixture("gif-clean.gif") << 4096ULL;
        QTest::newRow("jp2, small limit") << fixture("jp2-clean.jp2") << 4096ULL;
        QTest::newRow("qt, small limit") << fixture("qt-clean.ppm") << 4096ULL;
    }

    void sizeLimit() {
        QFETCH(QByteArray, bytes);
        QFETCH(qulonglong, limit);
        QElapsedTimer timer;
        timer.start();
        const DecodeResult result = decode(bytes, DecodeLimits{limit});
        QVERIFY(!result.isValid());
        QVERIFY2(result.message.contains(QStringLiteral("more than")), qPrintable(result.message));
        QVERIFY(timer.elapsed() < 2000);
    }

    void zeroSize_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("png") << pngDeclaring(0, 10);
        QTest::newRow("bmp") << bmp(10, 0, 24, 0, {}, QByteArray(64, '\0'));
        QTest::newRow("gif") << gifDeclaring(0, 0);
    }

    void zeroSize() {
        QFETCH(QByteArray, bytes);
        const DecodeResult result = decode(bytes);
        QVERIFY(!result.isValid());
        QVERIFY(!result.message.isEmpty());
    }

    void clean_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QImage>("original"); // null where the coding is lossy
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("alpha");
        const QImage image = gradient(160, 120);
        const QImage translucent = gradient(160, 120, true);
        const QImage small = gradient(64, 48);
        QTest::newRow("png") << encoded(image, "png") << image << image.size() << false;
        QTest::newRow("png with alpha")
            << encoded(translucent, "png") << translucent << image.size() << true;
        QTest::newRow("png, interlaced")
            << fixture("png-interlaced.png") << small << small.size() << false;
        QTest::newRow("jpeg") << encoded(image, "jpg") << QImage() << image.size() << false;
        QTest::newRow("jpeg, progressive")
            << encoded(image, "jpg", true) << QImage() << image.size() << false;
        QTest::newRow("bmp") << encoded(image, "bmp") << image << image.size() << false;
        QTest::newRow("tiff, lzw") << fixture("tiff-lzw.tif") << small << small.size() << false;
        QTest::newRow("tiff, directory first")
            << fixture("tiff-front-directory.tif") << small << small.size() << false;
        QTest::newRow("gif") << fixture("gif-clean.gif") << QImage() << small.size() << false;
        QTest::newRow("gif, interlaced")
            << fixture("gif-interlaced.gif") << QImage() << small.size() << false;
        QTest::newRow("jp2") << fixture("jp2-clean.jp2") << small << small.size() << false;
        QTest::newRow("j2k") << fixture("j2k-clean.j2k") << small << small.size() << false;
        QTest::newRow("ppm through qt") << encoded(image, "ppm") << image << image.size() << false;
    }

    void clean() {
        QFETCH(QByteArray, bytes);
        QFETCH(QImage, original);
        QFETCH(QSize, size);
        QFETCH(bool, alpha);
        QVERIFY(!bytes.isEmpty());
        const DecodeResult result = decode(bytes);
        QVERIFY2(result.isValid(), qPrintable(result.message));
        QVERIFY2(!result.partial, qPrintable(result.message));
        QVERIFY2(result.message.isEmpty(), qPrintable(result.message));
        QCOMPARE(result.image.size(), size);
        QCOMPARE(result.image.format(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (!original.isNull()) {
            QVERIFY(samePixels(result.image, original));
        }
    }

    // Interlaced GIF rows arrive out of order; the decoded picture must still match the
    // straight one.
    void gifInterlacedMatchesStraight() {
        const DecodeResult straight = decode(fixture("gif-clean.gif"));
        const DecodeResult interlaced = decode(fixture("gif-interlaced.gif"));
        QVERIFY(straight.isValid() && interlaced.isValid());
        QVERIFY(samePixels(straight.image, interlaced.image));
    }

    // A struck byte in the boxes (here the image header's height) no longer loses the picture:
    // the codestream inside is decoded alone.
    void jp2WithDamagedBoxesFallsBackToTheCodestream() {
        const QByteArray clean = fixture("jp2-clean.jp2");
        QCOMPARE(clean.mid(44, 4), QByteArray("ihdr"));
        QByteArray damaged = clean;
        damaged[48] = '\x7f'; // height, most significant byte
        const DecodeResult expected = decode(clean);
        const DecodeResult result = decode(damaged);
        QVERIFY2(result.isValid(), qPrintable(result.message));
        QVERIFY(result.partial);
        QVERIFY(samePixels(result.image, expected.image));
    }

    // One struck byte in a one-value field of the directory no longer loses every strip.
    void tiffWithDamagedSampleFields_data() {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("fieldOffset"); // within the 12-byte entry
        QTest::addColumn<int>("value");
        QTest::newRow("samples per pixel count") << 277 << 4 << 3;
        QTest::newRow("compression count") << 259 << 4 << 2;
        QTest::newRow("bits per sample differ") << 258 << -1 << 9;
    }
    void tiffWithDamagedSampleFields() {
        QFETCH(int, tag);
        QFETCH(int, fieldOffset);
        QFETCH(int, value);
        const QByteArray clean = fixture("tiff-lzw.tif");
        QVERIFY(clean.startsWith("II*"));
        auto le = [&](qsizetype at, int length) {
            quint32 v = 0;
            for (int i = length - 1; i >= 0; --i) {
                v = (v << 8) | static_cast<quint8>(clean[at + i]);
            }
            return v;
        };
        const qsizetype directory = le(4, 4);
        qsizetype entry = -1;
        for (quint32 i = 0; i < le(directory, 2); ++i) {
            if (le(directory + 2 + 12 * i, 2) == static_cast<quint32>(tag)) {
                entry = directory + 2 + 12 * i;
            }
        }
        QVERIFY(entry > 0);
        QByteArray damaged = clean;
        // Bits per sample: its second value, out of line at the offset the entry holds.
        const qsizetype at = fieldOffset >= 0 ? entry + fieldOffset : le(entry + 8, 4) + 2;
        damaged[at] = static_cast<char>(value);

        const DecodeResult result = decode(damaged);
        QVERIFY2(result.isValid(), qPrintable(result.message));
        QVERIFY(result.partial);
        QVERIFY(samePixels(result.image, decode(clean).image));
    }

    void gifWithoutColourMapUsesGreyRamp() {
        const DecodeResult result = decode(fixture("gif-no-colour-map.gif"));
        QVERIFY2(result.isValid(), qPrintable(result.message));
        // Index (x + 2y) mod 256 becomes that grey level.
        QCOMPARE(result.image.pixel(5, 3), qRgb(11, 11, 11));
    }

    // A file cut in the middle keeps the rows stored before the cut, exactly as a clean
    // decode has them, and greys what is missing.
    void truncated_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<double>("keep");
        QTest::addColumn<int>("keptRow");
        QTest::addColumn<int>("missingRow"); // -1 where the reader fills in its own way
        const QImage image = gradient(160, 120);
        QTest::newRow("png") << encoded(image, "png") << 0.5 << 0 << 119;
        QTest::newRow("jpeg") << encoded(image, "jpg") << 0.5 << 0 << -1;
        QTest::newRow("bmp, bottom-up") << encoded(image, "bmp") << 0.5 << 119 << 0;
        QTest::newRow("tiff") << fixture("tiff-front-directory.tif") << 0.5 << 0 << 47;
        QTest::newRow("gif") << fixture("gif-clean.gif") << 0.6 << 0 << 47;
        QTest::newRow("jp2, tiled") << fixture("jp2-clean.jp2") << 0.5 << 0 << -1;
        QTest::newRow("j2k, tiled") << fixture("j2k-clean.j2k") << 0.6 << 0 << -1;
    }

    void truncated() {
        QFETCH(QByteArray, bytes);
        QFETCH(double, keep);
        QFETCH(int, keptRow);
        QFETCH(int, missingRow);
        const DecodeResult whole = decode(bytes);
        QVERIFY(whole.isValid() && !whole.partial);
        const DecodeResult cut = decode(::truncated(bytes, keep));
        QVERIFY2(cut.isValid(), qPrintable(cut.message));
        QVERIFY(cut.partial);
        QVERIFY(!cut.message.isEmpty());
        QCOMPARE(cut.image.size(), whole.image.size());
        QVERIFY(sameRow(cut.image, whole.image, keptRow));
        if (missingRow >= 0) {
            QVERIFY(rowIs(cut.image, missingRow, kGrey));
        }
    }

    // A progressive JPEG cut short still shows its whole frame, at the detail of the scans
    // that arrived, not a grey lower half.
    void progressiveJpegTruncated() {
        const QByteArray bytes = encoded(gradient(160, 120), "jpg", true);
        const DecodeResult cut = decode(::truncated(bytes, 0.4));
        QVERIFY2(cut.isValid(), qPrintable(cut.message));
        QVERIFY(cut.partial);
        QVERIFY(!rowIs(cut.image, 119, kGrey));
    }

    // An interlaced PNG cut after its early passes still fills the whole frame, in blocks
    // that grow finer with each pass that arrived.
    void interlacedPngTruncated_data() {
        QTest::addColumn<double>("keep");
        QTest::newRow("25%") << 0.25;
        QTest::newRow("50%") << 0.5;
        QTest::newRow("75%") << 0.75;
        QTest::newRow("95%") << 0.95;
    }

    void interlacedPngTruncated() {
        QFETCH(double, keep);
        const QImage original = gradient(64, 48);
        const DecodeResult cut = decode(::truncated(fixture("png-interlaced.png"), keep));
        QVERIFY2(cut.isValid(), qPrintable(cut.message));
        QVERIFY(cut.partial);
        QCOMPARE(cut.image.size(), original.size());
        // The first pass (every eighth pixel each way) is a sixty-fourth of the data.
        for (int y = 0; y < original.height(); y += 8) {
            for (int x = 0; x < original.width(); x += 8) {
                QCOMPARE(cut.image.pixel(x, y), original.pixel(x, y));
                // ...and each first-pass pixel stands for its block until finer passes come.
                QVERIFY(cut.image.pixel(x + 7, y + 7) != kGrey);
            }
        }
    }

    void garbage_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("png") << garbageAfter(QByteArray("\x89PNG\r\n\x1a\n", 8), 2000);
        QTest::newRow("jpeg") << garbageAfter(QByteArray("\xff\xd8\xff", 3), 2000);
        QTest::newRow("tiff") << garbageAfter(QByteArray("II*\0", 4), 2000);
        QTest::newRow("gif") << garbageAfter(QByteArray("GIF89a"), 2000);
        QTest::newRow("bmp") << garbageAfter(QByteArray("BM"), 2000);
        QTest::newRow("jp2") << garbageAfter(QByteArray("\0\0\0\x0cjP  \r\n\x87\n", 12), 2000);
        QTest::newRow("j2k") << garbageAfter(QByteArray("\xff\x4f\xff\x51", 4), 2000);
        QTest::newRow("unknown") << garbageAfter(QByteArray(), 2000);
        QTest::newRow("empty") << QByteArray();
    }

    void garbage() {
        QFETCH(QByteArray, bytes);
        const DecodeResult result = decode(bytes);
        QVERIFY(!result.isValid());
        QVERIFY(!result.message.isEmpty());
    }

    // BMP layouts Qt does not write: palettes, 16-bit fields, top-down rows, the OS/2
    // header, alpha masks.
    void bmpVariants_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QRgb>("topLeft");
        QTest::addColumn<QRgb>("bottomRight");
        QTest::addColumn<bool>("alpha");
        QByteArray palette2;
        appendLe(palette2, 0x00112233, 4);
        appendLe(palette2, 0x00AABBCC, 4);
        // 2x2, 1 bit: stored bottom row first; bottom row "1 0", top row "0 1".
        QTest::newRow("1-bit") << bmp(2, 2, 1, 0, palette2, QByteArray("\x80\0\0\0\x40\0\0\0", 8))
                               << qRgb(0x11, 0x22, 0x33) << qRgb(0x11, 0x22, 0x33) << false;
        QTest::newRow("4-bit") << bmp(2, 2, 4, 0, palette2, QByteArray("\x10\0\0\0\x01\0\0\0", 8))
                               << qRgb(0x11, 0x22, 0x33) << qRgb(0x11, 0x22, 0x33) << false;
        QTest::newRow("8-bit top-down")
            << bmp(2, -2, 8, 0, palette2, QByteArray("\x01\x00\0\0\x00\x01\0\0", 8))
            << qRgb(0xAA, 0xBB, 0xCC) << qRgb(0xAA, 0xBB, 0xCC) << false;
        QByteArray masks565;
        appendLe(masks565, 0xF800, 4);
        appendLe(masks565, 0x07E0, 4);
        appendLe(masks565, 0x001F, 4);
        // Pure red at bottom-left... stored bottom row first: red, green; top: blue, white.
        QTest::newRow("16-bit 565")
            << bmp(2, 2, 16, 3, masks565, QByteArray("\x00\xF8\xE0\x07\x1F\x00\xFF\xFF", 8))
            << qRgb(0, 0, 255) << qRgb(0, 255, 0) << false;
        QTest::newRow("16-bit 555")
            << bmp(2, 2, 16, 0, {}, QByteArray("\x00\x7C\xE0\x03\x1F\x00\xFF\x7F", 8))
            << qRgb(0, 0, 255) << qRgb(0, 255, 0) << false;
        QByteArray masksArgb;
        appendLe(masksArgb, 0x00FF0000, 4);
        appendLe(masksArgb, 0x0000FF00, 4);
        appendLe(masksArgb, 0x000000FF, 4);
        appendLe(masksArgb, 0xFF000000, 4);
        QTest::newRow("32-bit alpha fields")
            << bmp(1, 2, 32, 6, masksArgb, QByteArray("\x10\x20\x30\x80\x01\x02\x03\xFF", 8))
            << qRgba(3, 2, 1, 255) << qRgba(0x30, 0x20, 0x10, 0x80) << true;
        // Run lengths, bottom row first. 8 bits, 3x2: an absolute stretch "0 1 1" with its pad
        // byte, end of line, a run of three 1s, end of bitmap.
        QTest::newRow("8-bit run lengths")
            << bmp(3, 2, 8, 1, palette2,
                   QByteArray("\x00\x03\x00\x01\x01\x00\x00\x00\x03\x01\x00\x01", 12))
            << qRgb(0xAA, 0xBB, 0xCC) << qRgb(0xAA, 0xBB, 0xCC) << false;
        // 4 bits, 2x2: a run "0 1" (high half first), end of line, a delta one column right
        // leaving the top-left as background (the first colour), one 1, end of bitmap.
        QTest::newRow("4-bit run lengths")
            << bmp(2, 2, 4, 2, palette2,
                   QByteArray("\x02\x01\x00\x00\x00\x02\x01\x00\x01\x11\x00\x01", 12))
            << qRgb(0x11, 0x22, 0x33) << qRgb(0xAA, 0xBB, 0xCC) << false;
        // OS/2 1.x: 12-byte header, three-byte palette entries.
        QByteArray core("BM");
        appendLe(core, 0, 4);
        appendLe(core, 0, 4);
        appendLe(core, 14 + 12 + 6, 4);
        appendLe(core, 12, 4);
        appendLe(core, 2, 2);
        appendLe(core, 1, 2);
        appendLe(core, 1, 2);
        appendLe(core, 8, 2);
        core.append(QByteArray("\x33\x22\x11\xCC\xBB\xAA", 6));
        core.append(QByteArray("\x00\x01\0\0", 4));
        QTest::newRow("os/2 core header")
            << core << qRgb(0x11, 0x22, 0x33) << qRgb(0xAA, 0xBB, 0xCC) << false;
    }

    void bmpVariants() {
        QFETCH(QByteArray, bytes);
        QFETCH(QRgb, topLeft);
        QFETCH(QRgb, bottomRight);
        QFETCH(bool, alpha);
        const DecodeResult result = decode(bytes);
        QVERIFY2(result.isValid(), qPrintable(result.message));
        QVERIFY2(!result.partial, qPrintable(result.message));
        QCOMPARE(result.image.format(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        const QImage& image = result.image;
        QCOMPARE(image.pixel(0, 0), topLeft);
        QCOMPARE(image.pixel(image.width() - 1, image.height() - 1), bottomRight);
    }

    // Bytes inserted by a line-break rewrite shift the pixels; the reader shows the shift
    // rather than giving up.
    void bmpLineBreaksRewritten() {
        const QByteArray clean = encoded(gradient(160, 120), "bmp");
        QByteArray rewritten;
        for (const char c : clean) {
            if (c == '\n' || c == '\r' || c == '\x0b') {
                rewritten.append("\r\n");
            } else {
                rewritten.append(c == '\x07' ? ' ' : c);
            }
        }
        QVERIFY(rewritten.size() > clean.size());
        const DecodeResult result = decode(rewritten);
        QVERIFY2(result.isValid(), qPrintable(result.message));
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "tst_decode.moc"
