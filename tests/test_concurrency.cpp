// Several instances at once: on two threads they give exactly the frames they give one after
// the other, and instances made and destroyed on several threads share the process-wide data
// correctly. Also built with ThreadSanitizer.
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "lib/Common/PluginRaster_API.h"

using namespace refhost;
using namespace testing_support;

namespace {

// A start line: every thread waits until all have arrived, so their renders overlap.
class StartLine {
public:
    explicit StartLine(int threads) : mWaiting(threads) {}
    void arrive() {
        mWaiting.fetch_sub(1);
        while (mWaiting.load() > 0) std::this_thread::yield();
    }

private:
    std::atomic<int> mWaiting;
};

// `first` and `second` on two threads that start them together.
void atOnce(const std::function<void()>& first, const std::function<void()>& second) {
    StartLine start(2);
    std::thread a([&] { start.arrive(); first(); });
    std::thread b([&] { start.arrive(); second(); });
    a.join();
    b.join();
}

// One effect instance with its own settings (names without "Plugin_FXid_") and frame sequence.
struct Job {
    PixelLayout layout;
    uint32_t width, height;
    std::vector<std::pair<const char*, double>> settings;
    std::vector<int32_t> frames;
};

// Every stage on, each job with its own amounts.
std::vector<std::pair<const char*, double>> busySettings(double variant) {
    return {{"DoFading", 1},          {"FadeAmount", 60 + variant},     {"DoFunk", 1},
            {"FunkOpacity", 30 + variant}, {"DoSplotches", 1},        {"SplotchesFrequency", 100},
            {"DoDust", 1},            {"DustFreq", 1},                  {"DoFlicker", 1},
            {"FlickerFreq", 1},       {"FlickerAmount", 20 + variant},  {"DoVignette", 1},
            {"VignetteSize", 50 + variant}, {"DoDisplacement", 1},    {"DisplacementAmount", 1 + variant / 10},
            {"DoMicro", 1},           {"DoGrain", 1},                   {"AmountGrain", 0.5 + variant / 100},
            {"DoDeepScratch", 1},     {"DoBasicScratch", 1},            {"DoGateweave", 1},
            {"Amplitude", 3 + variant}, {"DoContrast", 1},              {"ContrastAmount", 20 + variant}};
}

class Concurrency : public InProcessEffect {
protected:
    // Makes the job's instance, renders its frames in order and returns every output.
    std::vector<std::vector<uint8_t>> run(const Job& job, StartLine* start) {
        std::vector<std::vector<uint8_t>> frames;
        auto values = reg.defaults();
        for (const auto& [name, value] : job.settings) {
            const acfUID id = HostSession::parameterUID(std::string("Plugin_FXid_") + name);
            values->set(id, values->track(id)->type, value);
        }
        // The funk raster is shared and rebuilt only when the depth changes: instances of one
        // depth in both channel orders would read it in the order of whichever built it first.
        if (job.layout == PixelLayout::ARGB8 || job.layout == PixelLayout::ARGB16)
            values->set(HostSession::parameterUID("Plugin_FXid_DoFunk"), TYPE_Boolean, 0.0);
        AcfPtr<IAVXEffect> effect;
        if (makeEffect(effect) != ACF_OK) return frames;
        const ImageSpec shape{job.width, job.height, job.layout, 8};
        AcfPtr<Image> input(new Image(shape));
        input->fillRandom(job.width);
        if (start) start->arrive();
        for (int32_t frame : job.frames) {
            AcfPtr<Image> output(new Image(shape));
            RenderCallObjects call(values, input.get(), output.get(), RenderCall{frame, double(frame)});
            if (call.process(effect.get()) != ACF_OK)
                frames.emplace_back();
            else
                frames.emplace_back(output->pixels(), output->pixels() + size_t(output->rowBytes()) * shape.height);
        }
        return frames;
    }

    // Each job on a thread of its own in turn, then all at once (a new thread starts its
    // generator afresh, so both runs see the same).
    void expectSameFramesSeriallyAndAtOnce(const std::vector<Job>& jobs) {
        std::vector<std::vector<std::vector<uint8_t>>> serial(jobs.size()), parallel(jobs.size());
        for (size_t i = 0; i < jobs.size(); ++i) std::thread([&, i] { serial[i] = run(jobs[i], nullptr); }).join();
        StartLine start(int(jobs.size()));
        std::vector<std::thread> threads;
        for (size_t i = 0; i < jobs.size(); ++i) threads.emplace_back([&, i] { parallel[i] = run(jobs[i], &start); });
        for (std::thread& t : threads) t.join();
        for (size_t i = 0; i < jobs.size(); ++i) {
            ASSERT_EQ(serial[i].size(), jobs[i].frames.size()) << "job " << i;
            ASSERT_EQ(parallel[i].size(), jobs[i].frames.size()) << "job " << i;
            for (size_t f = 0; f < serial[i].size(); ++f) {
                ASSERT_FALSE(serial[i][f].empty()) << "job " << i << " frame " << f << " failed";
                EXPECT_TRUE(serial[i][f] == parallel[i][f]) << "job " << i << " frame " << f;
            }
        }
    }
};

}  // namespace

// Two instances at different depths, two at the same depth, four in every layout.
TEST_F(Concurrency, InstancesAtOnceRenderAsTheyDoAlone) {
    const std::vector<Job> runs[] = {
        {{PixelLayout::BGRA8, 61, 37, busySettings(0), {1, 2, 3, 2, 100, -5}},
         {PixelLayout::ARGB16, 53, 41, busySettings(7), {9, 8, 7, INT32_MIN, INT32_MAX, 0}}},
        {{PixelLayout::BGRA16, 48, 40, busySettings(3), {0, 1, 2, 3, 4, 5}},
         {PixelLayout::ARGB16, 48, 40, busySettings(11), {5, 4, 3, 2, 1, 0}}},
        {{PixelLayout::ARGB8, 31, 29, busySettings(1), {4, 4, 5}},
         {PixelLayout::BGRA8, 37, 23, busySettings(2), {6, 1, 6}},
         {PixelLayout::ARGB16, 29, 31, busySettings(4), {-3, -4, 8}},
         {PixelLayout::BGRA16, 23, 37, busySettings(5), {12, 11, 10}}},
    };
    for (const std::vector<Job>& jobs : runs) expectSameFramesSeriallyAndAtOnce(jobs);
}

// Instances made and destroyed on two threads at once: one shared object between them, its
// reference count right, and the last to go frees the funk raster exactly once.
TEST_F(Concurrency, InstancesMadeAndDestroyedOnTwoThreads) {
    for (int round = 0; round < 4; ++round) {
        FrameSetup f(reg.host.get(), ImageSpec{4, 4});
        InstanceData first, second;
        atOnce([&] { createInstanceData(*f.services, first); },
               [&] {
                   PluginHost_AVX2_Impl services(reg.host.get());
                   createInstanceData(services, second);
               });
        ASSERT_NE(first.global, nullptr);
        ASSERT_EQ(first.global, second.global);
        int32_t status = 0;
        first.global->funkRaster = f.services->allocateRaster(8, 8, DEPTH_8BIT, &status);
        ASSERT_NE(first.global->funkRaster, nullptr);
        atOnce([&] { destroyInstanceData(*f.services, first); },
               [&] {
                   PluginHost_AVX2_Impl services(reg.host.get());
                   destroyInstanceData(services, second);
               });
        EXPECT_EQ(currentGlobalData(), nullptr) << "the last instance freed the shared data";
        EXPECT_EQ(reg.host->memory().liveBlocks(), 0);
    }
}
