// One render call's host objects around an input and an output image, with instance data,
// on a photo-like picture: what the stage benchmarks call a stage with; and the floors the
// stages are read against (a frame copy, a table pass, the generator chain), measured in the
// same process, with the counters that divide a stage's time by them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include <benchmark/benchmark.h>

#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/StageTypes.h"
#include "pipeline/Random.h"
#include "refhost/Contexts.h"
#include "refhost/Images.h"
#include "refhost/RefHost.h"

namespace bench_support {

using refhost::PixelLayout;

template <class Tag>
constexpr PixelLayout kLayout = kIs16Bit<Tag> ? PixelLayout::BGRA16 : PixelLayout::BGRA8;

// Pixels of `after` that differ from `before` in any channel: what a stage that touches part of
// the frame changed (pixels it wrote back unchanged are not seen, so this counts low).
inline int64_t changedPixels(const RasterDesc& before, const RasterDesc& after) {
    int64_t changed = 0;
    const int32_t w = std::min(before.width, after.width), h = std::min(before.height, after.height);
    const size_t bytes = before.bytesPerPixel;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* a = before.pixels + int64_t(y) * before.rowBytes;
        const uint8_t* b = after.pixels + int64_t(y) * after.rowBytes;
        if (std::memcmp(a, b, size_t(w) * bytes) == 0) continue;
        for (int32_t x = 0; x < w; ++x) changed += std::memcmp(a + x * bytes, b + x * bytes, bytes) != 0;
    }
    return changed;
}

// The floors: the least a pass over a frame costs on this machine, measured in the process that
// times the stages, so a stage reads against the floor that bounds it whatever else the machine
// is doing at the time. All in process CPU time, as the benchmarks report: the machine is
// shared, and wall time counts the turns others take on it.
namespace floors {

inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Seconds of `work`: the median of 15 runs after an untimed one, as the stages' times are means
// over many iterations, which drift with the machine as a median does and a minimum does not.
template <class Work>
double measure(Work&& work) {
    work();
    std::vector<double> runs;
    for (int run = 0; run < 15; ++run) {
        const double start = cpuSeconds();
        work();
        runs.push_back(cpuSeconds() - start);
    }
    std::nth_element(runs.begin(), runs.begin() + runs.size() / 2, runs.end());
    return runs[runs.size() / 2];
}

// Each floor measured once per process and size.
template <class Make>
double remembered(int kind, int64_t a, int64_t b, Make&& make) {
    static std::map<std::tuple<int, int64_t, int64_t>, double> known;
    const auto key = std::make_tuple(kind, a, b);
    const auto found = known.find(key);
    if (found != known.end()) return found->second;
    return known[key] = make();
}

// A frame's bytes copied into another frame already in memory: what any pass that reads the
// frame and writes it costs at least.
inline double frameCopy(int64_t bytes) {
    return remembered(0, bytes, 0, [bytes] {
        std::vector<uint8_t> from(size_t(bytes), 1), to(size_t(bytes), 2);
        return measure([&] {
            std::memcpy(to.data(), from.data(), to.size());
            benchmark::DoNotOptimize(to.data());
            benchmark::ClobberMemory();
        });
    });
}

// Every sample of a frame (alpha too) through a table of white + 1 entries, one lookup at a time
// (the baseline instruction set has no gather, so this stays scalar): what a per-channel curve
// costs without vector code.
template <class Channel>
void lookUpEach(Channel* samples, size_t count, const Channel* table) {
    for (size_t i = 0; i < count; ++i) samples[i] = table[samples[i]];
}
template <class Channel>
double tablePass(int64_t pixels, int32_t white) {
    return remembered(1, pixels, white, [pixels, white] {
        std::vector<Channel> frame(size_t(pixels) * 4), table(size_t(white) + 1);
        for (size_t i = 0; i < frame.size(); ++i) frame[i] = Channel((i * 2654435761u >> 7) % (uint32_t(white) + 1));
        for (int32_t v = 0; v <= white; ++v) table[size_t(v)] = Channel(white - v);
        return measure([&] {
            lookUpEach(frame.data(), frame.size(), table.data());
            benchmark::ClobberMemory();
        });
    });
}
template <class Tag>
double tablePass(int64_t pixels) {
    return tablePass<typename Tag::Channel>(pixels, Tag::white);
}

// `draws` draws of the stages' generator, each waiting on the one before: what grain's three
// draws a pixel cost taken one after another.
inline uint32_t drawChain(int64_t draws) {
    uint32_t state = 12345, mix = 0;
    for (int64_t i = 0; i < draws; ++i) mix += rng::step(state);
    return mix;
}
inline double generatorChain(int64_t draws) {
    return remembered(2, draws, 0, [draws] { return measure([draws] { benchmark::DoNotOptimize(drawChain(draws)); }); });
}

// Counter `name`: `timed` CPU seconds over all iterations, per iteration, divided by `floor`.
inline void setRatio(benchmark::State& state, const char* name, double timed, double floor) {
    state.counters[name] = benchmark::Counter(timed / floor, benchmark::Counter::kAvgIterations);
}

// A w x h frame of `Tag`, `timed` CPU seconds over all iterations: against its copy, and its
// table pass where `table` is asked for.
template <class Tag>
void setFrameRatios(benchmark::State& state, double timed, int64_t w, int64_t h, bool table) {
    setRatio(state, "x_copy", timed, frameCopy(w * h * Tag::bytesPerPixel));
    if (table) setRatio(state, "x_table", timed, tablePass<Tag>(w * h));
}

}  // namespace floors

