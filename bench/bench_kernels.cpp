// Kernel throughput on 1920 x 1080 frames, 8-bit and 16-bit, in the modes the stages use.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "lib/Common/Kernels.h"
#include "lib/Common/ChannelTables.h"
#include "pipeline/PostContrast.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A frame of random colours; opaque unless told otherwise, as host frames usually are.
template <class Tag>
struct Frame {
    std::vector<uint8_t> bytes;
    RasterDesc desc;

    explicit Frame(unsigned seed, bool opaque = true)
        : bytes(size_t(kWidth) * kHeight * Tag::bytesPerPixel) {
        using Channel = typename Tag::Channel;
        std::mt19937 rng(seed);
        auto* samples = reinterpret_cast<Channel*>(bytes.data());
        for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) {
            for (int c = 0; c < 4; ++c)
                samples[4 * i + c] = Channel(rng() % (Tag::white + 1));
            if (opaque)
                samples[4 * i + Tag::FORMAT::A] = Channel(Tag::white);
        }
        desc.pixels = bytes.data();
        desc.format = Tag::code;
        desc.width = kWidth;
        desc.height = kHeight;
        desc.rowBytes = kWidth * Tag::bytesPerPixel;
        desc.bytesPerPixel = Tag::bytesPerPixel;
    }
};

void setPixels(benchmark::State& state) { state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight); }

// The layer over the frame at the opacities the stages pass (fading 0.3, grain 0.56, ...).
template <class Tag>
void BM_CompositeRect(benchmark::State& state) {
    const int32_t mode = int32_t(state.range(0));
    const double opacity = double(state.range(1)) / 100.0;
    Frame<Tag> layer(1), frame(2);
    const Rect16 whole{0, 0, kHeight, kWidth};
    for (auto _ : state) {
        CompositeRect<Tag>(nullptr, mode, layer.desc, frame.desc, whole, whole, opacity);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

template <class Tag>
void BM_BlendImages(benchmark::State& state) {
    const int32_t mode = int32_t(state.range(0));
    const float opacity = float(state.range(1)) / 100.0f;
    Frame<Tag> layer(3), frame(4), out(5);
    for (auto _ : state) {
        BlendImages<Tag>(nullptr, mode, opacity, 1.0f, layer.desc, frame.desc, out.desc);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

template <class Tag>
void BM_BoxBlur(benchmark::State& state) {
    const int32_t radius = int32_t(state.range(0));
    Frame<Tag> a(6), b(7);
    for (auto _ : state) {
        BoxBlurHorizontal<Tag>(a.desc, b.desc, radius);
        BoxBlurVertical<Tag>(b.desc, a.desc, radius);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

template <class Tag>
void BM_Fill(benchmark::State& state) {
    Frame<Tag> frame(8);
    for (auto _ : state) {
        FillRaster<Tag>(frame.desc, 128, 128, 128, 255);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

template <class Tag>
void BM_Invert(benchmark::State& state) {
    Frame<Tag> frame(9);
    for (auto _ : state) {
        InvertColor<Tag>(frame.desc);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

template <class Channel>
void BM_ChannelCurves(benchmark::State& state) {
    const int32_t white = sizeof(Channel) == 1 ? 255 : 16384;
    std::vector<Channel> storage(3 * size_t(white + 1));
    Channel* tables[3] = {storage.data(), storage.data() + white + 1, storage.data() + 2 * (white + 1)};
    const double levels[3][5] = {{1.0, 0.0, 1.0, 0.2, 0.8}, {1.3, 0.0, 1.0, 0.1, 0.9}, {0.8, 0.1, 0.9, 0.0, 1.0}};
    for (auto _ : state) {
        BuildChannelCurves<Channel>(white, levels, tables);
        benchmark::DoNotOptimize(storage.data());
    }
}

// Modes 2 normal, 4 add, 5 multiply, 7 overlay, 9 hard light; opacity in percent.
void compositeArgs(benchmark::internal::Benchmark* b) {
    for (int mode : {2, 4, 5, 7, 9})
        for (int opacity : {100, 33})
            b->Args({mode, opacity});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

// Post contrast: the curve built once, then three lookups per pixel.
template <class Tag>
void BM_PostContrast(benchmark::State& state) {
    using T = typename Tag::Channel;
    Frame<Tag> frame(6);
    std::vector<T> storage(3 * 32769);
    T* tables[3] = {&storage[0], &storage[32769], &storage[2 * 32769]};
    for (auto _ : state) {
        ContrastCurve<T>(Tag::white, 0.27, tables);
        ApplyChannelTables<Tag>(frame.desc, tables, Tag::white);
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

BENCHMARK(BM_CompositeRect<PIXEL_ARGB8>)->Apply(compositeArgs);
BENCHMARK(BM_CompositeRect<PIXEL_ARGB14>)->Apply(compositeArgs);
BENCHMARK(BM_BlendImages<PIXEL_ARGB8>)->Apply(compositeArgs);
BENCHMARK(BM_BlendImages<PIXEL_ARGB14>)->Apply(compositeArgs);
BENCHMARK(BM_BoxBlur<PIXEL_ARGB8>)->Arg(25)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxBlur<PIXEL_ARGB14>)->Arg(25)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fill<PIXEL_ARGB8>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fill<PIXEL_ARGB14>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Invert<PIXEL_ARGB8>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Invert<PIXEL_ARGB14>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChannelCurves<uint8_t>)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChannelCurves<uint16_t>)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_PostContrast<PIXEL_ARGB8>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostContrast<PIXEL_ARGB14>)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
