// Several effect instances at once: two instances rendering on two threads give exactly the
// frames they give one after the other, at the same and at different depths, and instances
// made and destroyed on several threads share one set of process-wide data correctly.
// Built with ThreadSanitizer as well, where any unguarded shared state fails the run.
#include <atomic>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "host/acf/CACFUnknown.h"
#include "host/avx2/PluginRaster_API.h"
#include "host/avx2/Plugin_AVX2_Effect.h"
#include "lib/Common/InstanceData.h"
#include "platform/platform.h"
#include "refhost/Module.h"
#include "sdk/sdk_ids.h"

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

// One effect instance with its own settings and frame sequence.
struct Job {
    PixelLayout layout;
    uint32_t width, height;
    std::vector<std::pair<const char*, double>> settings;
    std::vector<int32_t> frames;
};

// Every stage on, each job with its own amounts.
std::vector<std::pair<const char*, double>> busySettings(double variant) {
    return {{"Plugin_FXid_DoFading", 1},        {"Plugin_FXid_FadeAmount", 60 + variant},
            {"Plugin_FXid_DoFunk", 1},          {"Plugin_FXid_FunkOpacity", 30 + variant},
            {"Plugin_FXid_DoSplotches", 1},     {"Plugin_FXid_SplotchesFrequency", 100},
            {"Plugin_FXid_DoDust", 1},          {"Plugin_FXid_DustFreq", 1},
            {"Plugin_FXid_DoFlicker", 1},       {"Plugin_FXid_FlickerFreq", 1},
            {"Plugin_FXid_FlickerAmount", 20 + variant},
            {"Plugin_FXid_DoVignette", 1},      {"Plugin_FXid_VignetteSize", 50 + variant},
            {"Plugin_FXid_DoDisplacement", 1},  {"Plugin_FXid_DisplacementAmount", 1 + variant / 10},
            {"Plugin_FXid_DoMicro", 1},         {"Plugin_FXid_DoGrain", 1},
            {"Plugin_FXid_AmountGrain", 0.5 + variant / 100},
            {"Plugin_FXid_DoDeepScratch", 1},   {"Plugin_FXid_DoBasicScratch", 1},
            {"Plugin_FXid_DoGateweave", 1},     {"Plugin_FXid_Amplitude", 3 + variant},
            {"Plugin_FXid_DoContrast", 1},      {"Plugin_FXid_ContrastAmount", 20 + variant}};
}

class Concurrency : public ::testing::Test {
protected:
    RegisteredEffect reg;

    void SetUp() override { platform::processLockCreate(); }
    void TearDown() override {
        EXPECT_EQ(CACFUnknown::liveObjects(), 0);
        EXPECT_EQ(reg.host->memory().liveBlocks(), 0);
        releaseIdleGlobalData();
        platform::processLockDelete();
    }

    // Makes the job's instance, renders its frames in order and returns every output.
    std::vector<std::vector<uint8_t>> run(const Job& job, StartLine* start) {
        std::vector<std::vector<uint8_t>> frames;
        auto values = reg.defaults();
        for (const auto& [name, value] : job.settings) {
            const acfUID id = HostSession::parameterUID(name);
            values->set(id, values->track(id)->type, value);
        }
        AcfPtr<IAVXEffect> effect;
        if (createComponent<Plugin_AVX2_Effect>(reg.host.get(), nullptr, IID_IAVXEffect, effect.outVoid()) != ACF_OK)
            return frames;
        ImageSpec shape;
        shape.width = job.width;
        shape.height = job.height;
        shape.layout = job.layout;
        shape.rowPadding = 8;
        AcfPtr<Image> input(new Image(shape));
        input->fillRandom(job.width);
        if (start) start->arrive();
        for (int32_t frame : job.frames) {
            AcfPtr<Image> output(new Image(shape));
            AcfPtr<InputService> service(new InputService(input.get()));
            AcfPtr<EffectContext> context(new EffectContext(values, service.get()));
            AcfPtr<refhost::FrameContext> frameContext(new refhost::FrameContext(frame));
            AcfPtr<RenderContext> renderContext(new RenderContext(0, double(frame)));
            AcfPtr<ImageSource> source(new ImageSource(output.get()));
            if (effect->ProcessFrame(context.get(), nullptr, nullptr, frameContext.get(), nullptr, renderContext.get(),
                                     source.get()) != ACF_OK)
                frames.emplace_back();
            else
                frames.emplace_back(output->pixels(), output->pixels() + size_t(output->rowBytes()) * shape.height);
        }
        return frames;
    }

    // Each job on a thread of its own, one after the other, then all at once on as many
    // threads; a new thread starts its random generator afresh, so both runs see the same.
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

TEST_F(Concurrency, TwoInstancesAtDifferentDepthsRenderAsTheyDoAlone) {
    expectSameFramesSeriallyAndAtOnce({
        {PixelLayout::BGRA8, 61, 37, busySettings(0), {1, 2, 3, 2, 100, -5}},
        {PixelLayout::ARGB16, 53, 41, busySettings(7), {9, 8, 7, INT32_MIN, INT32_MAX, 0}},
    });
}

TEST_F(Concurrency, TwoInstancesAtTheSameDepthRenderAsTheyDoAlone) {
    expectSameFramesSeriallyAndAtOnce({
        {PixelLayout::BGRA16, 48, 40, busySettings(3), {0, 1, 2, 3, 4, 5}},
        {PixelLayout::ARGB16, 48, 40, busySettings(11), {5, 4, 3, 2, 1, 0}},
    });
}

TEST_F(Concurrency, FourInstancesInEveryLayout) {
    expectSameFramesSeriallyAndAtOnce({
        {PixelLayout::ARGB8, 31, 29, busySettings(1), {4, 4, 5}},
        {PixelLayout::BGRA8, 37, 23, busySettings(2), {6, 1, 6}},
        {PixelLayout::ARGB16, 29, 31, busySettings(4), {-3, -4, 8}},
        {PixelLayout::BGRA16, 23, 37, busySettings(5), {12, 11, 10}},
    });
}

// Instances made and destroyed on two threads at once: one shared object between them, its
// reference count right, and the last to go frees the funk raster exactly once.
TEST_F(Concurrency, InstancesMadeAndDestroyedOnTwoThreads) {
    for (int round = 0; round < 4; ++round) {
        FrameSetup f(reg.host.get(), ImageSpec{4, 4});
        InstanceData first, second;
        StartLine made(2);
        std::thread a([&] {
            made.arrive();
            createInstanceData(*f.services, first);
        });
        std::thread b([&] {
            made.arrive();
            PluginHost_AVX2_Impl services(reg.host.get());
            createInstanceData(services, second);
        });
        a.join();
        b.join();
        ASSERT_NE(first.global, nullptr);
        ASSERT_EQ(first.global, second.global);
        int32_t status = 0;
        first.global->funkRaster = f.services->allocateRaster(8, 8, DEPTH_8BIT, &status);
        ASSERT_NE(first.global->funkRaster, nullptr);

        StartLine gone(2);
        std::thread c([&] {
            gone.arrive();
            destroyInstanceData(*f.services, first);
        });
        std::thread d([&] {
            gone.arrive();
            PluginHost_AVX2_Impl services(reg.host.get());
            destroyInstanceData(services, second);
        });
        c.join();
        d.join();
        EXPECT_EQ(currentGlobalData(), nullptr) << "the last instance freed the shared data";
        EXPECT_EQ(reg.host->memory().liveBlocks(), 0);
    }
}
