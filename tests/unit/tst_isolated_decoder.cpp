// The helper process gives what an in-process decode gives; a crash, a stall, a spin, a picture
// handed over without seals or a cancel is a decode result, and the next request is served by a
// fresh helper. What the in-process decode would not read never reaches the helper.

#include "codec/Decode.h"
#include "platform/IsolatedDecoder.h"

#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace zerbrak;
using namespace std::chrono_literals;

namespace {

enum class Ask { Decode, Crash, Stall, Spin, Unsealed, Cancel };

QString corpusPath(const QString& name) {
    return QStringLiteral(ZERBRAK_DECODE_FIXTURES "/") + name;
}

DecodeResult ask(IsolatedDecoder& decoder, Ask what, const QString& path) {
    switch (what) {
    case Ask::Decode:
        return decoder.decodeFile(path);
    case Ask::Crash:
        return decoder.induce(IsolatedDecoder::Fault::Crash);
    case Ask::Stall:
        return decoder.induce(IsolatedDecoder::Fault::Stall);
    case Ask::Spin:
        return decoder.induce(IsolatedDecoder::Fault::Spin);
    case Ask::Unsealed:
        return decoder.induce(IsolatedDecoder::Fault::Unsealed);
    case Ask::Cancel:
        break;
    }
    // cancel() acts only while a decode is under way: asked until that one has ended.
    std::atomic<bool> answered{false};
    const std::jthread canceller([&] {
        while (!answered) {
            std::this_thread::sleep_for(20ms);
            decoder.cancel();
        }
    });
    DecodeResult result = decoder.induce(IsolatedDecoder::Fault::Stall);
    answered = true;
    return result;
}

void compareResults(const DecodeResult& actual, const DecodeResult& expected) {
    QCOMPARE(actual.message, expected.message);
    QCOMPARE(actual.partial, expected.partial);
    QCOMPARE(actual.image.size(), expected.image.size());
    QCOMPARE(actual.image, expected.image);
}

} // namespace

Q_DECLARE_METATYPE(Ask)

