// Funk, dust and splotches on 1920 x 1080 and 3840 x 2160 frames, 8-bit and 16-bit, each
// called as the driver calls it, at the parameters' defaults and at their heaviest. The frame
// number moves on with every iteration, so the textures land somewhere new each time; the
// textures and the funk raster are made before timing starts, as after a first frame.
// Counters: funk, over the whole frame, x_copy (its time over a frame copy's); dust and
// splotches, which touch part of it, per_elem (seconds a speck or splotch), touched_px (pixels
// changed a frame) and x_touched (the time over a copy of the pixels changed).
#include <benchmark/benchmark.h>

#include "BenchFrame.h"

#include "lib/Common/PixelFormats.h"
#include "lib/Common/StageTypes.h"
#include "lib/Common/TextureLibrary.h"
#include "stages/damage/Dust.h"
#include "stages/damage/Splotches.h"
#include "stages/tone/Funk.h"

namespace {

using bench_support::setPartRatios;
using bench_support::setPixels;
using bench_support::TimedCpu;

// The stage benchmarks' frame, with every texture set decoded before timing starts.
template <class Tag>
struct Frame : bench_support::Frame<Tag> {
    Frame(uint32_t w, uint32_t h) : bench_support::Frame<Tag>(w, h) {
        LoadSplotchTexture(*this->services, 1);
        LoadDustTexture(*this->services, 1);
    }
};

// Funk at an opacity in percent (the default 15, the heaviest 100).
template <class Tag>
void BM_Funk(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    PrepareFunkRaster<Tag>(*f.services, *f.out);
    const float opacity = float(state.range(2)) / 100.0f;
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FunkStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, f.data.global->funkRaster, opacity));
        f.nextFrame(state, timed);
    }
    setPixels(state);
    bench_support::floors::setFrameRatios<Tag>(state, timed.seconds(), state.range(0), state.range(1), false);
}

// Dark and light dust, `range(2)` specks of each at opacity 0.45 (the defaults 5 and 5).
template <class Tag>
void BM_Dust(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const int32_t specks = int32_t(state.range(2));
    typename Frame<Tag>::Changes changes;
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DustStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, true, true, 0.45f, specks, specks));
        f.countThenNextFrame(state, timed, changes);
    }
    setPixels(state);
    setPartRatios<Tag>(state, timed.seconds(), 2 * specks, changes.perFrame());
}

// `range(2)` splotches at a scale of range(3) / 100, opacity 0.3 (the defaults 3 at 0.75).
template <class Tag>
void BM_Splotches(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const int32_t number = int32_t(state.range(2));
    const float scale = float(state.range(3)) / 100.0f;
    typename Frame<Tag>::Changes changes;
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SplotchesStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, number, scale, 0.3f));
        f.countThenNextFrame(state, timed, changes);
    }
    setPixels(state);
    setPartRatios<Tag>(state, timed.seconds(), number, changes.perFrame());
}

// Each setting on both frame sizes.
template <int64_t... Settings>
void frames(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080, Settings...})->Args({3840, 2160, Settings...});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Funk, PIXEL_BGRA8)->Apply(frames<15>)->Apply(frames<100>)->ArgNames({"w", "h", "opacity"});
BENCHMARK_TEMPLATE(BM_Funk, PIXEL_BGRA14)->Apply(frames<15>)->Apply(frames<100>)->ArgNames({"w", "h", "opacity"});
BENCHMARK_TEMPLATE(BM_Dust, PIXEL_BGRA8)->Apply(frames<5>)->Apply(frames<1000>)->ArgNames({"w", "h", "specks"});
BENCHMARK_TEMPLATE(BM_Dust, PIXEL_BGRA14)->Apply(frames<5>)->Apply(frames<1000>)->ArgNames({"w", "h", "specks"});
BENCHMARK_TEMPLATE(BM_Splotches, PIXEL_BGRA8)
    ->Apply(frames<3, 75>)
    ->Apply(frames<100, 500>)
    ->ArgNames({"w", "h", "number", "scale%"});
BENCHMARK_TEMPLATE(BM_Splotches, PIXEL_BGRA14)
    ->Apply(frames<3, 75>)
    ->Apply(frames<100, 500>)
    ->ArgNames({"w", "h", "number", "scale%"});

BENCHMARK_MAIN();
