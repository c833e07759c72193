// The whole look through the built module, as a host renders it: one frame after another on a
// photo-like picture, with the host's rasters pooled as tarnix pools them. What the stages' own
// benchmarks cannot show: the passes one after another, each finding the frame where the last
// one left it in the caches. Look 0 is every stage's checkbox on at its defaults; look 1 the
// heavily worn print that bench/peers.sh renders through tarnix.
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include "BenchFrame.h"
#include "refhost/Module.h"
#include "refhost/ParameterCatalog.h"
#include "refhost/Presets.h"
#include "sdk/sdk_ids.h"

namespace {

using namespace refhost;

// The heavy preset's values on an instance, each field found in the parameter table and each
// value as a preset file types it (on, off or a number). False, with the field in `error`, when
// one cannot be set.
bool setHeavyPreset(EffectInstance& effect, std::string& error) {
    for (const Preset& preset : builtInPresets()) {
        if (preset.name != kHeavyPreset) continue;
        for (const auto& [field, text] : preset.values) {
            const ParameterName* name = nullptr;
            for (size_t i = 0; i < kParameterNameCount; ++i)
                if (field == kParameterNames[i].field) name = &kParameterNames[i];
            char* end = nullptr;
            const double value = text == "on" ? 1.0 : text == "off" ? 0.0 : std::strtod(text.c_str(), &end);
            const bool read = text == "on" || text == "off" || (end && *end == '\0' && end != text.c_str());
            if (!name || !read || !effect.set(name->identifier, value)) {
                error = field;
                return false;
            }
        }
        return true;
    }
    error = kHeavyPreset;
    return false;
}

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
        if (!setHeavyPreset(effect, error)) {
            state.SkipWithError(error.c_str());
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
