#include "DetailedPicture.h"
#include "FakeDesktop.h"
#include "TestFiles.h"
#include "codec/Decode.h"
#include "glitch/FormatTable.h"
#include "glitch/GlitchPass.h"
#include "glitch/TranscodeChange.h"
#include "glitch/TranscodeStep.h"
#include "platform/ImageDecoder.h"
#include "platform/Log.h"
#include "platform/ScratchFolder.h"
#include "runs/FrameSeries.h"
#include "runs/OutputFolder.h"
#include "runs/RunReport.h"
#include "sources/WebcamCapture.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace zerbrak;
Q_DECLARE_METATYPE(zerbrak::TranscodeTarget)

namespace {

// Cancels the series once it reaches a given pass.
class CancellingDesktop final : public Desktop {
public:
    explicit CancellingDesktop(int stopBeforePass) : stopBeforePass_(stopBeforePass) {}
    void showImage(const QImage&) override {}
    void alertOutputFailed(const QString&, const QString&) override {}
    void alertRunFailed(const QString&) override {}
    bool seriesProgress(int, int, int) override { return passes_++ < stopBeforePass_; }

private:
    int stopBeforePass_;
    int passes_ = 0;
};

// Decodes in-process, but answers the decode numbered `cancelAt` (from 1) as a cancel would.
class CancelledDecoder final : public ImageDecoder {
public:
    explicit CancelledDecoder(int cancelAt) : cancelAt_(cancelAt) {}
    DecodeResult decodeBytes(std::span<const std::uint8_t> bytes) override {
        return ++decodes_ == cancelAt_ ? cancelled() : decodeImageBytes(bytes);
    }
    DecodeResult decodeFile(const QString& path) override {
        return ++decodes_ == cancelAt_ ? cancelled() : decodeImageFile(path);
    }

private:
    static DecodeResult cancelled() {
        DecodeResult result{QImage(), false, QStringLiteral("decoding was cancelled")};
        result.cancelled = true;
        return result;
    }
    int cancelAt_;
    int decodes_ = 0;
};

QStringList linesStartingWith(const QStringList& lines, const QString& prefix) {
    QStringList found;
    for (const QString& line : lines) {
        if (line.startsWith(prefix)) {
            found << line;
        }
    }
    return found;
}

} // namespace

