// What a frame costs once a series that re-encodes its input before every pass has settled,
// against a frame damaged from the already-encoded file: for each target, the time of a
// 10-frame series less that of a 4-frame one, on a 12-megapixel picture, both ways.
#include "DetailedPicture.h"
#include "codec/Decode.h"
#include "codec/Encode.h"
#include "glitch/FormatTable.h"
#include "glitch/Session.h"
#include "glitch/TranscodeChange.h"
#include "platform/Desktop.h"
#include "platform/FileBytes.h"
#include "runs/FrameSeries.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

using namespace zerbrak;

namespace {

class QuietDesktop final : public Desktop {
public:
    void showImage(const QImage&) override {}
    void alertOutputFailed(const QString&, const QString&) override {}
    void alertRunFailed(const QString&) override {}
};

struct SeriesTime {
    double seconds = 0;
    int passes = 0;
};

// A fresh session, so each series starts with nothing remembered, as a new window would.
SeriesTime timeSeries(const QString& input, const QString& endFormat, const char* transcodeTitle,
                      int frames, const QString& home) {
    Session session;
    session.inPath = input;
    session.endFormat = endFormat;
    if (transcodeTitle != nullptr) {
        transcodeChange(session, QString::fromUtf8(transcodeTitle));
    }
    QuietDesktop desktop;
    const auto start = std::chrono::steady_clock::now();
    const FrameSeriesSummary summary =
        runFrameSeries(session, {0, 0, false, 50}, frames, home, desktop);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {took.count(), summary.passes};
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_RUNTIME_DIR", dir.filePath(QStringLiteral("runtime")).toUtf8());
    const QImage picture = detailedPicture(4000, 3000);
    const QString source = dir.filePath(QStringLiteral("source.png"));
    if (!picture.save(source)) {
        std::fprintf(stderr, "bench_reencode_series: cannot write %s\n", qPrintable(source));
        return 1;
    }
    const QString home = dir.filePath(QStringLiteral("home"));
    // The encoded file is what the re-encode itself writes: the source as our decoder reads it.
    const QImage decoded = decodeImageFile(source).image;

    std::printf("%-9s %22s %22s %7s %s\n", "target", "re-encoding: s/frame", "encoded: s/frame",
                "ratio", "goal");
    for (const FormatRow& row : formatTable) {
        const EncodeResult encoded = encodeImage(decoded, row.fileType, row.options);
        const QString file = dir.filePath(QStringLiteral("encoded.") + row.extension);
        if (!encoded.ok() || !writeFileWhole(file, encoded.bytes).isEmpty()) {
            std::printf("%-9s cannot encode: %s\n", row.title, qPrintable(encoded.error));
            continue;
        }
        const QString extension = QString::fromUtf8(row.extension);
        const SeriesTime reencoding4 =
            timeSeries(source, QStringLiteral("png"), row.title, 4, home);
        const SeriesTime reencoding10 =
            timeSeries(source, QStringLiteral("png"), row.title, 10, home);
        const SeriesTime encoded4 = timeSeries(file, extension, nullptr, 4, home);
        const SeriesTime encoded10 = timeSeries(file, extension, nullptr, 10, home);
        const double reencodingFrame = (reencoding10.seconds - reencoding4.seconds) / 6;
        const double encodedFrame = (encoded10.seconds - encoded4.seconds) / 6;
        std::printf("%-9s %10.3f (%2d passes) %10.3f (%2d passes) %6.2fx %s\n", row.title,
                    reencodingFrame, reencoding10.passes - reencoding4.passes, encodedFrame,
                    encoded10.passes - encoded4.passes, reencodingFrame / encodedFrame,
                    row.target == FixedTarget::Jpg ? "none: every JPEG encode loses more"
                                                   : "<= 1.2x");
        std::fflush(stdout);
    }
    return 0;
}
