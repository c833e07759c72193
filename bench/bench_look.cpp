// The whole look through the built module, as a host renders it: one frame after another on a
// photo-like picture, with the host's rasters pooled as tarnix pools them. What the stages' own
// benchmarks cannot show: the passes one after another, each finding the frame where the last
// one left it in the caches. Look 0 is every stage's checkbox on at its defaults; look 1 the
// heavily worn print that bench/peers.sh renders through tarnix.
#include <cstdlib>

#include <benchmark/benchmark.h>

#include "BenchFrame.h"
#include "refhost/Module.h"
#include "sdk/sdk_ids.h"

namespace {

using namespace refhost;

const std::pair<const char*, double> kWornPrint[] = {
    {"DoFading", 1}, {"FadeAmount", 60}, {"DoFunk", 1}, {"FunkOpacity", 30},
    {"DoSplotches", 1}, {"SplotchNumber", 6}, {"SplotchesScale", 1}, {"SplotchesTransparency", 35},
    {"SplotchesFrequency", 60}, {"DoDust", 1}, {"BlackNumber", 40}, {"WhiteNumber", 25}, {"DustOpacity", 0.7},
    {"DustFreq", 0.9}, {"DoFlicker", 1}, {"FlickerFreq", 0.6}, {"FlickerAmount", 14},
    {"DoVignette", 1}, {"VignetteSize", 35}, {"VignetteIntensity", 65},
    {"DoGrain", 1}, {"AmountGrain", 0.6}, {"Red", 50}, {"Green", 55}, {"Blue", 80},
    {"SoftnessRed", 0.6}, {"SoftnessGreen", 0.8}, {"SoftnessBlue", 1},
    {"DoDeepScratch", 1}, {"DeepScratchNumber", 3}, {"DeepScratchDuration", 48},
    {"DeepScratchColor_R", 150}, {"DeepScratchColor_G", 210}, {"DeepScratchColor_B", 130},
    {"DoBasicScratch", 1}, {"BasicScratchNumber", 4}, {"BasicScratchDuration", 24},
    {"DoGateweave", 1}, {"Frequency", 0.4}, {"Amplitude", 3}, {"NoiseFrequency", 8},
    {"DoContrast", 1}, {"ContrastAmount", 22}};

template <PixelLayout Layout>
void BM_Look(benchmark::State& state) {
    std::string error;
    // $TARNIX_MODULE, as for tarnix, puts another build's module beside this one.
    const char* path = std::getenv("TARNIX_MODULE");
    static auto module = PluginModule::load(path && *path ? path : TARNIX_MODULE_PATH, &error);
    if (!module) {
        state.SkipWithError(error.c_str());
        return;
    }
    HostSession session(*module, nullptr);
    if (session.open() != ACF_OK) {
        state.SkipWithError("the host session did not open");
        return;
    }
    session.host()->memory().keepFreedBlocks(8);
    EffectInstance effect(session);
    if (state.range(2) == 0) {
        for (const ParameterDefinition* p : session.effect()->parameters)
            if (p->dataType == TYPE_Boolean) effect.values().set(p->id, TYPE_Boolean, 1.0);
    } else {
        for (const auto& [name, value] : kWornPrint)
            if (!effect.set(std::string("Plugin_FXid_") + name, value)) {
                state.SkipWithError(name);
                return;
            }
    }

    const ImageSpec shape{uint32_t(state.range(0)), uint32_t(state.range(1)), Layout};
    AcfPtr<Image> input(new Image(shape)), output(new Image(shape));
    bench_support::paintPicture(*input.get());
    int32_t frame = 0;
    for (auto _ : state) {
        if (effect.render(*input.get(), *output.get(), RenderCall{frame, double(frame)}) != ACF_OK) {
            state.SkipWithError("the render failed");
            return;
        }
        ++frame;
    }
    bench_support::setPixels(state);
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int look : {0, 1}) b->Args({1920, 1080, look})->Args({3840, 2160, look});
    b->ArgNames({"w", "h", "look"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Look, PixelLayout::BGRA8)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Look, PixelLayout::BGRA16)->Apply(sizes);

BENCHMARK_MAIN();
