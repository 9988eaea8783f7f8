// Throughput of the corruption modes over 64 MiB, beside memcpy of the same buffer on the same
// machine in the same run, so the figures can be read against the memory bandwidth at hand.
#include "core/CorruptionModes.h"
#include "core/RandomSource.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t bufferSize = 64U << 20U;

// Random bytes stand in for compressed image data, which looks the same to these walks.
const std::vector<std::uint8_t>& sourceBytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> data(bufferSize);
        zerbrak::RandomSource random(2024);
        for (auto& byte : data) {
            byte = static_cast<std::uint8_t>(random.draw() >> 7U);
        }
        return data;
    }();
    return bytes;
}

void BM_Memcpy(benchmark::State& state) {
    const auto& source = sourceBytes();
    std::vector<std::uint8_t> target(bufferSize);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bufferSize);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bufferSize));
}

void BM_ReplaceAndScatter(benchmark::State& state) {
    std::vector<std::uint8_t> buffer = sourceBytes();
    zerbrak::RandomSource random(1);
    const zerbrak::GlitchParams params{0x00, 0xFF, state.range(1) != 0,
                                       static_cast<std::int32_t>(state.range(0))};
    for (auto _ : state) {
        zerbrak::replaceAndScatter(buffer, params, random);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bufferSize));
}

void BM_LineBreakRewrite(benchmark::State& state) {
    const auto& source = sourceBytes();
    std::vector<std::uint8_t> output(zerbrak::lineBreakRewriteLength(source));
    for (auto _ : state) {
        // Sizing the output is part of a pass's cost, so it is measured with the rewrite.
        const std::size_t length = zerbrak::lineBreakRewriteLength(source);
        benchmark::DoNotOptimize(zerbrak::lineBreakRewrite(source, {output.data(), length}));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bufferSize));
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceAndScatter)
    ->ArgNames({"chance", "replace"})
    ->Args({50, 1})
    ->Args({99, 1})
    ->Args({0, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineBreakRewrite)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
