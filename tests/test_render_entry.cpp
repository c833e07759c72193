// The render entry in-process: what it tells the pipeline about the frame, its check for
// missing objects, and the two image-format messages.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "lib/Common/Diagnostics.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/StageTable.h"
#include "refhost/Faults.h"

using namespace refhost;
using namespace testing_support;

namespace {

// What a stage saw of the host services.
struct Seen {
    double fieldFactor = 0, scaleX = 0, scaleY = 0, aspect = 0;
    int32_t frame = 0;
    int calls = 0;
};
Seen gSeen;

// Every report the entry makes, failed assertions and message boxes alike, in order.
std::vector<std::string> gReports;
void noteAssertion(const char* condition, const char* unit, int line, void*) {
    gReports.push_back(std::string("assertion: ") + condition + " @" + unit + ":" + std::to_string(line));
}
void noteMessage(const char* text, const char* title, void*) {
    gReports.push_back(std::string("message: ") + title + ": " + text);
}

Status recordingStage(const ::FrameContext&, PluginHost_API& host, RasterHolder&, RasterHolder& output, float) {
    gSeen = Seen{host.fieldFactor(),           host.scaleX(),      host.scaleY(),
                 host.pixelAspect(output.raster), host.frameNumber(), gSeen.calls + 1};
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
        gReports.clear();
        diag::setAssertionObserver(noteAssertion, nullptr);
        platform::setMessageObserver(noteMessage, nullptr);
        ASSERT_EQ(makeEffect(effect), 0);
    }
    void TearDown() override {
        diag::setAssertionObserver(nullptr, nullptr);
        platform::setMessageObserver(nullptr, nullptr);
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
        EXPECT_EQ(lastAskedLayout, layout) << "the input is asked for with the output's field layout";
        EXPECT_EQ(lastAskedFrame, 42);
    }
    overrideStageTable<PIXEL_BGRA8>(nullptr);
    EXPECT_TRUE(gReports.empty()) << "an ordinary frame reports nothing";
}

// Each object the entry needs, missing in turn (the other three given): the one assertion,
// no message box, 0x80000005, and nothing asked of the objects that were given.
TEST_F(RenderEntry, EachMissingObjectIsReportedAndNothingIsUsed) {
    AcfPtr<Image> input(new Image(ImageSpec{6, 4})), output(new Image(ImageSpec{6, 4}));
    output->fill(1, 2, 3, 4);
    RenderCallObjects objects(values, input.get(), output.get(), RenderCall{});
    for (int missing = 0; missing < 4; ++missing) {
        SCOPED_TRACE(missing);
        gReports.clear();
        faults().reset();
        EXPECT_EQ(effect->ProcessFrame(missing == 0 ? nullptr : objects.context.get(), nullptr, nullptr,
                                       missing == 1 ? nullptr : objects.frame.get(), nullptr,
                                       missing == 2 ? nullptr : objects.render.get(),
                                       missing == 3 ? nullptr : objects.output.get()),
                  int32_t(0x80000005u));
        EXPECT_EQ(faults().calls.load(), 0);
        EXPECT_EQ(gReports, std::vector<std::string>{"assertion: effectContext && frameContext && renderContext && "
                                                     "output @Plugin_AVX2_Effect:292"});
    }
    EXPECT_EQ(output->channel(5, 3, 3), 4u) << "output untouched";
}

// An image it cannot process: one message box (the colour-space check first), 0x80000008,
// the output untouched and every host object obtained on the way given back.
TEST_F(RenderEntry, OneMessagePerRejectedImage) {
    const struct {
        int32_t colorSpace, channels;
        const char* report;
    } cases[] = {{AVX_COLORSPACE_RGB, 3, "message: Invalid Image Format: Expected 4 channels"},
                 {AVX_COLORSPACE_YUV, 4, "message: Invalid Image Format: Expected RGB colorspace"},
                 {AVX_COLORSPACE_YUV, 3, "message: Invalid Image Format: Expected RGB colorspace"}};
    for (const auto& c : cases) {
        ImageSpec shape{6, 4};
        shape.colorSpace = c.colorSpace;
        shape.channels = c.channels;
        gReports.clear();
        const long objectsBefore = liveObjects();
        {
            AcfPtr<Image> input(new Image(shape)), output(new Image(shape)), untouched(new Image(shape));
            input->fillRandom(1);
            output->fill(1, 2, 3, 4);
            untouched->fill(1, 2, 3, 4);
            RenderCallObjects objects(values, input.get(), output.get(), RenderCall{});
            testing::internal::CaptureStderr();
            EXPECT_EQ(objects.process(effect.get()), int32_t(0x80000008u)) << c.report;
            testing::internal::GetCapturedStderr();
            EXPECT_TRUE(output->samePixels(*untouched.get())) << c.report;
        }
        EXPECT_EQ(liveObjects(), objectsBefore) << c.report;
        EXPECT_EQ(gReports, std::vector<std::string>{c.report});
    }
}
