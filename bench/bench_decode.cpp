// Decoding undamaged 12-megapixel pictures: the lenient readers must keep up with
// QImageReader, which most files went through before them.

#include "codec/Decode.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <map>
#include <string>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Smooth areas and fine noise, so the compressed files behave more like photographs than
// flat fills would.
QImage picture() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    std::uint32_t seed = 1;
    for (int y = 0; y < kHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28);
            line[x] = qRgb((x / 16 + noise) & 0xFF, (y / 12 + noise) & 0xFF,
                           ((x + y) / 28 + noise) & 0xFF);
        }
    }
    return image;
}

const QByteArray& encoded(const std::string& format) {
    static std::map<std::string, QByteArray> files;
    auto found = files.find(format);
    if (found == files.end()) {
        static const QImage image = picture();
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format.c_str());
        writer.setQuality(90);
        writer.write(image);
        found = files.emplace(format, bytes).first;
    }
    return found->second;
}

void ours(benchmark::State& state, const std::string& format) {
    const QByteArray& bytes = encoded(format);
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             static_cast<std::size_t>(bytes.size()));
    for (auto _ : state) {
        const zerbrak::DecodeResult result = zerbrak::decodeImageBytes(view);
        if (!result.isValid() || result.partial) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(result.image.constBits());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void qt(benchmark::State& state, const std::string& format) {
    const QByteArray& bytes = encoded(format);
    for (auto _ : state) {
        QByteArray view = QByteArray::fromRawData(bytes.constData(), bytes.size());
        QBuffer buffer(&view);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        const QImage image = reader.read();
        if (image.isNull()) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

} // namespace

BENCHMARK_CAPTURE(ours, png, std::string("png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(qt, png, std::string("png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, jpeg, std::string("jpg"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(qt, jpeg, std::string("jpg"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, bmp, std::string("bmp"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(qt, bmp, std::string("bmp"))->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // image plugins need an application object
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
