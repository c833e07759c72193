// Grain on 1920 x 1080 and 3840 x 2160 frames, 8-bit and 16-bit: the whole stage through the
// reference host, each of its passes, and the serial generator chain that bounds it from below.
// The whole stage's counters: x_gen, its time over the generator chain's (three draws a pixel,
// measured in the same process), and x_copy, over a frame copy's; CPU time, as reported.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "BenchFrame.h"
#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/Kernels.h"
#include "pipeline/Random.h"
#include "refhost/Images.h"
#include "refhost/RefHost.h"
#include "stages/tone/grain/Grain.h"
#include "stages/tone/grain/GrainBlur.h"

namespace {

// A frame of random opaque colours.
template <class Tag>
struct Frame {
    std::vector<uint8_t> bytes;
    RasterDesc desc;

    Frame(int width, int height, unsigned seed) : bytes(size_t(width) * size_t(height) * Tag::bytesPerPixel) {
        using Channel = typename Tag::Channel;
        std::mt19937 rng(seed);
        auto* samples = reinterpret_cast<Channel*>(bytes.data());
        for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
            for (int c = 0; c < 4; ++c) samples[4 * i + c] = Channel(rng() % (Tag::white + 1));
            samples[4 * i + Tag::FORMAT::A] = Channel(Tag::white);
        }
        desc.pixels = bytes.data();
        desc.format = Tag::code;
        desc.width = width;
        desc.height = height;
        desc.rowBytes = width * Tag::bytesPerPixel;
        desc.bytesPerPixel = Tag::bytesPerPixel;
    }
};

int width(const benchmark::State& state) { return int(state.range(0)); }
int height(const benchmark::State& state) { return int(state.range(0)) * 9 / 16; }
void setPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * int64_t(width(state)) * height(state));
}

// The floor: one frame's draws (three per pixel with colour noise), each waiting on the last.
void BM_GeneratorChain(benchmark::State& state) {
    const int64_t draws = int64_t(width(state)) * height(state) * 3;
    for (auto _ : state) {
        uint32_t s = 12345;
        uint32_t mix = 0;
        for (int64_t i = 0; i < draws; ++i) mix += rng::step(s);
        benchmark::DoNotOptimize(mix);
    }
    setPixels(state);
}

