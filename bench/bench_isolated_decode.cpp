// What decoding in the helper process costs over decoding in-process, on 12-megapixel PNG and
// JPEG pictures: the bytes copied into a memfd, the request, the picture copied into the
// helper's memfd and mapped here. Wall time, since the helper's work is not this process's.

#include "DetailedPicture.h"
#include "codec/Decode.h"
#include "platform/IsolatedDecoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageWriter>
#include <QTemporaryFile>
#include <benchmark/benchmark.h>
#include <map>
#include <string>

namespace {

using namespace zerbrak;

const QByteArray& encoded(const std::string& format) {
    static std::map<std::string, QByteArray> files;
    auto found = files.find(format);
    if (found == files.end()) {
        static const QImage image = detailedPicture(4000, 3000);
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

std::span<const std::uint8_t> view(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

void check(benchmark::State& state, const DecodeResult& result) {
    if (!result.isValid() || result.partial) {
        state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(result.image.constBits());
}

void inProcess(benchmark::State& state, const std::string& format) {
    const auto bytes = view(encoded(format));
    for (auto _ : state) {
        check(state, decodeImageBytes(bytes));
    }
}

void isolated(benchmark::State& state, const std::string& format) {
    const auto bytes = view(encoded(format));
    IsolatedDecoder decoder;
    check(state, decoder.decodeBytes(bytes)); // the helper's start is paid once, not here
    if (decoder.helperPid() < 0) {
        state.SkipWithError("zerbrak-decoder not found");
        return;
    }
    for (auto _ : state) {
        check(state, decoder.decodeBytes(bytes));
    }
}

// As zerbrak-cli check and a frame read back decode: the helper maps the file itself.
void isolatedFile(benchmark::State& state, const std::string& format) {
    QTemporaryFile file;
    if (!file.open() || file.write(encoded(format)) != encoded(format).size() || !file.flush()) {
        state.SkipWithError("cannot write the file");
        return;
    }
    IsolatedDecoder decoder;
    check(state, decoder.decodeFile(file.fileName()));
    for (auto _ : state) {
        check(state, decoder.decodeFile(file.fileName()));
    }
}

} // namespace

BENCHMARK_CAPTURE(inProcess, png, std::string("png"))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(isolated, png, std::string("png"))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(isolatedFile, png, std::string("png"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(inProcess, jpeg, std::string("jpg"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(isolated, jpeg, std::string("jpg"))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(isolatedFile, jpeg, std::string("jpg"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    const QCoreApplication app(argc, argv); // Qt's JPEG writer is a plugin
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
