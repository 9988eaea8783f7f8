// What decoding in the helper process costs over decoding in-process, on 12-megapixel PNG and
// JPEG pictures: the bytes copied into a memfd, the request, the picture copied into the
// helper's memfd and mapped here. Wall time, since the helper's work is not this process's;
// on a shared machine wall time follows the load, so the CPU time of both processes is given
// as well (cpu_ms: this one's and the helper's together, per decode).

#include "DetailedPicture.h"
#include "codec/Decode.h"
#include "platform/IsolatedDecoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageWriter>
#include <QTemporaryFile>
#include <benchmark/benchmark.h>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

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

// CPU time the process has had so far, in ns, from the scheduler's own account.
double cpuNanoseconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
    double nanoseconds = 0;
    stat >> nanoseconds;
    return nanoseconds;
}

// Sets the cpu_ms counter from the CPU time both processes spent since `start` was taken.
class CpuClock {
public:
    explicit CpuClock(pid_t helper)
        : helper_(helper), start_(cpuNanoseconds(getpid()) + helperTime()) {}
    void report(benchmark::State& state) const {
        const double spent = cpuNanoseconds(getpid()) + helperTime() - start_;
        state.counters["cpu_ms"] = spent / 1e6 / static_cast<double>(state.iterations());
    }

private:
    double helperTime() const { return helper_ > 0 ? cpuNanoseconds(helper_) : 0; }
    pid_t helper_;
    double start_;
};

void check(benchmark::State& state, const DecodeResult& result) {
    if (!result.isValid() || result.partial) {
        state.SkipWithError("decode failed");
    }
    // Read as the view would draw it: a picture in memory this process has not touched yet
    // would cost its first touch here, not in the decode.
    const uchar* pixels = result.image.constBits();
    unsigned sum = 0;
    for (qsizetype at = 0; at < result.image.sizeInBytes(); at += 4096) {
        sum += pixels[at];
    }
    benchmark::DoNotOptimize(sum);
}

void inProcess(benchmark::State& state, const std::string& format) {
    const auto bytes = view(encoded(format));
    const CpuClock clock(-1);
    for (auto _ : state) {
        check(state, decodeImageBytes(bytes));
    }
    clock.report(state);
}

void isolated(benchmark::State& state, const std::string& format) {
    const auto bytes = view(encoded(format));
    IsolatedDecoder decoder;
    check(state, decoder.decodeBytes(bytes)); // the helper's start is paid once, not here
    if (decoder.helperPid() < 0) {
        state.SkipWithError("zerbrak-decoder not found");
        return;
    }
    const CpuClock clock(decoder.helperPid());
    for (auto _ : state) {
        check(state, decoder.decodeBytes(bytes));
    }
    clock.report(state);
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
    const CpuClock clock(decoder.helperPid());
    for (auto _ : state) {
        check(state, decoder.decodeFile(file.fileName()));
    }
    clock.report(state);
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