// The same draws taken in lanes, a stretch at a time, as the noise pass takes them.
void BM_GeneratorLanes(benchmark::State& state) {
    const int64_t draws = int64_t(width(state)) * height(state) * 3;
    std::vector<uint16_t> stretch(1536);
    for (auto _ : state) {
        uint32_t s = 12345;
        for (int64_t done = 0; done < draws; done += int64_t(stretch.size()))
            rng::fill(s, stretch.data(), size_t(std::min<int64_t>(int64_t(stretch.size()), draws - done)));
        benchmark::DoNotOptimize(s);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

constexpr grain_noise::Shaping kDefaultShaping{{28.22f, 35.54f, 100.0f}, 20, 10};
// The heavy preset's grain.
constexpr grain_noise::Shaping kLookShaping{{50.0f, 55.0f, 80.0f}, 20, 10};

// The curves and weights of some settings, and the settings.
template <class Tag>
struct ShapingTables {
    std::vector<typename Tag::Channel> tables = std::vector<typename Tag::Channel>(3 * (Tag::white + 1));
    typename Tag::Channel* curves[3] = {&tables[0], &tables[Tag::white + 1], &tables[2 * (Tag::white + 1)]};
    std::vector<float> weights = std::vector<float>(Tag::white + 1);
    const grain_noise::Shaping shaping;

    explicit ShapingTables(const grain_noise::Shaping& settings) : shaping(settings) {
        GrainChannelCurves<Tag>(shaping.strengths[0], shaping.strengths[1], shaping.strengths[2], curves);
        GrainSuppressionWeights(Tag::white, shaping.suppressBlack, shaping.suppressWhite, weights.data());
    }
};

// The parts, with the defaults' settings. The noise pass works its samples out in lanes when
// handed the settings behind its tables (where the processor has AVX2), else looks them up; at
// the defaults (heavy 0), at the stage's heaviest (heavy 1: full amount and strengths) or with
// the heavy preset's grain (heavy 2), whose 8-bit curves the lanes work out in fixed point.
template <class Tag, bool Lanes>
void BM_GrainNoisePass(benchmark::State& state) {
    Frame<Tag> picture(width(state), height(state), 1), layer(width(state), height(state), 2);
    const bool heavy = state.range(1) == 1, look = state.range(1) == 2;
    const ShapingTables<Tag> d(heavy  ? grain_noise::Shaping{{100.0f, 100.0f, 100.0f}, 20, 10}
                               : look ? kLookShaping
                                      : kDefaultShaping);
    for (auto _ : state) {
        GrainNoise<Tag>(true, heavy ? 1.0f : look ? 0.6f : 0.75f, 7, d.curves, d.weights.data(), picture.desc, layer.desc,
                        Lanes ? &d.shaping : nullptr);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

// Both passes at the defaults' radii (look 0) or the heavy preset's (look 1).
template <class Tag>
void BM_GrainBlurBothPasses(benchmark::State& state) {
    Frame<Tag> layer(width(state), height(state), 1), buffer(width(state), height(state), 2);
    const bool look = state.range(1) != 0;
    const float r[3] = {look ? 0.3f : 0.05f, look ? 0.4f : 0.1f, look ? 0.5f : 0.2f};
    for (auto _ : state) {
        GrainBlur<Tag>(r[0], r[1], r[2], false, layer.desc, buffer.desc);
        GrainBlur<Tag>(r[0], r[1], r[2], true, buffer.desc, layer.desc);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

// One pass alone, horizontal (0) or vertical (1).
template <class Tag>
void BM_GrainBlurPass(benchmark::State& state) {
    Frame<Tag> layer(width(state), height(state), 1), buffer(width(state), height(state), 2);
    const bool vertical = state.range(1) != 0;
    for (auto _ : state) {
        GrainBlur<Tag>(0.05f, 0.1f, 0.2f, vertical, layer.desc, buffer.desc);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

template <class Tag>
void BM_GrainBlend(benchmark::State& state) {
    Frame<Tag> layer(width(state), height(state), 1), picture(width(state), height(state), 2);
    for (auto _ : state) {
        BlendImages<Tag>(nullptr, BLEND_HARD_LIGHT, 0.56f, 1.0f, layer.desc, picture.desc, picture.desc);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

// The whole stage through the reference host, working rasters included, at the defaults
// (heavy 0) or at its heaviest (heavy 1: full amount and strengths, the widest softening).
template <class Tag>
void BM_GrainStage(benchmark::State& state) {
    AcfPtr<refhost::HostComponent> hostComponent(new refhost::HostComponent);
    // Working rasters reused from call to call, as an editor's pool (and tarnix) keeps them.
    hostComponent->memory().keepFreedBlocks(8);
    refhost::ImageSpec shape;
    shape.width = uint32_t(width(state));
    shape.height = uint32_t(height(state));
    shape.layout = kIs16Bit<Tag> ? refhost::PixelLayout::ARGB16 : refhost::PixelLayout::BGRA8;
    AcfPtr<refhost::Image> input(new refhost::Image(shape)), output(new refhost::Image(shape));
    // Random colours under an opaque alpha, as footage arrives.
    input->fillRandom(1);
    for (uint32_t y = 0; y < shape.height; ++y)
        for (uint32_t x = 0; x < shape.width; ++x) input->setChannel(x, y, 0, input->white());
    PluginHost_AVX2_Impl host(hostComponent.get());
    host.inputImage = input.get();
    host.outputImage = output.get();
    host.mWidth = shape.width;
    host.mHeight = shape.height;
    host.mFrameNumber = 17;
    InstanceData data;
    if (createInstanceData(host, data) != 0) {
        state.SkipWithError("no instance data");
        return;
    }
    host.setInstanceData(&data);
    RasterHolder in(host.inputRaster(0), &host, false, true);
    RasterHolder out(host.outputRaster(), &host, false, true);
    bench_support::TimedCpu timed;
    for (auto _ : state) {
        timed.untimed(state, [&] { host.copyInputToOutput(); });
        if (state.range(1) != 0)
            GrainStage<Tag>(FrameContext{}, host, in, out, true, 1.0f, 100.0f, 100.0f, 100.0f, 10.0f, 10.0f, 10.0f, 20.0f,
                            10.0f);
        else
            GrainStage<Tag>(FrameContext{}, host, in, out, true, 0.75f, 28.22f, 35.54f, 100.0f, 0.1f, 0.2f, 0.4f, 20.0f,
                            10.0f);
        benchmark::ClobberMemory();
    }
    const double seconds = timed.seconds();
    setPixels(state);
    namespace floors = bench_support::floors;
    const int64_t pixels = int64_t(shape.width) * shape.height;
    floors::setRatio(state, "x_gen", seconds, floors::generatorChain(3 * pixels));
    floors::setRatio(state, "x_copy", seconds, floors::frameCopy(pixels * Tag::bytesPerPixel));
    in.reset();
    out.reset();
    destroyInstanceData(host, data);
}

void frameSizes(benchmark::internal::Benchmark* b) {
    b->Arg(1920)->Arg(3840)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_GeneratorChain)->Apply(frameSizes);
BENCHMARK(BM_GeneratorLanes)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_GrainStage, PIXEL_BGRA8)->ArgsProduct({{1920, 3840}, {0, 1}})->ArgNames({"w", "heavy"})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainStage, PIXEL_ARGB14)->ArgsProduct({{1920, 3840}, {0, 1}})->ArgNames({"w", "heavy"})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainNoisePass, PIXEL_BGRA8, true)->ArgsProduct({{1920, 3840}, {0, 1, 2}})->ArgNames({"w", "heavy"})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainNoisePass, PIXEL_ARGB14, true)->ArgsProduct({{1920, 3840}, {0, 1, 2}})->ArgNames({"w", "heavy"})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainNoisePass, PIXEL_BGRA8, false)->ArgsProduct({{1920, 3840}, {0, 1}})->ArgNames({"w", "heavy"})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainNoisePass, PIXEL_ARGB14, false)->ArgsProduct({{1920, 3840}, {0, 1}})->ArgNames({"w", "heavy"})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainBlurBothPasses, PIXEL_BGRA8)->ArgsProduct({{1920, 3840}, {0, 1}})->ArgNames({"w", "look"})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainBlurBothPasses, PIXEL_ARGB14)->ArgsProduct({{1920, 3840}, {0, 1}})->ArgNames({"w", "look"})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainBlurPass, PIXEL_BGRA8)->ArgsProduct({{1920}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainBlurPass, PIXEL_ARGB14)->ArgsProduct({{1920}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_GrainBlend, PIXEL_BGRA8)->Apply(frameSizes);
BENCHMARK_TEMPLATE(BM_GrainBlend, PIXEL_ARGB14)->Apply(frameSizes);

BENCHMARK_MAIN();
