// Fading, flicker, vignette, displacement, gate weave and post contrast on 1920 x 1080 and
// 3840 x 2160 frames, 8-bit and 16-bit, at the parameters' defaults (heavy 0) and at their
// heaviest (heavy 1), each called as the driver calls it, on a photo-like picture (smooth
// gradients with some texture), since the 16-bit vignette's work depends on how many levels a
// frame holds. Counters: x_copy, the time over a frame copy's; x_table, over a scalar table
// pass's, for the stages that are a lookup per sample.
#include <benchmark/benchmark.h>

#include <vector>

#include "BenchFrame.h"
#include "lib/Common/ChannelTables.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/StageTypes.h"
#include "pipeline/PostContrast.h"
#include "stages/tone/Displacement.h"
#include "stages/tone/Fading.h"
#include "stages/tone/Flicker.h"
#include "stages/tone/GateWeave.h"
#include "stages/tone/Vignette.h"

namespace {

using bench_support::Frame;
using bench_support::setPixels;
using bench_support::TimedCpu;

bool heaviest(const benchmark::State& state) { return state.range(2) != 0; }

// The pixel rate, and the time against the frame size's floors.
template <class Tag>
void report(benchmark::State& state, const TimedCpu& timed, bool table) {
    setPixels(state);
    bench_support::floors::setFrameRatios<Tag>(state, timed.seconds(), state.range(0), state.range(1), table);
}

// Amount 100 (the default) or 200, the strongest wash and widest blur.
template <class Tag>
void BM_Fading(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const float amount = heaviest(state) ? 200.0f : 100.0f;
    TimedCpu timed;
    for (auto _ : state)
        benchmark::DoNotOptimize(FadingStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, amount));
    report<Tag>(state, timed, false);
}

// Flicker and vignette work in place: the frame is put back between calls, outside the timing.
// Amount 10 (the default) or 100.
template <class Tag>
void BM_Flicker(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const float amount = heaviest(state) ? 100.0f : 10.0f;
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FlickerStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, amount));
        f.putBack(state, timed);
    }
    report<Tag>(state, timed, true);
}

// Size 40, intensity 0.7 (the defaults), or size 1 and full intensity: every pixel but the
// centre darkened, through the most gamma steps.
template <class Tag>
void BM_Vignette(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const float size = heaviest(state) ? 1.0f : 40.0f, intensity = heaviest(state) ? 1.0f : 0.7f;
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(VignetteStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, size, intensity));
        f.putBack(state, timed);
    }
    report<Tag>(state, timed, true);
}

// Amount 0.5 (the default) or 5.
template <class Tag>
void BM_Displacement(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const float amount = heaviest(state) ? 5.0f : 0.5f;
    TimedCpu timed;
    for (auto _ : state)
        benchmark::DoNotOptimize(DisplacementStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, amount));
    report<Tag>(state, timed, false);
}

// The frame's swing: a black fill, then the whole-pixel shift composited over it. Frequency
// 0.25, amplitude 5, jolts 5 % (the defaults), or 2, 20 and a jolt on every frame.
template <class Tag>
void BM_GateWeave(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const bool heavy = heaviest(state);
    TimedCpu timed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GateWeaveStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, heavy ? 2.0f : 0.25f,
                                                     heavy ? 20.0f : 5.0f, heavy ? 100.0f : 5.0f));
        f.nextFrame(state, timed);
    }
    report<Tag>(state, timed, false);
}

// Post contrast as the pipeline ends a frame: the curve built, then three lookups a pixel.
// Amount 27 (the default) or 100.
template <class Tag>
void BM_PostContrast(benchmark::State& state) {
    using T = typename Tag::Channel;
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const double amount = heaviest(state) ? 1.0 : 0.27;
    std::vector<T> storage(3 * size_t(Tag::white + 1));
    T* tables[3] = {&storage[0], &storage[size_t(Tag::white) + 1], &storage[2 * (size_t(Tag::white) + 1)]};
    const RasterDesc out = f.out->describe();
    TimedCpu timed;
    for (auto _ : state) {
        ContrastCurve<T>(Tag::white, amount, tables);
        ApplyChannelTables<Tag>(out, tables, Tag::white);
        f.putBack(state, timed);
    }
    report<Tag>(state, timed, true);
}

// Flicker then the vignette, at their defaults: the two stages one after the other (range 2
// is 0), or flicker's tables applied in the vignette's pass (1), as the driver runs them.
template <class Tag>
void BM_FlickerThenVignette(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const bool together = state.range(2) != 0;
    TimedCpu timed;
    for (auto _ : state) {
        if (together) {
            HandedTables tables;
            FlickerTables<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 10.0f, tables);
            benchmark::DoNotOptimize(VignetteAfter<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 40.0f, 0.7f, tables));
        } else {
            FlickerStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 10.0f);
            benchmark::DoNotOptimize(VignetteStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, 40.0f, 0.7f));
        }
        f.putBack(state, timed);
    }
    report<Tag>(state, timed, true);
}

void apartOrTogether(benchmark::internal::Benchmark* b) {
    for (int together : {0, 1}) b->Args({1920, 1080, together})->Args({3840, 2160, together});
    b->ArgNames({"w", "h", "together"})->Unit(benchmark::kMillisecond);
}

// Defaults, then heaviest, each on both frame sizes.
void settings(benchmark::internal::Benchmark* b) {
    for (int heavy : {0, 1}) b->Args({1920, 1080, heavy})->Args({3840, 2160, heavy});
    b->ArgNames({"w", "h", "heavy"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Fading, PIXEL_BGRA8)->Apply(settings);
BENCHMARK_TEMPLATE(BM_Fading, PIXEL_BGRA14)->Apply(settings);
BENCHMARK_TEMPLATE(BM_Flicker, PIXEL_BGRA8)->Apply(settings);
BENCHMARK_TEMPLATE(BM_Flicker, PIXEL_BGRA14)->Apply(settings);
BENCHMARK_TEMPLATE(BM_Vignette, PIXEL_BGRA8)->Apply(settings);
BENCHMARK_TEMPLATE(BM_Vignette, PIXEL_BGRA14)->Apply(settings);
BENCHMARK_TEMPLATE(BM_FlickerThenVignette, PIXEL_BGRA8)->Apply(apartOrTogether);
BENCHMARK_TEMPLATE(BM_FlickerThenVignette, PIXEL_BGRA14)->Apply(apartOrTogether);
BENCHMARK_TEMPLATE(BM_Displacement, PIXEL_BGRA8)->Apply(settings);
BENCHMARK_TEMPLATE(BM_Displacement, PIXEL_BGRA14)->Apply(settings);
BENCHMARK_TEMPLATE(BM_GateWeave, PIXEL_BGRA8)->Apply(settings);
BENCHMARK_TEMPLATE(BM_GateWeave, PIXEL_BGRA14)->Apply(settings);
BENCHMARK_TEMPLATE(BM_PostContrast, PIXEL_BGRA8)->Apply(settings);
BENCHMARK_TEMPLATE(BM_PostContrast, PIXEL_BGRA14)->Apply(settings);

BENCHMARK_MAIN();
