// The floors the stages are read against, at 1920 x 1080 and 3840 x 2160: a frame copy (8 and
// 16 bit), a scalar table pass over every sample (8 and 16 bit) and the generator chain (three
// draws a pixel, each waiting on the last). The stage benchmarks measure the same floors in
// their own process for their ratio counters; these are the same work timed as benchmarks.
// CPU time, as everywhere in the benchmarks: the machine is shared.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "BenchFrame.h"
#include "lib/Common/PixelFormats.h"

namespace {

using bench_support::setPixels;
namespace floors = bench_support::floors;

template <class Tag>
void BM_FrameCopy(benchmark::State& state) {
    const size_t bytes = size_t(state.range(0) * state.range(1)) * Tag::bytesPerPixel;
    std::vector<uint8_t> from(bytes, 1), to(bytes, 2);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
    setPixels(state);
}

template <class Tag>
void BM_TablePass(benchmark::State& state) {
    using Channel = typename Tag::Channel;
    std::vector<Channel> frame(size_t(state.range(0) * state.range(1)) * 4), table(size_t(Tag::white) + 1);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = Channel((i * 2654435761u >> 7) % (uint32_t(Tag::white) + 1));
    for (int32_t v = 0; v <= Tag::white; ++v) table[size_t(v)] = Channel(Tag::white - v);
    for (auto _ : state) {
        floors::lookUpEach(frame.data(), frame.size(), table.data());
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

// Three draws a pixel, as grain with colour noise takes them: 6.2 million at 1080p.
void BM_GeneratorChain(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(floors::drawChain(state.range(0) * state.range(1) * 3));
    setPixels(state);
}

void frameSizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080})->Args({3840, 2160})->ArgNames({"w", "h"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_FrameCopy, PIXEL_BGRA8)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_FrameCopy, PIXEL_BGRA14)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_TablePass, PIXEL_BGRA8)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_TablePass, PIXEL_BGRA14)->Apply(frameSizes);
BENCHMARK(BM_GeneratorChain)->Apply(frameSizes);

BENCHMARK_MAIN();
