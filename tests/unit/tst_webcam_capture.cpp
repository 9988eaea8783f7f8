#include "TestFiles.h"
#include "codec/Decode.h"
#include "platform/Log.h"
#include "sources/WebcamCapture.h"

#include <QDir>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstdint>
#include <thread>

using namespace zerbrak;

namespace {

constexpr const char* smpte = "videotestsrc is-live=true pattern=smpte";
// Fast, and every frame differs from the one before: the ball moves.
constexpr const char* fastBall =
    "videotestsrc is-live=true pattern=ball ! capsfilter caps=video/x-raw,framerate=300/1";

// What the camera delivered, counted and kept on the thread that delivers it.
struct Recorder {
    NewestFrame newest;
    std::atomic<int> frames = 0;
    std::atomic<bool> onGuiThread = false;
    const std::thread::id guiThread = std::this_thread::get_id();

    WebcamCapture::FrameCallback callback() {
        return [this](GstSample* sample) {
            if (std::this_thread::get_id() == guiThread) {
                onGuiThread = true;
            }
            newest.store(sample);
            ++frames;
        };
    }
};

// The SMPTE bars across the top two thirds, left to right, each channel on (1) or off (0).
struct Bar {
    int index;
    int red, green, blue;
};
constexpr Bar bars[] = {{0, 1, 1, 1}, {1, 1, 1, 0}, {2, 0, 1, 1}, {3, 0, 1, 0},
                        {4, 1, 0, 1}, {5, 1, 0, 0}, {6, 0, 0, 1}};

bool channelIs(int value, int on) {
    return on ? value >= 150 : value <= 80;
}

void verifyBars(const QImage& image) {
    QVERIFY(image.width() >= 70 && image.height() >= 30);
    const int y = image.height() / 4;
    for (const Bar& bar : bars) {
        const int x = (2 * bar.index + 1) * image.width() / 14; // the bar's middle
        const QColor colour = image.pixelColor(x, y);
        const QString where = QStringLiteral("bar %1 at (%2, %3) is %4")
                                  .arg(bar.index)
                                  .arg(x)
                                  .arg(y)
                                  .arg(colour.name());
        QVERIFY2(channelIs(colour.red(), bar.red) && channelIs(colour.green(), bar.green) &&
                     channelIs(colour.blue(), bar.blue),
                 qPrintable(where));
    }
}

} // namespace

