// Funk, dust and splotches on 1920 x 1080 and 3840 x 2160 frames, 8-bit and 16-bit, each
// called as the driver calls it, at the parameters' defaults and at their heaviest. The frame
// number moves on with every iteration, so the textures land somewhere new each time; the
// textures and the funk raster are made before timing starts, as after a first frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/StageTypes.h"
#include "lib/Common/TextureLibrary.h"
#include "refhost/Contexts.h"
#include "refhost/Images.h"
#include "refhost/RefHost.h"
#include "stages/damage/Dust.h"
#include "stages/damage/Splotches.h"
#include "stages/tone/Funk.h"

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

        // A photo-like picture: smooth gradients with some texture.
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
        // Every set decoded before timing starts.
        LoadSplotchTexture(*services, 1);
        LoadDustTexture(*services, 1);
    }
    ~Frame() {
        out.reset();
        in.reset();
        destroyInstanceData(*services, data);
    }

    // The stages work in place: the next frame number and the picture put back, untimed.
    void nextFrame(benchmark::State& state) {
        state.PauseTiming();
        ++services->mFrameNumber;
        services->copyInputToOutput();
        state.ResumeTiming();
    }
};

void setPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

// Funk at an opacity in percent (the default 15, the heaviest 100).
template <class Tag>
void BM_Funk(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    PrepareFunkRaster<Tag>(*f.services, *f.out);
    const float opacity = float(state.range(2)) / 100.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FunkStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, f.data.global->funkRaster, opacity));
        f.nextFrame(state);
    }
    setPixels(state);
}

// Dark and light dust, `range(2)` specks of each at opacity 0.45 (the defaults 5 and 5).
template <class Tag>
void BM_Dust(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const int32_t specks = int32_t(state.range(2));
    for (auto _ : state) {
        benchmark::DoNotOptimize(DustStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, true, true, 0.45f, specks, specks));
        f.nextFrame(state);
    }
    setPixels(state);
}

// `range(2)` splotches at a scale of range(3) / 100, opacity 0.3 (the defaults 3 at 0.75).
template <class Tag>
void BM_Splotches(benchmark::State& state) {
    Frame<Tag> f(uint32_t(state.range(0)), uint32_t(state.range(1)));
    const int32_t number = int32_t(state.range(2));
    const float scale = float(state.range(3)) / 100.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SplotchesStage<Tag>(::FrameContext{}, *f.services, *f.in, *f.out, number, scale, 0.3f));
        f.nextFrame(state);
    }
    setPixels(state);
}

// Each setting on both frame sizes.
template <int64_t... Settings>
void frames(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080, Settings...})->Args({3840, 2160, Settings...});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
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
