// One frame of a frame series (a pass over the file plus decoding the result) against a bare
// decode of the same undamaged file: a 24-megapixel JPEG, damaged by scatter at chance 50.
#include "DetailedPicture.h"
#include "codec/Decode.h"
#include "codec/Encode.h"
#include "glitch/Session.h"
#include "platform/Desktop.h"
#include "runs/FrameSeries.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

class QuietDesktop final : public zerbrak::Desktop {
public:
    void showImage(const QImage&) override {}
    void alertOutputFailed(const QString&, const QString&) override {}
    void alertRunFailed(const QString&) override {}
};

struct Fixture {
    QTemporaryDir dir;
    QString jpeg;

    Fixture() {
        const QImage picture = detailedPicture(6000, 4000);
        const zerbrak::EncodeResult encoded =
            zerbrak::encodeImage(picture, zerbrak::ImageFileType::Jpeg);
        jpeg = dir.filePath("big.jpg");
        QFile file(jpeg);
        file.open(QIODevice::WriteOnly);
        file.write(reinterpret_cast<const char*>(encoded.bytes.data()),
                   static_cast<qint64>(encoded.bytes.size()));
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

void BM_BareDecode(benchmark::State& state) {
    const QString path = fixture().jpeg;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zerbrak::decodeImageFile(path));
    }
}

void BM_FrameSeriesFrame(benchmark::State& state) {
    zerbrak::Session session;
    session.inPath = fixture().jpeg;
    session.endFormat = QStringLiteral("jpg");
    const QString home = fixture().dir.filePath(QStringLiteral("home"));
    QuietDesktop desktop;
    int passes = 0;
    int frames = 0;
    for (auto _ : state) {
        const zerbrak::FrameSeriesSummary summary =
            zerbrak::runFrameSeries(session, {0, 0, false, 50}, 1, home, desktop);
        passes += summary.passes;
        ++frames;
    }
    state.counters["passes_per_frame"] = static_cast<double>(passes) / frames;
}

} // namespace

BENCHMARK(BM_BareDecode)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_FrameSeriesFrame)->Unit(benchmark::kMillisecond)->MinTime(3.0);

int main(int argc, char** argv) {
    QGuiApplication::setAttribute(Qt::AA_Use96Dpi);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
