// Deep, basic and microscratches on 1920 x 1080 and 3840 x 2160 frames, 8-bit and 16-bit,
// called as the driver calls them, at the parameters' defaults and at their heaviest. The
// frame number moves on with every iteration, so scratches drift, die and are born as in a
// render; the strips are decoded before timing starts. Counters: deep and basic scratches,
// which touch part of the frame, per_elem (seconds a scratch, counting the number asked for),
// touched_px (pixels changed a frame) and x_touched (the time over a copy of the pixels
// changed); microscratches, which start again from the source frame, x_copy (the time over a
// frame copy's).
#include <benchmark/benchmark.h>

#include "BenchFrame.h"

#include "lib/Common/PixelFormats.h"
#include "lib/Common/StageTypes.h"
#include "lib/Common/TextureLibrary.h"
#include "stages/damage/BasicScratches.h"
#include "stages/damage/DeepScratches.h"
#include "stages/damage/Microscratches.h"

namespace {

using bench_support::setPartRatios;
using bench_support::setPixels;
using bench_support::TimedCpu;

template <class Tag>
struct Frame : bench_support::Frame<Tag> {
    Frame(uint32_t w, uint32_t h) : bench_support::Frame<Tag>(w, h) { LoadScratchStrip(*this->services, 1); }
};

// `range(2)` deep scratches living up to 48 frames (the default 2, the heaviest 50).
template <class Tag>
void BM_DeepScratches(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const int32_t number = int32_t(state.range(2));
    typename Frame<Tag>::Changes changes;
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            DeepScratchesStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, number, 48, 82 / 255.0, 1.0, 18 / 255.0));
        f.countThenNextFrame(state, timed, changes);
    }
    setPixels(state);
    setPartRatios<Tag>(state, timed.seconds(), number, changes.perFrame());
}

// `range(2)` basic scratches living up to 48 frames (the default 2, the heaviest 50).
template <class Tag>
void BM_BasicScratches(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const int32_t number = int32_t(state.range(2));
    typename Frame<Tag>::Changes changes;
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(BasicScratchesStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, number, 48, true));
        f.countThenNextFrame(state, timed, changes);
    }
    setPixels(state);
    setPartRatios<Tag>(state, timed.seconds(), number, changes.perFrame());
}

// `range(2)` dots at opacity 0.75 (the default 2000, the heaviest 5000).
template <class Tag>
void BM_Microscratches(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const int32_t number = int32_t(state.range(2));
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(MicroscratchesStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, number, 0.75f));
        f.nextFrame(state, timed);
    }
    setPixels(state);
    bench_support::floors::setFrameRatios<Tag>(state, timed.seconds(), state.range(0), state.range(1), false);
}

template <int64_t... Settings>
void frames(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080, Settings...})->Args({3840, 2160, Settings...});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_DeepScratches, PIXEL_BGRA8)->Apply(frames<2>)->Apply(frames<50>)->ArgNames({"w", "h", "number"});
BENCHMARK_TEMPLATE(BM_DeepScratches, PIXEL_BGRA14)->Apply(frames<2>)->Apply(frames<50>)->ArgNames({"w", "h", "number"});
BENCHMARK_TEMPLATE(BM_BasicScratches, PIXEL_BGRA8)->Apply(frames<2>)->Apply(frames<50>)->ArgNames({"w", "h", "number"});
BENCHMARK_TEMPLATE(BM_BasicScratches, PIXEL_BGRA14)->Apply(frames<2>)->Apply(frames<50>)->ArgNames({"w", "h", "number"});
BENCHMARK_TEMPLATE(BM_Microscratches, PIXEL_BGRA8)->Apply(frames<2000>)->Apply(frames<5000>)->ArgNames({"w", "h", "dots"});
BENCHMARK_TEMPLATE(BM_Microscratches, PIXEL_BGRA14)->Apply(frames<2000>)->Apply(frames<5000>)->ArgNames({"w", "h", "dots"});

BENCHMARK_MAIN();