class TestWebcamCapture : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY(QDir().mkpath(dir_.filePath("runtime")));
        qputenv("XDG_RUNTIME_DIR", dir_.filePath("runtime").toUtf8());
    }

    void cleanup() { qunsetenv("ZERBRAK_CAMERA_SOURCE"); }

    void framesArriveOnTheStreamingThread() {
        qputenv("ZERBRAK_CAMERA_SOURCE", smpte);
        Recorder recorder;
        WebcamCapture capture(recorder.callback());
        QSignalSpy liveChanged(&capture, &WebcamCapture::liveChanged);
        QVERIFY(!recorder.newest.newest());
        capture.startDefault();
        QVERIFY(capture.live());
        QCOMPARE(capture.currentId(), QString());
        QCOMPARE(liveChanged.count(), 1);
        QCOMPARE(liveChanged.at(0).at(0).toBool(), true);
        QTRY_VERIFY(recorder.frames >= 3);
        QVERIFY(!recorder.onGuiThread);
        QVERIFY(recorder.newest.newest());
    }

    void heldFrameOutlivesItsReplacements() {
        qputenv("ZERBRAK_CAMERA_SOURCE", fastBall);
        Recorder recorder;
        WebcamCapture capture(recorder.callback());
        capture.startDefault();
        QTRY_VERIFY(recorder.frames >= 1);
        const SampleRef held = recorder.newest.newest();
        const QImage taken = sampleToImage(held);
        QVERIFY(!taken.isNull());
        const int heldAt = recorder.frames;
        QTRY_VERIFY_WITH_TIMEOUT(recorder.frames >= heldAt + 200, 20'000);
        const SampleRef latest = recorder.newest.newest();
        QVERIFY(latest.get() != held.get());
        QVERIFY(sampleToImage(latest) != taken); // the pictures do move on
        QCOMPARE(sampleToImage(held), taken);
    }

    // The preview asks on every tick and draws only a frame it has not drawn. The allocator
    // hands a released sample's memory to a later frame, so a new frame may come at the
    // address of the one drawn before: here the very same address, delivered again.
    void newFrameAtAnOldAddressIsNew() {
        gst_init(nullptr, nullptr);
        NewestFrame frames;
        std::uint64_t seen = 0;
        QVERIFY(!frames.newerThan(seen));
        const SampleRef sample =
            SampleRef::adopt(gst_sample_new(nullptr, nullptr, nullptr, nullptr));
        for (int delivery = 0; delivery < 3; ++delivery) {
            frames.store(sample.get());
            QCOMPARE(frames.newerThan(seen).get(), sample.get());
            QVERIFY(!frames.newerThan(seen)); // nothing new since
            QCOMPARE(frames.newest().get(), sample.get());
            if (delivery == 1) {
                frames.clear(); // the camera stopped; its next frame still counts as new
                QVERIFY(!frames.newerThan(seen));
            }
        }
    }

    void snapshotKeepsTheBars() {
        qputenv("ZERBRAK_CAMERA_SOURCE", smpte);
        Recorder recorder;
        WebcamCapture capture(recorder.callback());
        capture.startDefault();
        QTRY_VERIFY(recorder.frames >= 1);
        const QImage picture = sampleToImage(recorder.newest.newest());
        QCOMPARE(picture.format(), QImage::Format_RGB32);
        verifyBars(picture);

        const SnapshotFile first = writeSnapshot(picture);
        QCOMPARE(first.error, QString());
        QCOMPARE(first.path, dir_.filePath("runtime/zerbrak/capture.tiff"));
        const QByteArray firstBytes = readFile(first.path);
        const DecodeResult decoded = decodeImageFile(first.path);
        QVERIFY(decoded.isValid());
        QVERIFY(!decoded.partial);
        verifyBars(decoded.image);
        QCOMPARE(decoded.image.convertToFormat(QImage::Format_RGB32), picture);

        const SnapshotFile second = writeSnapshot(picture);
        QCOMPARE(second.path, first.path);
        QCOMPARE(readFile(second.path), firstBytes);
        QVERIFY(!firstBytes.isEmpty());
    }

    void snapshotOfNothingSaysWhy() {
        const SnapshotFile written = writeSnapshot(sampleToImage(SampleRef()));
        QCOMPARE(written.path, QString());
        QVERIFY2(written.error.startsWith("Cannot save the snapshot: "), qPrintable(written.error));
    }

    void stopReleasesTheCamera() {
        qputenv("ZERBRAK_CAMERA_SOURCE", fastBall);
        Recorder recorder;
        WebcamCapture capture(recorder.callback());
        QSignalSpy liveChanged(&capture, &WebcamCapture::liveChanged);
        capture.startDefault();
        QTRY_VERIFY(recorder.frames >= 3);
        capture.stop();
        QVERIFY(!capture.live());
        QCOMPARE(liveChanged.count(), 2);
        QCOMPARE(liveChanged.at(1).at(0).toBool(), false);
        const int stoppedAt = recorder.frames;
        QTest::qWait(300);
        QCOMPARE(recorder.frames.load(), stoppedAt);
        QVERIFY(recorder.newest.newest()); // the last frame stays for a snapshot
    }

    // A source that ends or fails leaves no pipeline behind, and a failure is logged once.
    void endOrFailureStopsTheCapture_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<bool>("wasLive");
        QTest::addColumn<int>("errorLines");
        QTest::newRow("ends") << QByteArray("videotestsrc is-live=true num-buffers=3") << true << 0;
        QTest::newRow("cannot open")
            << QByteArray("filesrc location=/nonexistent/zerbrak") << false << 1;
        QTest::newRow("not a pipeline") << QByteArray("nosuchelement ! ") << false << 1;
    }

    void endOrFailureStopsTheCapture() {
        QFETCH(QByteArray, source);
        QFETCH(bool, wasLive);
        QFETCH(int, errorLines);
        qputenv("ZERBRAK_CAMERA_SOURCE", source);
        const LogCapture log;
        Recorder recorder;
        WebcamCapture capture(recorder.callback());
        QSignalSpy liveChanged(&capture, &WebcamCapture::liveChanged);
        capture.startDefault();
        QTRY_VERIFY(!capture.live());
        QCOMPARE(liveChanged.count(), wasLive ? 2 : 0);
        QTest::qWait(100); // room for a second report that must not come
        QCOMPARE(log.lines().filter("Camera error: ").count(), errorLines);
        QCOMPARE(log.lines().count(), errorLines);
    }

    void noCameraIsSilent() {
        qputenv("ZERBRAK_CAMERA_SOURCE", "none");
        const LogCapture log;
        Recorder recorder;
        WebcamCapture capture(recorder.callback());
        QSignalSpy liveChanged(&capture, &WebcamCapture::liveChanged);
        QSignalSpy camerasChanged(&capture, &WebcamCapture::camerasChanged);
        capture.startDefault();
        QVERIFY(!capture.live());
        QTest::qWait(300);
        QCOMPARE(recorder.frames.load(), 0);
        QVERIFY(!recorder.newest.newest());
        QVERIFY(capture.cameras().isEmpty());
        QCOMPARE(liveChanged.count(), 0);
        QCOMPARE(camerasChanged.count(), 0);
        QCOMPARE(log.lines(), QStringList());
    }
};

QTEST_MAIN(TestWebcamCapture)
#include "tst_webcam_capture.moc"
