// One render call's host objects around an input and an output image, with instance data,
// on a photo-like picture: what the stage benchmarks call a stage with.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>

#include <benchmark/benchmark.h>

#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/StageTypes.h"
#include "refhost/Contexts.h"
#include "refhost/Images.h"
#include "refhost/RefHost.h"

namespace bench_support {

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
    // The stages work in place: the next frame number and the picture put back, untimed.
    void nextFrame(benchmark::State& state) {
        state.PauseTiming();
        ++services->mFrameNumber;
        services->copyInputToOutput();
        state.ResumeTiming();
    }

    ~Frame() {
        out.reset();
        in.reset();
        destroyInstanceData(*services, data);
    }
};


// Pixels per second in the report.
inline void setPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

}  // namespace bench_support