class TestIsolatedDecoder : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // A corpus file, or one this test makes: "made:" and a name of initTestCase's.
    QString pathOf(const QString& file) const {
        return file.startsWith(QLatin1String("made:")) ? dir_.filePath(file.mid(5))
                                                       : corpusPath(file);
    }

    static QString clean() { return QStringLiteral("png-clean.png"); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QCOMPARE(::mkfifo(QFile::encodeName(dir_.filePath("fifo")).constData(), 0600), 0);
        // Sparse: 1100 MiB declared, nothing written.
        QFile large(dir_.filePath("large.png"));
        QVERIFY(large.open(QIODevice::WriteOnly));
        QVERIFY(large.write("\x89PNG\r\n\x1a\n", 8) == 8);
        QVERIFY(large.resize(qint64{1100} << 20));
        // Over 128 MiB decoded: a memfd of its own, moved over band by band.
        QImage wide(6000, 6000, QImage::Format_RGB32);
        wide.fill(Qt::darkCyan);
        for (int y = 0; y < wide.height(); ++y) {
            wide.scanLine(y)[0] = static_cast<uchar>(y);
        }
        QVERIFY(QImageWriter(dir_.filePath("wide.png"), "png").write(wide));
    }

    void outcome_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Ask>("what");
        QTest::addColumn<QString>("helper");  // empty: the one built beside this test
        QTest::addColumn<QString>("message"); // empty: the in-process decode's result
        QTest::addColumn<bool>("reaches");    // the request reaches a helper
        const QString none;
        const QString clean = TestIsolatedDecoder::clean();
        QTest::newRow("whole png") << clean << Ask::Decode << none << none << true;
        QTest::newRow("partial jpeg")
            << "jpeg-truncated.jpg" << Ask::Decode << none << none << true;
        QTest::newRow("partial gif")
            << "gif-interlaced-truncated.gif" << Ask::Decode << none << none << true;
        QTest::newRow("lzw tiff") << "tiff-lzw.tif" << Ask::Decode << none << none << true;
        QTest::newRow("not a picture") << "garbage.bin" << Ask::Decode << none << none << true;
        QTest::newRow("picture over 128 MiB")
            << "made:wide.png" << Ask::Decode << none << none << true;
        QTest::newRow("missing file") << "made:absent.png" << Ask::Decode << none << none << false;
        QTest::newRow("named pipe") << "made:fifo" << Ask::Decode << none << none << false;
        QTest::newRow("1100 MiB file") << "made:large.png" << Ask::Decode << none << none << false;
        QTest::newRow("crash") << clean << Ask::Crash << none << "the decoder crashed" << true;
        // Asleep, it uses no processor time: only the answer limit ends it.
        QTest::newRow("stall") << clean << Ask::Stall << none << "gave no answer within 1.5 s"
                               << true;
        QTest::newRow("spin") << clean << Ask::Spin << none
                              << "used more than 0.3 s of processor time" << true;
        QTest::newRow("unsealed picture")
            << clean << Ask::Unsealed << none << "the decoder handed over a picture without seals"
            << true;
        QTest::newRow("cancel") << clean << Ask::Cancel << none << "decoding was cancelled" << true;
        QTest::newRow("no helper")
            << clean << Ask::Decode << "/nonexistent/zerbrak-decoder" << none << false;
    }

    void outcome() {
        QFETCH(QString, file);
        QFETCH(Ask, what);
        QFETCH(QString, helper);
        QFETCH(QString, message);
        QFETCH(bool, reaches);
        IsolatedDecoder::Options options;
        options.helperPath = helper;
        if (what == Ask::Stall) {
            options.cpuLimit = 1000ms;
            options.answerLimit = 1500ms;
        } else if (what == Ask::Spin) {
            options.cpuLimit = 300ms;
        }
        IsolatedDecoder decoder(options);
        const QString path = pathOf(file);
        if (what == Ask::Stall || what == Ask::Spin) {
            // The helper's start, slow in a sanitizer build, is not what these rows measure.
            QVERIFY(decoder.decodeFile(corpusPath(clean())).isValid());
        }

        const DecodeResult result = ask(decoder, what, path);
        QCOMPARE(decoder.lastCost().has_value(), reaches);
        if (message.isEmpty()) {
            compareResults(result, decodeImageFile(path));
            QCOMPARE(decoder.helperPid() > 0, reaches);
            if (!file.startsWith(QLatin1String("made:"))) {
                QFile bytes(path);
                QVERIFY(bytes.open(QIODevice::ReadOnly));
                const QByteArray data = bytes.readAll();
                const std::span<const std::uint8_t> view(
                    reinterpret_cast<const std::uint8_t*>(data.constData()),
                    static_cast<std::size_t>(data.size()));
                compareResults(decoder.decodeBytes(view), decodeImageBytes(view));
            }
        } else {
            QCOMPARE(result.message, message);
            QVERIFY(result.image.isNull());
            QCOMPARE(decoder.helperPid(), -1);
        }
        // Whatever happened, the next decode is served, by a helper when there is one.
        const QString again = corpusPath(QStringLiteral("jpeg-clean.jpg"));
        compareResults(decoder.decodeFile(again), decodeImageFile(again));
        QCOMPARE(decoder.helperPid() > 0, helper.isEmpty());
    }

    // A picture shared with the helper is never written in place: a write copies it first,
    // so the helper's memory, mapped read-only here, is left alone and the arena can be
    // handed out again.
    void writingAPictureCopiesIt() {
        IsolatedDecoder decoder;
        const QString path = corpusPath(QStringLiteral("png-clean.png"));
        DecodeResult result = decoder.decodeFile(path);
        QVERIFY(result.isValid());
        QVERIFY(decoder.helperPid() > 0);
        const uchar* shared = result.image.constBits();
        result.image.setPixel(0, 0, 0xff123456U);
        QVERIFY(result.image.constBits() != shared);
        QCOMPARE(result.image.pixel(0, 0), 0xff123456U);
        compareResults(decoder.decodeFile(path), decodeImageFile(path));
    }

    // A picture with memory of its own is the program's alone once handed over: the helper
    // keeps no hold on it that would outlive the picture and add to the next decode.
    void largePictureIsNotKeptByTheHelper() {
        IsolatedDecoder decoder;
        const DecodeResult result = decoder.decodeFile(dir_.filePath("wide.png"));
        QCOMPARE(result.image.size(), QSize(6000, 6000));
        const QString fds = QStringLiteral("/proc/%1/fd").arg(decoder.helperPid());
        const QStringList entries = QDir(fds).entryList(QDir::Files | QDir::System);
        QVERIFY(!entries.isEmpty());
        for (const QString& entry : entries) {
            struct stat status {};
            if (::stat(QFile::encodeName(fds + "/" + entry).constData(), &status) == 0) {
                QVERIFY2(static_cast<std::size_t>(status.st_size) <= decoderwire::maxArenaBytes,
                         qPrintable(entry));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestIsolatedDecoder)
#include "tst_isolated_decoder.moc"
