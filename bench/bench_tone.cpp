// Fading, flicker, vignette, displacement and gate weave on 1920 x 1080 and 3840 x 2160 frames, 8-bit and
// 16-bit, each called as the driver calls it, on a photo-like picture (smooth gradients with
// some texture), since the 16-bit vignette's work depends on how many levels a frame holds.
#include <benchmark/benchmark.h>

#include "BenchFrame.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/StageTypes.h"
#include "stages/tone/Displacement.h"
#include "stages/tone/Fading.h"
#include "stages/tone/Flicker.h"
#include "stages/tone/GateWeave.h"
#include "stages/tone/Vignette.h"

namespace {

using bench_support::Frame;
using bench_support::setPixels;

template <class Tag>
void BM_Fading(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(FadingStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 150.0f));
    setPixels(state);
}

// Flicker and vignette work in place: the frame is put back between calls, outside the timing.
template <class Tag>
void BM_Flicker(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(FlickerStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 40.0f));
        state.PauseTiming();
        f.services->copyInputToOutput();
        state.ResumeTiming();
    }
    setPixels(state);
}

template <class Tag>
void BM_Vignette(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(VignetteStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 40.0f, 0.7f));
        state.PauseTiming();
        f.services->copyInputToOutput();
        state.ResumeTiming();
    }
    setPixels(state);
}

template <class Tag>
void BM_Displacement(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(DisplacementStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 0.5f));
    setPixels(state);
}

// The frame's swing at the parameters' defaults: a black fill, then the whole-pixel shift
// composited over it.
template <class Tag>
void BM_GateWeave(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(GateWeaveStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 0.25f, 5.0f, 5.0f));
    setPixels(state);
}

void frameSizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Fading, PIXEL_BGRA8)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Fading, PIXEL_BGRA14)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Flicker, PIXEL_BGRA8)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Flicker, PIXEL_BGRA14)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Vignette, PIXEL_BGRA8)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Vignette, PIXEL_BGRA14)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Displacement, PIXEL_BGRA8)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_Displacement, PIXEL_BGRA14)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_GateWeave, PIXEL_BGRA8)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_GateWeave, PIXEL_BGRA14)->Apply(frameSizes);

BENCHMARK_MAIN();
