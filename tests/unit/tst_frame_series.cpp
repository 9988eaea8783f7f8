#include "FakeDesktop.h"
#include "glitch/FormatTable.h"
#include "glitch/GlitchPass.h"
#include "glitch/TranscodeChange.h"
#include "platform/Log.h"
#include "platform/ScratchFolder.h"
#include "runs/FrameSeries.h"
#include "runs/OutputFolder.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace zerbrak;
Q_DECLARE_METATYPE(zerbrak::TranscodeTarget)

namespace {

// Cancels the series once it reaches a given pass.
class CancellingDesktop final : public Desktop {
public:
    explicit CancellingDesktop(int stopBeforePass) : stopBeforePass_(stopBeforePass) {}
    void showImage(const QImage&) override {}
    void alertOutputFailed(const QString&) override {}
    void alertRunFailed(const QString&) override {}
    bool seriesProgress(int, int, int) override { return passes_++ < stopBeforePass_; }

private:
    int stopBeforePass_;
    int passes_ = 0;
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

        const QString scratch = scratchPath("TEMP." + extension);
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

    void undecodableInputStillExtendsTheName() {
        Session session = sessionOn(garbage_, "jpg");
        session.trans_endFormat = FixedTarget::Gif;
        FakeDesktop desktop;
        const QString out = dir_.filePath("nothing");
        QCOMPARE(doGlitch(session, {}, desktop, session.inPath, out), out + ".gif");
        QCOMPARE(desktop.shown.size(), 1);
        QVERIFY(desktop.shown.first().isNull()); // the view is cleared
        QCOMPARE(session.endFormat, QString("gif"));
    }

    void scratchFolderIsPrivate() {
        const QString runtime = dir_.filePath("runtime2");
        QDir().mkpath(runtime + "/zerbrak");
        QFile::setPermissions(runtime + "/zerbrak", QFile::Permissions(0x7755)); // too open
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        QCOMPARE(scratchFolder(), runtime + "/zerbrak");
        QCOMPARE(QFileInfo(scratchFolder()).permissions() & QFile::Permissions(0x0077),
                 QFile::Permissions());
        QCOMPARE(scratchPath("TEMP.png"), runtime + "/zerbrak/TEMP.png");

        qunsetenv("XDG_RUNTIME_DIR");
        const QString cache = dir_.filePath("cache");
        qputenv("XDG_CACHE_HOME", cache.toUtf8());
        QCOMPARE(scratchFolder(), cache + "/zerbrak");
        QVERIFY(QFileInfo(cache + "/zerbrak").isDir());
        qputenv("XDG_RUNTIME_DIR", dir_.filePath("runtime").toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestFrameSeries)
#include "tst_frame_series.moc"
