// Fading, flicker, vignette, displacement and gate weave on 1920 x 1080 and 3840 x 2160 frames, 8-bit and
// 16-bit, each called as the driver calls it, on a photo-like picture (smooth gradients with
// some texture), since the 16-bit vignette's work depends on how many levels a frame holds.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/StageTypes.h"
#include "refhost/Contexts.h"
#include "refhost/Images.h"
#include "refhost/RefHost.h"
#include "stages/tone/Displacement.h"
#include "stages/tone/Fading.h"
#include "stages/tone/Flicker.h"
#include "stages/tone/GateWeave.h"
#include "stages/tone/Vignette.h"

namespace {

using refhost::PixelLayout;

template <class Tag>
constexpr PixelLayout kLayout = kIs16Bit<Tag> ? PixelLayout::BGRA16 : PixelLayout::BGRA8;

// One render call's host objects around an input and an output image, with instance data.
template <class Tag>
struct Frame {
    AcfPtr<refhost::HostComponent> hostComponent{new refhost::HostComponent};
    AcfPtr<refhost::Image> input, output;
    AcfPtr<refhost::InputService> inputService;
    AcfPtr<refhost::EffectContext> effectContext;
    std::unique_ptr<PluginHost_AVX2_Impl> services;
    InstanceData data;
    std::unique_ptr<RasterHolder> in, out;

    Frame(uint32_t w, uint32_t h) {
        // Working rasters reused from call to call, as an editor's pool (and tarnix) keeps them.
        hostComponent->memory().keepFreedBlocks(8);
        const refhost::ImageSpec shape{w, h, kLayout<Tag>};
        input.reset(new refhost::Image(shape));
        output.reset(new refhost::Image(shape));
        inputService.reset(new refhost::InputService(input.get()));
        effectContext.reset(new refhost::EffectContext(nullptr, inputService.get()));
        services = std::make_unique<PluginHost_AVX2_Impl>(hostComponent.get());
        services->effectContext = effectContext.get();
        services->inputImage = input.get();
        services->outputImage = output.get();
        services->mWidth = w;
        services->mHeight = h;
        createInstanceData(*services, data);
        services->setInstanceData(&data);
        in = std::make_unique<RasterHolder>(services->inputRaster(0), services.get(), false, true);
        out = std::make_unique<RasterHolder>(services->outputRaster(), services.get(), false, true);

        const double white = input->white();
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const double u = double(x) / w, v = double(y) / h;
                const double texture = 0.04 * std::sin(x * 0.9 + std::sin(y * 0.7) * 3.0);
                input->setChannel(x, y, 0, uint32_t(white));
                input->setChannel(x, y, 1, uint32_t(white * std::clamp(0.2 + 0.6 * u + texture, 0.0, 1.0)));
                input->setChannel(x, y, 2, uint32_t(white * std::clamp(0.3 + 0.5 * v * u + texture, 0.0, 1.0)));
                input->setChannel(x, y, 3, uint32_t(white * std::clamp(0.7 - 0.5 * v + texture, 0.0, 1.0)));
            }
        services->copyInputToOutput();
    }
    ~Frame() {
        out.reset();
        in.reset();
        destroyInstanceData(*services, data);
    }
};

void setPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

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