// The CPU seconds a benchmark's loop spends timed: from its start, less the work done in
// untimed(), with the timing paused. The ratio counters are worked out from it (the library
// keeps its own elapsed time to itself), so they print as plain numbers.
class TimedCpu {
public:
    TimedCpu() : mStart(floors::cpuSeconds()) {}
    template <class Work>
    void untimed(benchmark::State& state, Work&& work) {
        state.PauseTiming();
        const double start = floors::cpuSeconds();
        work();
        mPaused += floors::cpuSeconds() - start;
        state.ResumeTiming();
    }
    double seconds() const { return floors::cpuSeconds() - mStart - mPaused; }

private:
    double mStart, mPaused = 0;
};

// An opaque, photo-like picture: smooth gradients under a fine texture.
inline void paintPicture(refhost::Image& image) {
    const double white = image.white();
    const uint32_t w = image.shape().width, h = image.shape().height;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            const double texture = 0.04 * std::sin(x * 0.9 + std::sin(y * 0.7) * 3.0);
            image.setChannel(x, y, 0, uint32_t(white));
            image.setChannel(x, y, 1, uint32_t(white * std::clamp(0.2 + 0.6 * u + texture, 0.0, 1.0)));
            image.setChannel(x, y, 2, uint32_t(white * std::clamp(0.3 + 0.5 * v * u + texture, 0.0, 1.0)));
            image.setChannel(x, y, 3, uint32_t(white * std::clamp(0.7 - 0.5 * v + texture, 0.0, 1.0)));
        }
}

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

        paintPicture(*input.get());
        services->copyInputToOutput();
    }
    // The stages work in place: the picture put back, untimed; nextFrame() moves the frame
    // number on too, and countThenNextFrame() first counts the pixels the call changed.
    void putBack(benchmark::State& state, TimedCpu& timed) {
        timed.untimed(state, [&] { services->copyInputToOutput(); });
    }
    void nextFrame(benchmark::State& state, TimedCpu& timed) {
        timed.untimed(state, [&] {
            ++services->mFrameNumber;
            services->copyInputToOutput();
        });
    }
    // Counting takes as long as putting the frame back, so it is done on the first 16 frames and
    // every 64th after them: the small stages run thousands of frames.
    struct Changes {
        int64_t frames = 0, counted = 0, pixels = 0;
        double perFrame() const { return counted ? double(pixels) / double(counted) : 0.0; }
    };
    void countThenNextFrame(benchmark::State& state, TimedCpu& timed, Changes& changes) {
        timed.untimed(state, [&] {
            if (changes.frames < 16 || changes.frames % 64 == 0) {
                changes.pixels += changedPixels(in->describe(), out->describe());
                ++changes.counted;
            }
            ++changes.frames;
            ++services->mFrameNumber;
            services->copyInputToOutput();
        });
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

// For a stage that touches part of the frame, `elements` specks, splotches or scratches a frame,
// `timed` CPU seconds over all iterations and `changed` pixels changed a frame: the time per
// element ("per_elem", seconds), the pixels changed a frame ("touched_px") and the time against a
// copy of those pixels ("x_touched", at the whole frame copy's rate per pixel).
template <class Tag>
void setPartRatios(benchmark::State& state, double timed, int64_t elements, double changed) {
    const int64_t w = state.range(0), h = state.range(1);
    if (elements > 0) state.counters["per_elem"] = benchmark::Counter(timed / double(elements), benchmark::Counter::kAvgIterations);
    state.counters["touched_px"] = changed;
    const double copied = floors::frameCopy(w * h * Tag::bytesPerPixel) * changed / double(w * h);
    if (changed > 0) floors::setRatio(state, "x_touched", timed, copied);
}

}  // namespace bench_support
