// The frame's road through the dispatcher and the driver: pass-through, unsupported
// formats, stage failures and exceptions, the random draws of every gate, post contrast.
#include <cmath>
#include <stdexcept>
#include <thread>

#include "TestSupport.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Pipeline.h"
#include "pipeline/PostContrast.h"
#include "pipeline/Random.h"
#include "pipeline/StageTable.h"
#include "sdk/sdk_ids.h"

using namespace refhost;
using namespace testing_support;

namespace {

// The generator written out independently: x' = 214013 x + 2531011 mod 2^32.
uint32_t advance(uint32_t state, int draws) {
    for (int i = 0; i < draws; ++i) state = uint32_t(uint64_t(state) * 214013u + 2531011u);
    return state;
}

struct PipelineRun {
    RegisteredEffect reg;
    std::shared_ptr<ParameterValues> values = reg.defaults();
    InstanceData data;
    std::unique_ptr<FrameSetup> frame;

    explicit PipelineRun(PixelLayout layout, uint32_t w = 13, uint32_t h = 7) {
        ImageSpec shape;
        shape.width = w;
        shape.height = h;
        shape.layout = layout;
        shape.rowPadding = 12;
        frame = std::make_unique<FrameSetup>(reg.host.get(), shape, values);
        frame->input->fillRandom(w * 31 + h);
        EXPECT_EQ(createInstanceData(*frame->services, data), 0);
        frame->services->setInstanceData(&data);
    }
    ~PipelineRun() { destroyInstanceData(*frame->services, data); }

    void set(int slot, double v) {
        const acfUID& id = *slotIdentifier(slot);
        values->set(id, values->track(id)->type, v);
    }
    Status render() { return RenderFrame(*frame->services); }
};

Status throwingStage(const ::FrameContext&, PluginHost_API& host, RasterHolder&, RasterHolder& output, float) {
    host.clearImage(output.raster);  // damage the frame first
    throw std::runtime_error("stage failed");
}
Status throwingStatus(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float) {
    throw int32_t(77);
}
Status failingStage(const ::FrameContext&, PluginHost_API& host, RasterHolder&, RasterHolder& output, float) {
    host.clearImage(output.raster);
    return 9;
}

template <class Tag>
void withStage(Status (*fading)(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float),
               PipelineRun& run, Status expected, bool passesThrough) {
    StageTable table = stageTable<Tag>();
    table.fading = fading;
    overrideStageTable<Tag>(&table);
    run.set(0, 1);
    run.set(74, 1);  // post contrast must not run after a failing or throwing stage
    EXPECT_EQ(run.render(), expected);
    overrideStageTable<Tag>(nullptr);
    if (passesThrough)
        EXPECT_TRUE(run.frame->output->samePixels(*run.frame->input.get()));
    else
        EXPECT_EQ(run.frame->output->channel(3, 3, 1), 0u);
}

}  // namespace

class Pipeline : public ::testing::TestWithParam<PixelLayout> {};

TEST_P(Pipeline, AllStagesOffCopiesTheFrame) {
    PipelineRun run(GetParam());
    run.frame->output->fillRandom(99);
    EXPECT_EQ(run.render(), STATUS_OK);
    EXPECT_TRUE(run.frame->output->samePixels(*run.frame->input.get()));
    EXPECT_TRUE(run.frame->output->guardsIntact());
}

TEST_P(Pipeline, StageFailuresAndExceptions) {
    using StageFn = Status (*)(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
    auto check = [](PixelLayout layout, StageFn stage, Status expected, bool passesThrough) {
        PipelineRun run(layout);
        switch (layout) {
        case PixelLayout::ARGB8: withStage<PIXEL_ARGB8>(stage, run, expected, passesThrough); break;
        case PixelLayout::BGRA8: withStage<PIXEL_BGRA8>(stage, run, expected, passesThrough); break;
        case PixelLayout::ARGB16: withStage<PIXEL_ARGB14>(stage, run, expected, passesThrough); break;
        case PixelLayout::BGRA16: withStage<PIXEL_BGRA14>(stage, run, expected, passesThrough); break;
        }
    };
    // Any exception from a stage: the source frame passes through and the frame succeeds.
    check(GetParam(), throwingStage, 0, true);
    check(GetParam(), throwingStatus, 0, true);
    // A non-zero status ends the frame as the stage left it; post contrast does not run.
    check(GetParam(), failingStage, 9, false);
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, Pipeline, ::testing::ValuesIn(kAllLayouts));

TEST(PipelineDispatch, UnrenderedFormatsLeaveTheOutputAlone) {
    RegisteredEffect reg;
    for (int32_t space : {AVX_COLORSPACE_YUV}) {
        ImageSpec shape;
        shape.width = 5;
        shape.height = 4;
        shape.colorSpace = space;
        FrameSetup f(reg.host.get(), shape, reg.defaults());
        f.input->fillRandom(1);
        f.output->fill(1, 2, 3, 4);
        RasterDesc d;
        f.services->describeOutput(&d);
        EXPECT_EQ(d.format, 16u);
        EXPECT_EQ(RenderFrame(*f.services), STATUS_UNSUPPORTED);
        EXPECT_EQ(f.output->channel(2, 2, 3), 4u);
        EXPECT_EQ(f.output->channel(0, 0, 0), 1u);
    }
}

TEST(PipelineDispatch, GatesDrawExactlyTheirShare) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, double>> settings;
        int draws;
    } cases[] = {
        {"nothing on", {}, 0},
        {"funk at opacity 0", {{4, 1}, {6, 0.0}}, 0},
        {"splotches that do not run", {{8, 1}, {13, 0.0}}, 1},
        {"dust choosing neither kind", {{15, 1}, {20, 0.0}}, 2},
        {"flicker with amount 0", {{22, 1}, {25, 0}, {24, 1.0}}, 1},
        {"flicker that does not fire", {{22, 1}, {24, 0.0}}, 1},
        {"all three gates", {{8, 1}, {13, 0.0}, {15, 1}, {20, 0.0}, {22, 1}, {25, 0}}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PipelineRun run(PixelLayout::BGRA8);
        for (auto [slot, v] : c.settings) run.set(slot, v);
        rng::threadState() = 12345;
        EXPECT_EQ(run.render(), STATUS_OK);
        EXPECT_EQ(rng::threadState(), advance(12345, c.draws));
    }
}

