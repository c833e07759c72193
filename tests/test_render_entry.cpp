// The render entry in-process: what it tells the pipeline about the frame, its check for
// missing objects, and the two image-format messages.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "lib/Common/Diagnostics.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/StageTable.h"

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
    gSeen = Seen{host.fieldFactor(),          host.scaleX(),      host.scaleY(), host.pixelAspect(output.raster),
                 host.definitionContext().time, host.frameNumber(), gSeen.calls + 1};
    return STATUS_OK;
}

class RenderEntry : public InProcessEffect {
protected:
    AcfPtr<IAVXEffect> effect;
    std::shared_ptr<ParameterValues> values = reg.defaults();
    uint32_t lastAskedLayout = 0;
    int32_t lastAskedFrame = 0;

    void SetUp() override {
        InProcessEffect::SetUp();
        ASSERT_EQ(makeEffect(effect), 0);
    }
    void TearDown() override {
        effect.reset();
        InProcessEffect::TearDown();
    }
    ACFRESULT render(const ImageSpec& shape, const RenderCall& call) {
        AcfPtr<Image> input(new Image(shape)), output(new Image(shape));
        RenderCallObjects objects(values, input.get(), output.get(), call);
        const ACFRESULT r = objects.process(effect.get());
        lastAskedLayout = objects.input->askedFieldLayout;
        lastAskedFrame = objects.input->askedFrame;
        return r;
    }
};

}  // namespace

TEST_F(RenderEntry, FieldLayoutTwoRendersWithFieldFactorTwo) {
    StageTable table = stageTable<PIXEL_BGRA8>();
    table.fading = recordingStage;
    overrideStageTable<PIXEL_BGRA8>(&table);
    values->set(*slotIdentifier(0), TYPE_Boolean, 1);

    for (uint32_t layout : {0u, 1u, 2u, 3u}) {
        ImageSpec shape{6, 4};
        shape.fieldLayout = layout;
        shape.pixelAspect = 1.5f;
        gSeen = Seen{};
        EXPECT_EQ(render(shape, RenderCall{42, 41.5, 7, {1, 2, 1, 2}}), ACF_OK);
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
    std::vector<std::string> seen;
    diag::setAssertionObserver(
        [](const char* condition, const char* unit, int line, void* user) {
            static_cast<std::vector<std::string>*>(user)->push_back(std::string(condition) + " @" + unit + ":" +
                                                                    std::to_string(line));
        },
        &seen);
    AcfPtr<refhost::FrameContext> frame(new refhost::FrameContext(1));
    EXPECT_EQ(effect->ProcessFrame(nullptr, nullptr, nullptr, frame.get(), nullptr, nullptr, nullptr),
              int32_t(0x80000005u));
    diag::setAssertionObserver(nullptr, nullptr);
    EXPECT_EQ(seen, std::vector<std::string>{
                                "effectContext && frameContext && renderContext && output @Plugin_AVX2_Effect:292"});
}

TEST_F(RenderEntry, OneMessagePerRejectedImage) {
    std::vector<std::string> seen;
    platform::setMessageObserver(
        [](const char* text, const char* title, void* user) {
            static_cast<std::vector<std::string>*>(user)->push_back(std::string(title) + ": " + text);
        },
        &seen);
    ImageSpec threeChannels{6, 4};
    threeChannels.channels = 3;
    ImageSpec notRgb{6, 4};
    notRgb.colorSpace = AVX_COLORSPACE_YUV;
    ImageSpec neither = notRgb;
    neither.channels = 3;
    testing::internal::CaptureStderr();
    EXPECT_EQ(render(threeChannels, RenderCall{}), int32_t(0x80000008u));
    EXPECT_EQ(render(notRgb, RenderCall{}), int32_t(0x80000008u));
    EXPECT_EQ(render(neither, RenderCall{}), int32_t(0x80000008u));
    testing::internal::GetCapturedStderr();
    platform::setMessageObserver(nullptr, nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"Invalid Image Format: Expected 4 channels",
                                                    "Invalid Image Format: Expected RGB colorspace",
                                                    "Invalid Image Format: Expected RGB colorspace"}));
}
