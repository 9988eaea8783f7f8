// Random damage with a fixed seed over every reader: whatever comes back must be a sound
// result, never a crash, a hang or an out-of-bounds read (run under the sanitizers too).

#include "codec/Decode.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QTest>
#include <cstdint>
#include <random>

namespace {

constexpr int kRoundsPerFile = 300;

QByteArray fixture(const QString& name) {
    QFile file(QStringLiteral(ZERBRAK_DECODE_FIXTURES "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray encoded(const char* format, bool progressive = false) {
    QImage image(96, 64, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb(x * 2, y * 3, (x * y) & 0xFF));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// One of the kinds of damage the program deals in, or a cut, at random.
QByteArray damaged(QByteArray bytes, std::mt19937& random) {
    if (bytes.isEmpty()) {
        return bytes;
    }
    auto anywhere = [&random](qsizetype size) {
        return static_cast<qsizetype>(random() % static_cast<std::uint32_t>(size));
    };
    auto anyByte = [&random] { return static_cast<char>(random() & 0xFF); };
    switch (random() % 5) {
    case 0: // one struck byte
        bytes[anywhere(bytes.size())] = anyByte();
        break;
    case 1: // scattered bytes
        for (auto i = 0UL, n = 1 + random() % 40; i < n; ++i) {
            bytes[anywhere(bytes.size())] = anyByte();
        }
        break;
    case 2: // cut short
        bytes.truncate(anywhere(bytes.size()));
        break;
    case 3: { // line breaks rewritten past a random point
        const qsizetype from = anywhere(bytes.size());
        QByteArray out = bytes.left(from);
        for (qsizetype i = from; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\n' || c == '\r' || c == '\x0b') {
                out.append("\r\n");
            } else {
                out.append(c == '\x07' ? ' ' : c);
            }
        }
        bytes = out;
        break;
    }
    default: // bytes inserted
        bytes.insert(anywhere(bytes.size()),
                     QByteArray(1 + static_cast<int>(random() % 16), anyByte()));
        break;
    }
    return bytes;
}

} // namespace

class TestDecodeDamage : public QObject {
    Q_OBJECT

private slots:
    void survives_data() {
        QTest::addColumn<QByteArray>("original");
        QTest::newRow("png") << encoded("png");
        QTest::newRow("png, interlaced") << fixture(QStringLiteral("png-interlaced.png"));
        QTest::newRow("jpeg") << encoded("jpg");
        QTest::newRow("jpeg, progressive") << encoded("jpg", true);
        QTest::newRow("bmp") << encoded("bmp");
        QTest::newRow("tiff, lzw") << fixture(QStringLiteral("tiff-lzw.tif"));
        QTest::newRow("tiff, directory first")
            << fixture(QStringLiteral("tiff-front-directory.tif"));
        QTest::newRow("gif") << fixture(QStringLiteral("gif-clean.gif"));
        QTest::newRow("gif, interlaced") << fixture(QStringLiteral("gif-interlaced.gif"));
        QTest::newRow("jp2") << fixture(QStringLiteral("jp2-clean.jp2"));
        QTest::newRow("j2k") << fixture(QStringLiteral("j2k-clean.j2k"));
    }

    void survives() {
        QFETCH(QByteArray, original);
        QVERIFY(!original.isEmpty());
        std::mt19937 random(20240601);
        // A small limit keeps damaged size fields from costing real memory here.
        const zerbrak::DecodeLimits limits{64ULL << 20};
        int pictures = 0;
        QElapsedTimer timer;
        timer.start();
        for (int round = 0; round < kRoundsPerFile; ++round) {
            const QByteArray bytes = damaged(original, random);
            const zerbrak::DecodeResult result =
                zerbrak::decodeImageBytes({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                           static_cast<std::size_t>(bytes.size())},
                                          limits);
            if (result.isValid()) {
                ++pictures;
                QVERIFY(result.image.format() == QImage::Format_RGB32 ||
                        result.image.format() == QImage::Format_ARGB32);
                QVERIFY(static_cast<std::uint64_t>(result.image.sizeInBytes()) <=
                        limits.maxPixelBytes);
            } else {
                QVERIFY2(!result.message.isEmpty(), "a failed decode must say why");
            }
        }
        qInfo("%d of %d damaged files gave a picture in %lld ms", pictures, kRoundsPerFile,
              static_cast<long long>(timer.elapsed()));
    }
};

QTEST_GUILESS_MAIN(TestDecodeDamage)
#include "tst_decode_damage.moc"