TEST(RandomSource, DrawsAndSeeding) {
    rng::threadState() = 1;
    // The C runtime's first values from seed 1.
    EXPECT_EQ(rng::Draw(), 41);
    EXPECT_EQ(rng::Draw(), 18467);
    EXPECT_EQ(rng::Draw(), 6334);
    rng::threadState() = 0;
    EXPECT_EQ(rng::RandomUnit(), double((2531011u >> 16) & 0x7FFF) / 32767.0);
    EXPECT_EQ(rng::seedFromFrameNumber(-17), 17u);
    EXPECT_EQ(rng::seedFromFrameNumber(INT32_MIN), 2147483648u);
    uint32_t otherThread = 0;
    std::thread([&] { otherThread = rng::threadState(); }).join();
    EXPECT_EQ(otherThread, 1u) << "every thread starts at 1";
}

TEST(PostContrast, EightBitCurves) {
    uint8_t t[3][256];
    uint8_t* tables[3] = {t[0], t[1], t[2]};
    const struct {
        double c;
        int in, out;
    } cases[] = {
        {0.0, 200, 199}, {0.0, 128, 127}, {0.0, 127, 127}, {0.0, 50, 50},     {0.27, 200, 226}, {0.27, 50, 21},
        {0.27, 128, 127}, {0.27, 0, 0},   {0.27, 255, 255}, {1.0, 127, 0},    {1.0, 128, 254},  {1.0, 129, 255},
        {1.0, 0, 0},      {-1.0, 0, 127}, {-1.0, 255, 127}, {-1.0, 128, 127},
    };
    for (const auto& c : cases) {
        ContrastCurve<uint8_t>(255, c.c, tables);
        EXPECT_EQ(t[0][c.in], c.out) << "c " << c.c << " at " << c.in;
        EXPECT_EQ(t[1][c.in], c.out);
        EXPECT_EQ(t[2][c.in], c.out);
    }
    ContrastCurve<uint8_t>(255, 1.0, tables);
    for (int i = 0; i <= 127; ++i) EXPECT_EQ(t[0][i], 0) << i;
    for (int i = 129; i <= 255; ++i) EXPECT_EQ(t[0][i], 255) << i;
}

TEST(PostContrast, SixteenBitIdentityAndFlatGrey) {
    std::vector<uint16_t> t(3 * 16385);
    uint16_t* tables[3] = {&t[0], &t[16385], &t[2 * 16385]};
    ContrastCurve<uint16_t>(16384, 0.0, tables);
    for (int i = 0; i <= 16384; ++i) ASSERT_EQ(tables[2][i], i);
    ContrastCurve<uint16_t>(16384, -1.0, tables);
    for (int i = 0; i <= 16384; i += 97) ASSERT_EQ(tables[0][i], 8192);
}

TEST(PostContrast, RunsLastOnColourAndNeverOnAlpha) {
    for (PixelLayout layout : kAllLayouts) {
        PipelineRun run(layout);
        run.set(74, 1);
        run.set(76, 27);
        EXPECT_EQ(run.render(), STATUS_OK);
        const bool sixteen = layout == PixelLayout::ARGB16 || layout == PixelLayout::BGRA16;
        const double white = sixteen ? 16384 : 255, half = white / 2, k = 1 / (1 - (white - 1) * 0.27 / white);
        for (uint32_t y = 0; y < 7; ++y)
            for (uint32_t x = 0; x < 13; ++x) {
                EXPECT_EQ(run.frame->output->channel(x, y, 0), run.frame->input->channel(x, y, 0));
                for (int c = 1; c < 4; ++c) {
                    const double v = std::trunc((int(run.frame->input->channel(x, y, c)) - half) * k);
                    const double expected = std::clamp(std::trunc(v + half), 0.0, white);
                    ASSERT_EQ(run.frame->output->channel(x, y, c), uint32_t(expected));
                }
            }
    }
}
