// The render entry in-process: what it tells the pipeline about the frame, its check for
// missing objects, and the two image-format messages.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "host/acf/CACFUnknown.h"
#include "host/avx2/Plugin_AVX2_Effect.h"
#include "lib/Common/Diagnostics.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/StageTable.h"
#include "platform/platform.h"
#include "sdk/sdk_ids.h"

using namespace refhost;
using namespace testing_support;

namespace {

// What a stage saw of the host services.
struct Seen {
    double fieldFactor = 0, scaleX = 0, scaleY = 0, aspect = 0, time = 0;
    int32_t frame = 0;
    int calls = 0;
};
Seen gSeen;

Status recordingStage(const ::FrameContext&, PluginHost_API& host, RasterHolder&, RasterHolder& output, float) {
    gSeen.calls++;
    gSeen.fieldFactor = host.fieldFactor();
    gSeen.scaleX = host.scaleX();
    gSeen.scaleY = host.scaleY();
    gSeen.aspect = host.pixelAspect(output.raster);
    gSeen.frame = host.frameNumber();
    gSeen.time = host.definitionContext().time;
    return STATUS_OK;
}

struct Messages {
    std::vector<std::string> texts;
    static void observe(const char* text, const char* title, void* user) {
        static_cast<Messages*>(user)->texts.push_back(std::string(title) + ": " + text);
    }
};

struct Assertions {
    std::vector<std::string> reports;
    static void observe(const char* condition, const char* unit, int line, void* user) {
        static_cast<Assertions*>(user)->reports.push_back(std::string(condition) + " @" + unit + ":" + std::to_string(line));
    }
};

class RenderEntry : public ::testing::Test {
protected:
    RegisteredEffect reg;
    AcfPtr<IAVXEffect> effect;
    std::shared_ptr<ParameterValues> values = reg.defaults();

    void SetUp() override {
        platform::processLockCreate();
        ASSERT_EQ(createComponent<Plugin_AVX2_Effect>(reg.host.get(), nullptr, IID_IAVXEffect, effect.outVoid()), 0);
    }
    void TearDown() override {
        effect.reset();
        EXPECT_EQ(CACFUnknown::liveObjects(), 0);
        EXPECT_EQ(reg.host->memory().liveBlocks(), 0);
        platform::processLockDelete();
    }

    ACFRESULT render(const ImageSpec& shape, int32_t frame, double time, const int32_t scale[4] = nullptr) {
        AcfPtr<Image> input(new Image(shape)), output(new Image(shape));
        AcfPtr<InputService> service(new InputService(input.get()));
        AcfPtr<EffectContext> context(new EffectContext(values, service.get()));
        if (scale)
            for (int i = 0; i < 4; ++i) context->scaleTerms[i] = scale[i];
        AcfPtr<refhost::FrameContext> frameContext(new refhost::FrameContext(frame));
        AcfPtr<RenderContext> renderContext(new RenderContext(7, time));
        AcfPtr<ImageSource> source(new ImageSource(output.get()));
        const ACFRESULT r = effect->ProcessFrame(context.get(), nullptr, nullptr, frameContext.get(), nullptr,
                                                 renderContext.get(), source.get());
        lastAskedLayout = service->askedFieldLayout;
        lastAskedFrame = service->askedFrame;
        return r;
    }
    uint32_t lastAskedLayout = 0;
    int32_t lastAskedFrame = 0;
};

}  // namespace

TEST_F(RenderEntry, FieldLayoutTwoRendersWithFieldFactorTwo) {
    StageTable table = stageTable<PIXEL_BGRA8>();
    table.fading = recordingStage;
    overrideStageTable<PIXEL_BGRA8>(&table);
    values->set(*slotIdentifier(0), TYPE_Boolean, 1);

    const int32_t half[4] = {1, 2, 1, 2};
    for (uint32_t layout : {0u, 1u, 2u, 3u}) {
        ImageSpec shape{6, 4};
        shape.fieldLayout = layout;
        shape.pixelAspect = 1.5f;
        gSeen = Seen{};
        EXPECT_EQ(render(shape, 42, 41.5, half), ACF_OK);
        const double factor = layout == 2 ? 2.0 : 1.0;
        EXPECT_EQ(gSeen.calls, 1);
        EXPECT_EQ(gSeen.fieldFactor, factor) << layout;
        EXPECT_EQ(gSeen.scaleX, 0.5 / factor);
        EXPECT_EQ(gSeen.scaleY, 0.5 / factor);
        EXPECT_EQ(gSeen.aspect, 1.5 / factor);
        EXPECT_EQ(gSeen.frame, 42);
        EXPECT_EQ(gSeen.time, 41.5) << "parameters are read at the render context's time";
        EXPECT_EQ(lastAskedLayout, layout) << "the input is asked for with the output's field layout";
        EXPECT_EQ(lastAskedFrame, 42);
    }
    overrideStageTable<PIXEL_BGRA8>(nullptr);
}

TEST_F(RenderEntry, MissingObjectsAreReportedAndNotUsed) {
    Assertions seen;
    diag::setAssertionObserver(&Assertions::observe, &seen);
    AcfPtr<refhost::FrameContext> frame(new refhost::FrameContext(1));
    EXPECT_EQ(effect->ProcessFrame(nullptr, nullptr, nullptr, frame.get(), nullptr, nullptr, nullptr),
              int32_t(0x80000005u));
    diag::setAssertionObserver(nullptr, nullptr);
    EXPECT_EQ(seen.reports, std::vector<std::string>{
                                "effectContext && frameContext && renderContext && output @Plugin_AVX2_Effect:292"});
}

TEST_F(RenderEntry, OneMessagePerRejectedImage) {
    Messages seen;
    platform::setMessageObserver(&Messages::observe, &seen);
    ImageSpec threeChannels{6, 4};
    threeChannels.channels = 3;
    ImageSpec notRgb{6, 4};
    notRgb.colorSpace = AVX_COLORSPACE_YUV;
    ImageSpec neither = notRgb;
    neither.channels = 3;
    testing::internal::CaptureStderr();
    EXPECT_EQ(render(threeChannels, 0, 0), int32_t(0x80000008u));
    EXPECT_EQ(render(notRgb, 0, 0), int32_t(0x80000008u));
    EXPECT_EQ(render(neither, 0, 0), int32_t(0x80000008u));
    testing::internal::GetCapturedStderr();
    platform::setMessageObserver(nullptr, nullptr);
    EXPECT_EQ(seen.texts, (std::vector<std::string>{"Invalid Image Format: Expected 4 channels",
                                                    "Invalid Image Format: Expected RGB colorspace",
                                                    "Invalid Image Format: Expected RGB colorspace"}));
}
