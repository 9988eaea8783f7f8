// The helper process gives what an in-process decode gives; a crash, a stall or a cancel is a
// decode result, and the next request is served by a fresh helper.

#include "codec/Decode.h"
#include "platform/IsolatedDecoder.h"

#include <QFile>
#include <QTest>
#include <atomic>
#include <thread>

using namespace zerbrak;
using namespace std::chrono_literals;

namespace {

enum class Ask { Decode, Crash, Stall, Cancel };

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

private slots:
    void outcome_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Ask>("what");
        QTest::addColumn<QString>("helper");  // empty: the one built beside this test
        QTest::addColumn<QString>("message"); // empty: the in-process decode's result
        const QString none;
        const QString clean = QStringLiteral("png-clean.png");
        QTest::newRow("whole png") << clean << Ask::Decode << none << none;
        QTest::newRow("partial jpeg") << "jpeg-truncated.jpg" << Ask::Decode << none << none;
        QTest::newRow("partial gif")
            << "gif-interlaced-truncated.gif" << Ask::Decode << none << none;
        QTest::newRow("lzw tiff") << "tiff-lzw.tif" << Ask::Decode << none << none;
        QTest::newRow("not a picture") << "garbage.bin" << Ask::Decode << none << none;
        QTest::newRow("crash") << clean << Ask::Crash << none << "the decoder crashed";
        QTest::newRow("stall") << clean << Ask::Stall << none << "took longer than 0.3 s";
        QTest::newRow("cancel") << clean << Ask::Cancel << none << "decoding was cancelled";
        QTest::newRow("no helper")
            << clean << Ask::Decode << "/nonexistent/zerbrak-decoder" << none;
    }

    void outcome() {
        QFETCH(QString, file);
        QFETCH(Ask, what);
        QFETCH(QString, helper);
        QFETCH(QString, message);
        IsolatedDecoder::Options options;
        options.helperPath = helper;
        options.timeLimit = what == Ask::Stall ? 300ms : decodeTimeLimit;
        IsolatedDecoder decoder(options);
        const QString path = corpusPath(file);

        const DecodeResult result = ask(decoder, what, path);
        if (message.isEmpty()) {
            compareResults(result, decodeImageFile(path));
            QFile bytes(path);
            QVERIFY(bytes.open(QIODevice::ReadOnly));
            const QByteArray data = bytes.readAll();
            const std::span<const std::uint8_t> view(
                reinterpret_cast<const std::uint8_t*>(data.constData()),
                static_cast<std::size_t>(data.size()));
            compareResults(decoder.decodeBytes(view), decodeImageBytes(view));
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
};

QTEST_GUILESS_MAIN(TestIsolatedDecoder)
#include "tst_isolated_decoder.moc"