class TestFrameSeries : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QString goodImage_;
    QString garbage_;
    QString wideImage_;

    QString freshHome() {
        static int count = 0;
        const QString home = dir_.filePath(QStringLiteral("home%1").arg(++count));
        QDir().mkpath(home);
        return home;
    }

    Session sessionOn(const QString& input, const QString& endFormat, std::int32_t run = 70) {
        Session session;
        session.inPath = input;
        session.endFormat = endFormat;
        session.globalNR = run;
        return session;
    }

    // Links planted at the names the re-encode and the snapshot write leave their target alone,
    // and a link in place of a scratch file that a pass reads is refused, not read through.
    void verifyLinksNotFollowed(const QString& folder, const QString& base) {
        const QString outside = base + "/outside";
        writeFile(outside, "not to be overwritten");
        const QString scratch = folder + "/TEMP.png";
        const QString capture = folder + "/capture.tiff";
        QVERIFY(QFile::link(outside, scratch));
        QVERIFY(QFile::link(outside, capture));

        Session session = sessionOn(goodImage_, "png");
        session.trans_endFormat = FixedTarget::Png;
        FakeDesktop desktop;
        QVERIFY(!runGlitchPass(session, {}, desktop, session.inPath, base + "/frame").runFailed);
        QCOMPARE(session.inPath, scratch);
        const SnapshotFile snapshot = writeSnapshot(detailedPicture(32, 16));
        QCOMPARE(snapshot.error, QString());
        QCOMPARE(snapshot.path, capture);
        QCOMPARE(readFile(outside), QByteArray("not to be overwritten"));
        for (const QString& written : {scratch, capture}) {
            QVERIFY(!QFileInfo(written).isSymLink());
            QVERIFY(decodeImageFile(written).isValid());
        }
        // No temporary is left behind.
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                            QDir::NoDotAndDotDot,
                                        QDir::Name),
                 QStringList({"TEMP.png", "capture.tiff"}));

        // The pictures linked to would decode well: the re-encoding pass and the plain one
        // must refuse them all the same.
        for (const auto& [name, target] : {std::pair{scratch, TranscodeTarget(FixedTarget::Png)},
                                           std::pair{capture, TranscodeTarget(FreeText{})}}) {
            QVERIFY(QFile::remove(name));
            QVERIFY(QFile::link(goodImage_, name));
            session.inPath = name;
            session.trans_endFormat = target;
            FakeDesktop refused;
            QVERIFY(runGlitchPass(session, {}, refused, name, base + "/refused").runFailed);
            QCOMPARE(refused.failures, QStringList{"Cannot read " + name +
                                                   ": it is a symbolic link, not a regular file."});
            QVERIFY(!QFile::exists(base + "/refused"));
            QVERIFY(!QFile::exists(base + "/refused.png"));
        }
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qputenv("XDG_RUNTIME_DIR", dir_.filePath("runtime").toUtf8());
        QDir().mkpath(dir_.filePath("runtime"));
        goodImage_ = dir_.filePath("good.png");
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(goodImage_));
        garbage_ = dir_.filePath("garbage.jpg");
        QFile file(garbage_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(2000, 'z'));
        wideImage_ = dir_.filePath("wide.png");
        QImage wide(65536, 1, QImage::Format_RGB32); // one pixel wider than GIF allows
        wide.fill(Qt::darkCyan);
        QVERIFY(wide.save(wideImage_));
    }

    // Tests that move the scratch folder put it back.
    void cleanup() {
        qputenv("XDG_RUNTIME_DIR", dir_.filePath("runtime").toUtf8());
        qunsetenv("XDG_CACHE_HOME");
    }

    void statusReports_data() {
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("partial");
        QTest::addColumn<int>("givenUp");
        QTest::addColumn<bool>("lastGivenUp");
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("report");
        QTest::newRow("all kept") << 3 << 0 << 0 << false << false << 3
                                  << "3 of 3 frames kept in ~/Documents/zerbrak/";
        QTest::newRow("one partial") << 3 << 1 << 0 << false << false << 3
                                     << "3 of 3 frames kept (1 partial) in ~/Documents/zerbrak/";
        QTest::newRow("one given up, last") << 0 << 0 << 1 << true << false << 1
                                            << "1 frame given up after 11 undecodable passes; "
                                               "the picture shown is not a damaged frame";
        QTest::newRow("some given up")
            << 2 << 0 << 2 << false << false << 4
            << "2 of 4 frames kept in ~/Documents/zerbrak/; 2 frames given up after 11 "
               "undecodable passes";
        QTest::newRow("cancelled")
            << 3 << 0 << 1 << false << true << 20 << "Cancelled after 4 of 20";
    }
    void statusReports() {
        QFETCH(int, kept);
        QFETCH(int, partial);
        QFETCH(int, givenUp);
        QFETCH(bool, lastGivenUp);
        QFETCH(bool, cancelled);
        QFETCH(int, frames);
        QFETCH(QString, report);
        FrameSeriesSummary summary;
        summary.kept = kept;
        summary.partial = partial;
        summary.givenUp = givenUp;
        summary.lastGivenUp = lastGivenUp;
        summary.cancelled = cancelled;
        QCOMPARE(seriesReport(summary, frames, "~/Documents/zerbrak/"), report);
    }

    void frameNames_data() {
        QTest::addColumn<int>("run");
        QTest::addColumn<int>("frame");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("name");
        QTest::newRow("run 7 frame 12") << 7 << 12 << "png"
                                        << "/h/Documents/zerbrak/712.png";
        QTest::newRow("clock run") << 1796678999 << 0 << "jpg"
                                   << "/h/Documents/zerbrak/17966789990.jpg";
        QTest::newRow("case kept") << 3 << 4 << "JPG"
                                   << "/h/Documents/zerbrak/34.JPG";
        QTest::newRow("empty format") << 1 << 2 << ""
                                      << "/h/Documents/zerbrak/12.";
        QTest::newRow("negative run") << -5 << 1 << "bmp"
                                      << "/h/Documents/zerbrak/-51.bmp";
    }
    void frameNames() {
        QFETCH(int, run);
        QFETCH(int, frame);
        QFETCH(QString, format);
        QFETCH(QString, name);
        QCOMPARE(frameFileName("/h", run, frame, format), name);
        QCOMPARE(outputFolderPath("/h"), QString("/h/Documents/zerbrak/"));
    }

    void everyFrameDecodes() {
        const QString home = freshHome();
        Session session = sessionOn(goodImage_, "tiff");
        FakeDesktop desktop;
        LogCapture log;
        const FrameSeriesSummary summary =
            runFrameSeries(session, {0, 0, false, 100}, 5, home, desktop);
        QCOMPARE(summary.kept, 5);
        QCOMPARE(summary.passes, 5);
        QCOMPARE(session.globalNR, 71);
        QCOMPARE(session.tmr, 5);
        QCOMPARE(desktop.shown.size(), 5);
        QCOMPARE(linesStartingWith(log.lines(), "numberofframes: "),
                 QStringList({"numberofframes: 0", "numberofframes: 1", "numberofframes: 2",
                              "numberofframes: 3", "numberofframes: 4"}));
        QStringList files = QDir(outputFolderPath(home)).entryList(QDir::Files, QDir::Name);
        QCOMPARE(files, QStringList({"710.tiff", "711.tiff", "712.tiff", "713.tiff", "714.tiff"}));
    }

    // A cancel that stops a decode ends the series quietly, whichever decode it stopped; the
    // report counts every frame on disk, the one written whole but not yet checked included.
    void cancelledDecodeEndsTheSeries_data() {
        QTest::addColumn<bool>("reencode");
        QTest::addColumn<int>("cancelAt");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("report");
        QTest::newRow("re-encode of the input")
            << true << 1 << QStringList() << "Cancelled after 0 of 5";
        QTest::newRow("second frame")
            << false << 2 << QStringList({"710.png", "711.png"})
            << "Cancelled after 2 of 5 (the last written but not checked to decode)";
    }
    void cancelledDecodeEndsTheSeries() {
        QFETCH(bool, reencode);
        QFETCH(int, cancelAt);
        QFETCH(QStringList, files);
        QFETCH(QString, report);
        const QString home = freshHome();
        Session session = sessionOn(goodImage_, "png");
        if (reencode) {
            session.trans_endFormat = TranscodeTarget{FixedTarget::Tiff};
        }
        CancelledDecoder decoder(cancelAt);
        session.decoder = &decoder;
        FakeDesktop desktop;
        const FrameSeriesSummary summary =
            runFrameSeries(session, {0, 0, false, 50}, 5, home, desktop);
        QVERIFY(summary.cancelled);
        QVERIFY(!summary.runFailed && !summary.outputFailed);
        QCOMPARE(desktop.failures, QStringList());
        QCOMPARE(summary.kept, cancelAt - 1);
        QCOMPARE(QDir(outputFolderPath(home)).entryList(QDir::Files, QDir::Name), files);
        QCOMPARE(seriesReport(summary, 5, "~/Documents/zerbrak/"), report);
    }

    void undecodableFrameCostsElevenPasses() {
        const QString home = freshHome();
        Session session = sessionOn(garbage_, "jpg");
        FakeDesktop desktop;
        LogCapture log;
        const FrameSeriesSummary summary =
            runFrameSeries(session, {0, 0, false, 50}, 2, home, desktop);
        QCOMPARE(summary.passes, 22);
        QCOMPARE(summary.givenUp, 2);
        QCOMPARE(summary.kept, 0);
        QCOMPARE(session.tmr, 2);
        QVERIFY(desktop.shown.isEmpty());
        const QStringList attempts = linesStartingWith(log.lines(), "numberofframes: ");
        QCOMPARE(attempts.size(), 22);
        QCOMPARE(attempts.last(), QString("numberofframes: 21"));
        // The given-up files stay: one name per frame, rewritten by each retry.
        QCOMPARE(QDir(outputFolderPath(home)).entryList(QDir::Files).size(), 2);
    }

    void noFramesStillUsesARunNumber_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -3;
    }
    void noFramesStillUsesARunNumber() {
        QFETCH(int, count);
        const QString home = freshHome();
        Session session = sessionOn(goodImage_, "png");
        FakeDesktop desktop;
        LogCapture log;
        const FrameSeriesSummary summary = runFrameSeries(session, {}, count, home, desktop);
        QCOMPARE(summary.passes, 0);
        QVERIFY(log.lines().isEmpty());
        QCOMPARE(session.globalNR, 71);
        QVERIFY(QDir(outputFolderPath(home)).exists()); // created with its parents
    }

    void unwritableOutputEndsTheSeriesAfterOneAlert() {
        const QString home = freshHome();
        QFile blocker(home + "/Documents"); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Session session = sessionOn(goodImage_, "png");
        FakeDesktop desktop;
        const FrameSeriesSummary summary = runFrameSeries(session, {}, 3, home, desktop);
        QCOMPARE(desktop.alerts.size(), 1);
        QCOMPARE(summary.passes, 1);
        QVERIFY(summary.outputFailed);
    }

    void cancelStopsBeforeTheNextPass() {
        const QString home = freshHome();
        Session session = sessionOn(goodImage_, "tiff");
        CancellingDesktop desktop(2);
        const FrameSeriesSummary summary =
            runFrameSeries(session, {0, 0, false, 100}, 5, home, desktop);
        QVERIFY(summary.cancelled);
        QCOMPARE(summary.passes, 2);
        QCOMPARE(session.tmr, 2);
    }

    void twoSeriesTakeConsecutiveRunNumbers() {
        const QString home = freshHome();
        Session session = sessionOn(goodImage_, "tiff", 500);
        FakeDesktop desktop;
        runFrameSeries(session, {0, 0, false, 100}, 1, home, desktop);
        runFrameSeries(session, {0, 0, false, 100}, 1, home, desktop);
        QCOMPARE(QDir(outputFolderPath(home)).entryList(QDir::Files, QDir::Name),
                 QStringList({"5010.tiff", "5020.tiff"}));
    }

    void takenNamesRaiseTheRunNumber_data() {
        QTest::addColumn<QString>("endFormat");
        QTest::addColumn<TranscodeTarget>("target");
        QTest::addColumn<QStringList>("planted");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("run");
        QTest::newRow("two names taken")
            << "tiff" << TranscodeTarget{FreeText{"tiff"}} << QStringList{"710.tiff", "720.tiff"}
            << QStringList{"710.tiff", "720.tiff", "730.tiff", "731.tiff"} << 73;
        // What counts is the name the pass writes, extension added; "710.png" would not be.
        QTest::newRow("re-encoded name taken")
            << "png" << TranscodeTarget{FixedTarget::Tiff} << QStringList{"710.png.tiff", "710.png"}
            << QStringList{"710.png", "710.png.tiff", "720.png.tiff", "721.tiff.tiff"} << 72;
    }
    void takenNamesRaiseTheRunNumber() {
        QFETCH(QString, endFormat);
        QFETCH(TranscodeTarget, target);
        QFETCH(QStringList, planted);
        QFETCH(QStringList, files);
        QFETCH(int, run);
        const QString home = freshHome();
        const QString folder = outputFolderPath(home);
        QVERIFY(QDir().mkpath(folder));
        for (const QString& name : planted) {
            writeFile(folder + name, "planted");
        }
        Session session = sessionOn(goodImage_, endFormat);
        session.trans_endFormat = target;
        FakeDesktop desktop;
        LogCapture log;
        const FrameSeriesSummary summary =
            runFrameSeries(session, {0, 0, false, 100}, 2, home, desktop);
        QCOMPARE(summary.kept, 2);
        QCOMPARE(session.globalNR, run);
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), files);
        for (const QString& name : planted) {
            QCOMPARE(readFile(folder + name), QByteArray("planted"));
        }
        QStringList raises;
        for (int raised = 72; raised <= run; ++raised) {
            raises << QStringLiteral("run number raised to %1: %2 exists")
                          .arg(raised)
                          .arg(planted[raised - 72]);
        }
        QCOMPARE(linesStartingWith(log.lines(), "run number raised"), raises);
    }

    void transcodeNamesAndModes_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("modeLine");
        QTest::newRow("PNG strikes") << "PNG"
                                     << "png"
                                     << "has png";
        QTest::newRow("BMP rewrites") << "BMP"
                                      << "bmp"
                                      << "has bmp";
        QTest::newRow("JPG scatters") << "JPG"
                                      << "jpg"
                                      << "";
        QTest::newRow("TIFF scatters") << "TIFF"
                                       << "tiff"
                                       << "";
        QTest::newRow("GIF scatters") << "GIF"
                                      << "gif"
                                      << "";
        QTest::newRow("JPG 2000 scatters") << "JPG 2000"
                                           << "jp2"
                                           << "";
    }
    void transcodeNamesAndModes() {
        QFETCH(QString, title);
        QFETCH(QString, extension);
        QFETCH(QString, modeLine);
        const QString home = freshHome();
        Session session = sessionOn(goodImage_, "png");
        transcodeChange(session, title);
        FakeDesktop desktop;
        LogCapture log;
        const FrameSeriesSummary summary =
            runFrameSeries(session, {0, 0, false, 100}, 2, home, desktop);

        const QString scratch = scratchFolder().filePath("TEMP." + extension);
        QCOMPARE(session.inPath, scratch);
        QCOMPARE(session.endFormat, extension);
        QVERIFY(QFileInfo(scratch).size() > 0);
        QVERIFY(log.lines().contains("Transcoding to " + extension));
        QCOMPARE(log.lines().contains("has png"), modeLine == "has png");
        QCOMPARE(log.lines().contains("has bmp"), modeLine == "has bmp");
        // The first frame keeps the input's extension before the target's; later ones carry
        // the target's twice.
        QCOMPARE(QDir(outputFolderPath(home)).entryList(QDir::Files, QDir::Name),
                 QStringList({"710.png." + extension, "711." + extension + "." + extension}));
        // Each transcode shows its input, each kept frame itself.
        QCOMPARE(desktop.shown.size(), summary.passes + summary.kept);
    }

    // Remembering re-encodes changes nothing: six frames with and without the memory are the
    // same files, with the same pictures shown and the same lines logged. A scratch file
    // replaced behind the memory's back is written again, not trusted.
    void rememberedReencodesChangeNothing_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("settles"); // re-encoding its own output gives the same bytes
        for (const FormatRow& row : formatTable) {
            QTest::newRow(row.title)
                << QString::fromUtf8(row.title) << (row.target != FixedTarget::Jpg);
        }
    }
    void rememberedReencodesChangeNothing() {
        QFETCH(QString, title);
        QFETCH(bool, settles);
        const QString input = dir_.filePath("detailed.png");
        QVERIFY(detailedPicture(96, 64).save(input));
        struct Outcome {
            QList<QByteArray> frames;
            QList<QImage> shown;
            QStringList lines;
            std::size_t skipped = 0;
        };
        const auto series = [&](bool remember) {
            const QString home = freshHome();
            Session session = sessionOn(input, "png");
            session.transcodeMemo.setEnabled(remember);
            transcodeChange(session, title);
            FakeDesktop desktop;
            LogCapture log;
            runFrameSeries(session, {0x41, 0x7f, true, 97}, 6, home, desktop);
            Outcome outcome{{},
                            desktop.shown,
                            log.lines().replaceInStrings(home, "HOME"),
                            session.transcodeMemo.skipped()};
            const QDir frames(outputFolderPath(home));
            for (const QString& name : frames.entryList(QDir::Files, QDir::Name)) {
                outcome.frames << readFile(frames.filePath(name));
            }
            return outcome;
        };
        const Outcome remembered = series(true);
        const Outcome computed = series(false);
        QVERIFY(remembered.frames.size() >= 6); // more when a frame was given up
        QCOMPARE(remembered.frames, computed.frames);
        QCOMPARE(remembered.shown, computed.shown);
        QCOMPARE(remembered.lines, computed.lines);
        QCOMPARE(computed.skipped, std::size_t{0});
        QCOMPARE(remembered.skipped >= 3, settles);

        Session session = sessionOn(input, "png");
        transcodeChange(session, title);
        FakeDesktop desktop;
        QString outName;
        QVERIFY(!transcodeStep(session, desktop, input, outName).failed());
        const QByteArray encoded = readFile(session.inPath);
        writeFile(session.inPath, "replaced");
        QVERIFY(!transcodeStep(session, desktop, input, outName).failed());
        QCOMPARE(readFile(session.inPath), encoded);
        QCOMPARE(session.transcodeMemo.skipped(), std::size_t{0});
        QVERIFY(!transcodeStep(session, desktop, input, outName).failed());
        QCOMPARE(session.transcodeMemo.skipped(), std::size_t{1});
    }

    void popupChoices_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("inPath");
        QTest::addColumn<TranscodeTarget>("target");
        QTest::addColumn<QString>("endFormat");
        QTest::addColumn<QStringList>("logLines");
        QTest::newRow("JPG 2000") << "JPG 2000"
                                  << "/p/a.png" << TranscodeTarget{FixedTarget::Jp2} << "png"
                                  << QStringList{"...JPG 2000...", "I'm changing to jp2"};
        QTest::newRow("PNG") << "PNG"
                             << "/p/a.jpg" << TranscodeTarget{FixedTarget::Png} << "jpg"
                             << QStringList{"...PNG...", "I'm changing to PNG"};
        QTest::newRow("case matters") << "png"
                                      << "/p/Photo.PNG" << TranscodeTarget{FreeText{"PNG"}} << "PNG"
                                      << QStringList{"...png..."};
        QTest::newRow("keep format") << "Keep format"
                                     << "/p/x.tiff" << TranscodeTarget{FreeText{"tiff"}} << "tiff"
                                     << QStringList{"...Keep format..."};
        QTest::newRow("no extension")
            << "Keep format"
            << "/p.d/x" << TranscodeTarget{FreeText{}} << "" << QStringList{"...Keep format..."};
    }
    void popupChoices() {
        QFETCH(QString, title);
        QFETCH(QString, inPath);
        QFETCH(TranscodeTarget, target);
        QFETCH(QString, endFormat);
        QFETCH(QStringList, logLines);
        Session session = sessionOn(inPath, inPath.section('.', -1));
        LogCapture log;
        transcodeChange(session, title);
        QVERIFY(session.trans_endFormat == target);
        QCOMPARE(session.endFormat, endFormat);
        QCOMPARE(session.inPath, inPath);
        QCOMPARE(log.lines(), logLines);
    }

    void freeTextNeverTranscodes() {
        Session session = sessionOn(goodImage_, "png");
        session.trans_endFormat = FreeText{"png"};
        FakeDesktop desktop;
        LogCapture log;
        const QString out = dir_.filePath("free.png");
        QCOMPARE(doGlitch(session, {}, desktop, session.inPath, out), out);
        QCOMPARE(session.inPath, goodImage_);
        QVERIFY(linesStartingWith(log.lines(), "Transcoding").isEmpty());
    }

    void failedTranscodeLeavesTheSessionAlone_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("reason");
        QTest::newRow("undecodable") << garbage_ << "it does not decode as a picture.";
        QTest::newRow("too wide for GIF") << wideImage_ << ""; // in the encoder's own words
    }
    void failedTranscodeLeavesTheSessionAlone() {
        QFETCH(QString, input);
        QFETCH(QString, reason);
        // An earlier re-encode left a good scratch file behind.
        Session earlier = sessionOn(goodImage_, "png");
        earlier.trans_endFormat = FixedTarget::Gif;
        FakeDesktop earlierDesktop;
        doGlitch(earlier, {}, earlierDesktop, earlier.inPath, dir_.filePath("earlier"));
        const QString scratch = scratchFolder().filePath("TEMP.gif");
        const QByteArray stale = readFile(scratch);
        QVERIFY(!stale.isEmpty());

        Session session = sessionOn(input, "png");
        session.trans_endFormat = FixedTarget::Gif;
        session.random.reseed(5);
        FakeDesktop desktop;
        LogCapture log;
        const QString out = dir_.filePath("nothing");
        const PassResult pass = runGlitchPass(session, {}, desktop, session.inPath, out);
        QVERIFY(pass.runFailed);
        QVERIFY(pass.inputUnusable); // another input may still re-encode
        QCOMPARE(pass.path, out);
        QCOMPARE(desktop.failures.size(), 1);
        const QString failure = desktop.failures.first();
        QVERIFY2(failure.startsWith("Cannot re-encode " + input + " to GIF: " + reason),
                 qPrintable(failure));
        QVERIFY(failure.size() > QString("Cannot re-encode " + input + " to GIF: ").size());
        QVERIFY(desktop.alerts.isEmpty());
        QCOMPARE(log.lines(), QStringList{"Transcoding to gif"});
        QCOMPARE(session.inPath, input);
        QCOMPARE(session.endFormat, QString("png"));
        QVERIFY(!QFile::exists(out));
        QVERIFY(!QFile::exists(out + ".gif"));
        QCOMPARE(readFile(scratch), stale);
        QCOMPARE(session.random.draw(), RandomSource(5).draw()); // nothing damaged
        QCOMPARE(desktop.shown.size(), 1); // the decoded input, or an empty view
    }

    // The folder that holds ours must be ours and closed to other users, or they could swap
    // ours for another between the check and the writes; in a folder that passes, a link
    // planted at a scratch name is replaced, never written or read through.
    void scratchFolderChoice_data() {
        QTest::addColumn<QString>("runtime");  // what $XDG_RUNTIME_DIR is
        QTest::addColumn<int>("runtimeOwner"); // -1: ours
        QTest::addColumn<int>("runtimeMode");  // 0: as made
        QTest::addColumn<int>("cacheMode");    // 0: as made; -1: not a folder
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("refusals"); // when none is chosen; %1 is the base
        const int nobody = 65534;
        QTest::newRow("runtime folder")
            << "empty folder" << -1 << 0755 << 0 << "runtime" << QStringList();
        QTest::newRow("runtime is a file") << "file" << -1 << 0 << 0 << "cache" << QStringList();
        QTest::newRow("runtime's folder too open")
            << "open folder" << -1 << 0 << 0 << "cache" << QStringList();
        QTest::newRow("runtime's folder a link to a private one")
            << "link" << -1 << 0 << 0 << "cache" << QStringList();
        QTest::newRow("runtime unset") << "unset" << -1 << 0 << 0 << "cache" << QStringList();
        QTest::newRow("runtime open to all of ours")
            << "empty folder" << -1 << 0777 << 0 << "cache" << QStringList();
        QTest::newRow("runtime group-writable of ours")
            << "empty folder" << -1 << 0770 << 0 << "cache" << QStringList();
        QTest::newRow("runtime 0777 of another user")
            << "empty folder" << nobody << 0777 << 0 << "cache" << QStringList();
        QTest::newRow("runtime 1777 of another user")
            << "empty folder" << nobody << 01777 << 0 << "cache" << QStringList();
        QTest::newRow("runtime 0700 of another user")
            << "empty folder" << nobody << 0700 << 0 << "cache" << QStringList();
        QTest::newRow("neither usable") << "open folder" << -1 << 0 << -1 << ""
                                        << QStringList{"%1/runtime/zerbrak has mode 0755, not 0700",
                                                       "%1/cache/zerbrak cannot be created"};
        QTest::newRow("neither parent closed")
            << "empty folder" << nobody << 01777 << 0757 << ""
            << QStringList{"%1/runtime belongs to user 65534, not to user",
                           "%1/cache can be written by other users (mode 0757)"};
    }
    void scratchFolderChoice() {
        QFETCH(QString, runtime);
        QFETCH(int, runtimeOwner);
        QFETCH(int, runtimeMode);
        QFETCH(int, cacheMode);
        QFETCH(QString, chosen);
        QFETCH(QStringList, refusals);
        static int count = 0;
        const QString base = dir_.filePath(QStringLiteral("scratch%1").arg(++count));
        QVERIFY(QDir().mkpath(base));
        const QString runtimeFolder = base + "/runtime/zerbrak";
        const QString cacheFolder = base + "/cache/zerbrak";
        if (runtime == "unset") {
            qunsetenv("XDG_RUNTIME_DIR");
        } else {
            qputenv("XDG_RUNTIME_DIR", (base + "/runtime").toUtf8());
        }
        if (runtime == "empty folder") {
            QVERIFY(QDir().mkpath(base + "/runtime"));
        } else if (runtime == "file") {
            writeFile(base + "/runtime", "not a folder");
        } else if (runtime == "open folder") {
            QVERIFY(QDir().mkpath(runtimeFolder));
            QVERIFY(QFile::setPermissions(runtimeFolder, QFile::Permissions(0x7755)));
        } else if (runtime == "link") {
            QVERIFY(QDir().mkpath(base + "/runtime"));
            QVERIFY(QDir().mkpath(base + "/elsewhere"));
            QCOMPARE(::chmod(QFile::encodeName(base + "/elsewhere").constData(), 0700), 0);
            QVERIFY(QFile::link(base + "/elsewhere", runtimeFolder));
        }
        const QByteArray runtimeNative = QFile::encodeName(base + "/runtime");
        if (runtimeOwner >= 0 &&
            ::chown(runtimeNative.constData(), static_cast<uid_t>(runtimeOwner),
                    static_cast<gid_t>(runtimeOwner)) != 0) {
            QSKIP("only root can give a folder to another user");
        }
        if (runtimeMode != 0) {
            QCOMPARE(::chmod(runtimeNative.constData(), static_cast<mode_t>(runtimeMode)), 0);
        }
        if (cacheMode < 0) {
            writeFile(base + "/cache", "not a folder");
        } else if (cacheMode > 0) {
            QVERIFY(QDir().mkpath(base + "/cache"));
            QCOMPARE(::chmod(QFile::encodeName(base + "/cache").constData(),
                             static_cast<mode_t>(cacheMode)),
                     0);
        }
        qputenv("XDG_CACHE_HOME", (base + "/cache").toUtf8());

        const ScratchFolder folder = scratchFolder();
        if (runtime == "open folder") { // refused, never made private behind the user's back
            QCOMPARE(QFileInfo(runtimeFolder).permissions(), QFile::Permissions(0x7755));
        }
        if (!chosen.isEmpty()) {
            QCOMPARE(folder.path, chosen == "runtime" ? runtimeFolder : cacheFolder);
            QVERIFY(QFileInfo(folder.path).isDir());
            QVERIFY(!QFileInfo(folder.path).isSymLink());
            QCOMPARE(QFileInfo(folder.path).permissions() & QFile::Permissions(0x0077),
                     QFile::Permissions());
            QCOMPARE(folder.filePath("TEMP.png"), folder.path + "/TEMP.png");
            verifyLinksNotFollowed(folder.path, base);
            return;
        }
        QVERIFY(!folder.usable());

        // A series that re-encodes stops at its first pass, with one alert naming both folders.
        const QString home = freshHome();
        Session session = sessionOn(goodImage_, "png");
        session.trans_endFormat = FixedTarget::Png;
        FakeDesktop desktop;
        const FrameSeriesSummary summary = runFrameSeries(session, {}, 3, home, desktop);
        QVERIFY(summary.runFailed);
        QCOMPARE(summary.passes, 1);
        QCOMPARE(desktop.failures.size(), 1);
        const QString failure = desktop.failures.first();
        for (const QString& refusal : refusals) {
            QVERIFY2(failure.contains(refusal.arg(base)), qPrintable(failure));
        }
        QVERIFY(desktop.alerts.isEmpty());
        QCOMPARE(session.inPath, goodImage_);
        QVERIFY(QDir(outputFolderPath(home)).entryList(QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFrameSeries)
#include "tst_frame_series.moc"
