#include "EditionConstants.h"
#include "FakeDesktop.h"
#include "RandomBytes.h"
#include "TestFiles.h"
#include "glitch/GlitchPass.h"
#include "glitch/PassStream.h"
#include "glitch/Session.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace zerbrak;
using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(zerbrak::CorruptionMode)

namespace {

// Text-like: every line-break byte, CR LF pairs, bells, at spacings that put a pair across
// every boundary of the chunk sizes tried. A CR LF also straddles the header guard.
Bytes lineBreaks(std::size_t size) {
    static constexpr std::uint8_t pattern[] = {'a',  0x0D, 0x0A, 'b',  0x0B, 0x07, 0x0D,
                                               0x0A, 'c',  0x0A, 0x0D, 'd',  0x07};
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = pattern[i % std::size(pattern)];
    }
    if (size > 40) {
        bytes[39] = 0x0D;
        bytes[40] = 0x0A;
    }
    return bytes;
}

Bytes asBytes(const QByteArray& bytes) {
    return {bytes.begin(), bytes.end()};
}

QByteArray patterned(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    }
    return bytes;
}

} // namespace

class TestGlitchPass : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

    Session sessionFor(const QString& inPath, const QString& endFormat, std::uint32_t seed = 1) {
        Session session;
        session.inPath = inPath;
        session.endFormat = endFormat;
        session.random.reseed(seed);
        return session;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void scatterChangesOnlyCandidates() {
        const QByteArray input = patterned(20'000);
        writeFile(path("photo.jpg"), input);
        Session session = sessionFor(path("photo.jpg"), "jpg");
        FakeDesktop desktop;
        const QString written =
            doGlitch(session, {0, 0, false, 0}, desktop, session.inPath, path("out.jpg"));
        QCOMPARE(written, path("out.jpg"));
        const QByteArray output = readFile(written);
        QCOMPARE(output.size(), input.size());
        int changed = 0;
        for (int i = 0; i < input.size(); ++i) {
            if (output[i] != input[i]) {
                QVERIFY2(i >= 100 && i % 100 == 0, qPrintable(QString::number(i)));
                ++changed;
            }
        }
        QVERIFY(changed > 150); // chance 0 strikes every candidate
        QVERIFY(desktop.alerts.isEmpty());
    }

    void logLinesInOrder_data() {
        QTest::addColumn<QString>("endFormat");
        QTest::addColumn<QString>("modeLine");
        QTest::newRow("bmp") << "bmp"
                             << "has bmp";
        QTest::newRow("png") << "png"
                             << "has png";
        QTest::newRow("scatter logs no mode line") << "tiff"
                                                   << "";
    }
    void logLinesInOrder() {
        QFETCH(QString, endFormat);
        QFETCH(QString, modeLine);
        writeFile(path("in.any"), patterned(500));
        Session session = sessionFor(path("in.any"), endFormat);
        FakeDesktop desktop;
        LogCapture log;
        const QString out = path("100%s %n.out"); // a path with format characters is data
        doGlitch(session, {}, desktop, session.inPath, out);
        QStringList expected{"dostuff endFormat: " + endFormat, "dostuff inPath: " + path("in.any"),
                             "dostuff outFileName: " + out};
        if (!modeLine.isEmpty()) {
            expected << modeLine;
        }
        QCOMPARE(log.lines(), expected);
    }

    void missingFolderAlertsAndReadsNothing() {
        writeFile(path("keep.jpg"), patterned(1000));
        Session session = sessionFor(path("keep.jpg"), "jpg", 77);
        FakeDesktop desktop;
        LogCapture log;
        const QString out = path("no/such/folder/frame.jpg");
        QCOMPARE(doGlitch(session, {0, 0, false, 0}, desktop, session.inPath, out), out);
        QCOMPARE(desktop.alerts, QStringList{out});
        QVERIFY(log.lines().isEmpty());
        QCOMPARE(session.random.draw(), RandomSource(77).draw()); // nothing drawn
        QCOMPARE(readFile(path("keep.jpg")), patterned(1000));
        QVERIFY(!QFile::exists(out));
    }

    void outputThatIsAFolderAlerts() {
        writeFile(path("x.jpg"), patterned(100));
        QVERIFY(QDir(dir_.path()).mkpath("taken"));
        Session session = sessionFor(path("x.jpg"), "jpg");
        FakeDesktop desktop;
        doGlitch(session, {}, desktop, session.inPath, path("taken"));
        QCOMPARE(desktop.alerts, QStringList{path("taken")});
    }

    void bytesComeFromInPath() {
        writeFile(path("a.jpg"), QByteArray(300, 'a'));
        writeFile(path("b.jpg"), QByteArray(300, 'b'));
        Session session = sessionFor(path("a.jpg"), "jpg");
        FakeDesktop desktop;
        doGlitch(session, {0, 0, false, 100}, desktop, path("b.jpg"), path("ab.jpg"));
        QCOMPARE(readFile(path("ab.jpg")), QByteArray(300, 'a'));
    }

    void longerOutputIsReplaced() {
        writeFile(path("short.jpg"), patterned(64));
        writeFile(path("long.out"), QByteArray(10'000, 'x'));
        Session session = sessionFor(path("short.jpg"), "jpg");
        FakeDesktop desktop;
        doGlitch(session, {0, 0, false, 100}, desktop, session.inPath, path("long.out"));
        QCOMPARE(readFile(path("long.out")), patterned(64));
    }

    void shortInputs_data() {
        QTest::addColumn<QString>("endFormat");
        QTest::addColumn<int>("size");
        QTest::newRow("30 bytes tiff unchanged") << "tiff" << 30;
        QTest::newRow("30 bytes bmp unchanged") << "bmp" << 30;
        QTest::newRow("empty png stays empty") << "png" << 0;
        QTest::newRow("empty bmp stays empty") << "bmp" << 0;
        QTest::newRow("empty jpg stays empty") << "jpg" << 0;
    }
    void shortInputs() {
        QFETCH(QString, endFormat);
        QFETCH(int, size);
        const QByteArray input = QByteArray(size, '\n');
        writeFile(path("short.in"), input);
        Session session = sessionFor(path("short.in"), endFormat, 4);
        FakeDesktop desktop;
        doGlitch(session, {0, 0, false, 0}, desktop, session.inPath, path("short.out"));
        QCOMPARE(readFile(path("short.out")), input);
        QVERIFY(desktop.alerts.isEmpty());
        QCOMPARE(session.random.draw(), RandomSource(4).draw());
    }

    void unreadableInputEndsTheRun_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "never-written.jpg"
                                 << "No such file or directory";
        QTest::newRow("named pipe") << "pipe.jpg"
                                    << "it is a named pipe (FIFO), not a regular file";
        QTest::newRow("folder") << "folder.jpg"
                                << "it is a folder, not a regular file";
    }
    void unreadableInputEndsTheRun() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString input = path(name);
        if (name == "pipe.jpg") {
            QCOMPARE(::mkfifo(QFile::encodeName(input).constData(), 0600), 0);
        } else if (name == "folder.jpg") {
            QVERIFY(QDir().mkpath(input));
        }
        writeFile(path("stale.out"), "old");
        Session session = sessionFor(input, "jpg", 9);
        FakeDesktop desktop;
        LogCapture log;
        auto pass = std::async(std::launch::async, [&] {
            return runGlitchPass(session, {}, desktop, session.inPath, path("stale.out"));
        });
        if (pass.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
            // The pass waits for a writer: give it one that writes nothing, then fail.
            ::close(::open(QFile::encodeName(input).constData(), O_WRONLY | O_NONBLOCK));
            pass.wait();
            QFAIL("the pass waited on its input");
        }
        const PassResult result = pass.get();
        QVERIFY(result.runFailed && result.inputUnusable);
        QCOMPARE(desktop.failures, QStringList{"Cannot read " + input + ": " + reason + "."});
        QVERIFY(desktop.alerts.isEmpty());
        QVERIFY(log.lines().isEmpty());
        QCOMPARE(readFile(path("stale.out")), QByteArray("old"));
        QCOMPARE(session.random.draw(), RandomSource(9).draw());
    }

    void namedPipeOutputGetsTheBytes() {
        writeFile(path("piped.jpg"), patterned(20'000));
        FakeDesktop desktop;
        Session reference = sessionFor(path("piped.jpg"), "jpg", 12);
        doGlitch(reference, {0, 0, false, 0}, desktop, reference.inPath, path("piped.ref"));

        const QByteArray pipe = QFile::encodeName(path("piped.out"));
        QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        // The reading end is open before the pass, so the pass never waits for a reader; the
        // bytes fit in the pipe.
        const int reader = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        Session session = sessionFor(path("piped.jpg"), "jpg", 12);
        QCOMPARE(doGlitch(session, {0, 0, false, 0}, desktop, session.inPath, path("piped.out")),
                 path("piped.out"));
        QVERIFY(desktop.alerts.isEmpty());
        QByteArray received;
        std::array<char, 4096> buffer{};
        for (ssize_t got; (got = ::read(reader, buffer.data(), buffer.size())) > 0;) {
            received.append(buffer.data(), got);
        }
        QCOMPARE(received, readFile(path("piped.ref")));
        struct stat info {};
        QCOMPARE(::stat(pipe.constData(), &info), 0);
        QVERIFY(S_ISFIFO(info.st_mode)); // written into, not replaced
    }

    void outputNamingTheInputKeepsItsBytes() {
        const QByteArray input = patterned(4000);
        writeFile(path("self.jpg"), input);
        Session session = sessionFor(path("self.jpg"), "jpg");
        FakeDesktop desktop;
        doGlitch(session, {0, 0, false, 0}, desktop, session.inPath, path("self.jpg"));
        const QByteArray output = readFile(path("self.jpg"));
        QCOMPARE(output.size(), input.size());
        QCOMPARE(output.left(100), input.left(100));
        QVERIFY(output != input);
    }

    void lineBreakRewriteGrowsTheFile() {
        QByteArray input = patterned(100);
        input[50] = '\n';
        input[60] = '\r';
        writeFile(path("lines.bmp"), input);
        Session session = sessionFor(path("lines.bmp"), "bmp");
        FakeDesktop desktop;
        doGlitch(session, {}, desktop, session.inPath, path("lines.out"));
        // The pattern already holds a 0x0D at 58: three line breaks in all.
        QCOMPARE(readFile(path("lines.out")).size(), input.size() + 3);
    }

    void reseedReproducesAPass_data() {
        QTest::addColumn<QString>("endFormat");
        QTest::newRow("strike") << "png";
        QTest::newRow("scatter") << "jpg";
    }
    void reseedReproducesAPass() {
        QFETCH(QString, endFormat);
        writeFile(path("seed.in"), patterned(50'000));
        Session session = sessionFor(path("seed.in"), endFormat);
        session.endFormat = endFormat;
        FakeDesktop desktop;
        const GlitchParams params{0, 0, false, 10};
        QList<QByteArray> outputs;
        for (const std::int64_t seed :
             {std::int64_t{1}, std::int64_t{4294967297}, std::int64_t{2}}) {
            reseed(session, seed);
            doGlitch(session, params, desktop, session.inPath, path("seed.out"));
            outputs << readFile(path("seed.out"));
        }
        QCOMPARE(outputs[0], outputs[1]); // only the low 32 bits of the seed count
        QVERIFY(outputs[0] != outputs[2]);
    }

    // The streamed pass against the whole-buffer one, with chunks small enough that every
    // boundary case falls on a chunk's edge: into a file and into a pipe, keeping the bytes
    // or not.
    void streamedPassMatchesTheWholeBuffer_data() {
        QTest::addColumn<CorruptionMode>("mode");
        QTest::addColumn<Bytes>("input");
        QTest::addColumn<int>("chance");
        QTest::addColumn<bool>("replace");
        const std::pair<const char*, CorruptionMode> modes[] = {
            {"rewrite", CorruptionMode::LineBreakRewrite},
            {"strike", CorruptionMode::SingleByteStrike},
            {"scatter", CorruptionMode::ReplaceAndScatter}};
        for (const auto& [name, mode] : modes) {
            for (const int size : {0, 1, 39, 40, 41, 4097}) {
                QTest::addRow("%s random %d", name, size)
                    << mode << randomBytes(std::size_t(size), 3) << 0 << false;
            }
        }
        for (const int size : {39, 40, 41, 42, 3001}) {
            QTest::addRow("rewrite line breaks %d", size)
                << CorruptionMode::LineBreakRewrite << lineBreaks(std::size_t(size)) << 0 << false;
        }
        Bytes fromBytes = randomBytes(6'000, 5);
        for (std::size_t i = 0; i < fromBytes.size(); i += 3) {
            fromBytes[i] = 0x00;
        }
        for (const int chance : {0, 1, 50, 99, 100}) {
            for (const bool replace : {false, true}) {
                for (const int size : {41, 6'000}) {
                    QTest::addRow("scatter chance %d replace %d size %d", chance, int(replace),
                                  size)
                        << CorruptionMode::ReplaceAndScatter
                        << Bytes(fromBytes.begin(), fromBytes.begin() + std::ptrdiff_t(size))
                        << chance << replace;
                }
            }
        }
        QTest::addRow("scatter chance 100 replaces at the guard")
            << CorruptionMode::ReplaceAndScatter << Bytes(300, 0x00) << 100 << true;
    }
    void streamedPassMatchesTheWholeBuffer() {
        QFETCH(CorruptionMode, mode);
        QFETCH(Bytes, input);
        QFETCH(int, chance);
        QFETCH(bool, replace);
        const GlitchParams params{0x00, 0xEE, replace, chance};
        const QString inPath = path("stream.in");
        writeFile(inPath, QByteArray(reinterpret_cast<const char*>(input.data()),
                                     static_cast<qsizetype>(input.size())));
        for (const std::uint32_t seed : {1U, 2U}) {
            RandomSource wholeRandom(seed);
            const Bytes expected = applyMode(mode, input, params, wholeRandom);
            for (const std::size_t chunk : {1UL, 7UL, 16UL, 41UL, 4096UL}) {
                for (const bool intoPipe : {false, true}) {
                    for (const std::uint64_t keepUpTo : {0UL, 1UL << 20U}) {
                        const QString row = QStringLiteral("seed %1 chunk %2 pipe %3 keep %4")
                                                .arg(seed)
                                                .arg(chunk)
                                                .arg(int(intoPipe))
                                                .arg(keepUpTo);
                        const InputFile in = openInputFile(inPath);
                        QVERIFY(in.ok());
                        RandomSource random(seed);
                        Bytes written;
                        StreamOutcome outcome;
                        if (intoPipe) {
                            std::array<int, 2> ends{};
                            QCOMPARE(::pipe2(ends.data(), O_CLOEXEC), 0);
                            const FileDescriptor reader(ends[0]);
                            {
                                const FileDescriptor writer(ends[1]);
                                // Small enough for the pipe's buffer: no reader thread needed.
                                outcome = streamMode(in, inPath, writer.get(), mode, params, random,
                                                     {chunk, keepUpTo});
                            }
                            std::array<std::uint8_t, 4096> buffer{};
                            for (ssize_t got;
                                 (got = ::read(reader.get(), buffer.data(), buffer.size())) > 0;) {
                                written.insert(written.end(), buffer.begin(), buffer.begin() + got);
                            }
                        } else {
                            QFile out(path("stream.out"));
                            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
                            outcome = streamMode(in, inPath, out.handle(), mode, params, random,
                                                 {chunk, keepUpTo});
                            out.close();
                            written = asBytes(readFile(path("stream.out")));
                        }
                        QVERIFY2(outcome.ok(),
                                 qPrintable(row + outcome.readError + outcome.writeError));
                        QVERIFY2(written == expected, qPrintable(row));
                        QVERIFY2(outcome.bytes.has_value() == (keepUpTo > 0), qPrintable(row));
                        QVERIFY2(!outcome.bytes || *outcome.bytes == expected, qPrintable(row));
                        QVERIFY2(random.draw() == RandomSource(wholeRandom).draw(),
                                 qPrintable(row));
                    }
                }
            }
        }
    }

    void startSessionValues() {
        Session session;
        startSession(session, "/data/start.png", -1, 4294967296LL + 1234);
        QCOMPARE(session.inPath, QString("/data/start.png"));
        QCOMPARE(session.endFormat.toStdString(), std::string(edition::initialEndFormat));
        QVERIFY(std::holds_alternative<FreeText>(session.trans_endFormat));
        QCOMPARE(std::get<FreeText>(session.trans_endFormat).text, QString());
        QCOMPARE(session.globalNR, 1234);
        QCOMPARE(session.tmr, 0);
        QCOMPARE(session.random.draw(), RandomSource(4294967295U).draw()); // -1 seeds 2^32-1
    }
};

QTEST_GUILESS_MAIN(TestGlitchPass)
#include "tst_glitch_pass.moc"
