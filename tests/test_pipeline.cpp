// The frame's road through the dispatcher and the driver: pass-through, unsupported
// formats, stage failures and exceptions, the random draws of every gate, post contrast.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>

#include "StageTestSupport.h"
#include "lib/Common/ChannelTables.h"
#include "lib/Common/Kernels.h"
#include "pipeline/PostContrast.h"
#include "pipeline/Random.h"
#include "pipeline/StageTable.h"
#include "sdk/sdk_ids.h"

using namespace stage_support;

namespace {

// The whole chain on a 13 x 7 frame, its settings by parameter slot.
struct PipelineRun : ChainFrame {
    explicit PipelineRun(PixelLayout layout) : ChainFrame(layout, 13, 7, 13 * 31 + 7, {}) {}
    void set(int slot, double v) {
        const acfUID& id = *slotIdentifier(slot);
        values->set(id, values->track(id)->type, v);
    }
};

using FadingStage = Status (*)(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);

Status throwingStage(const ::FrameContext&, PluginHost_API& host, RasterHolder&, RasterHolder& output, float) {
    host.clearImage(output.raster);  // damage the frame first
    throw std::runtime_error("stage failed");
}
Status throwingStatus(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float) {
    throw int32_t(77);
}
// Leaves a colour post contrast would move (200 -> 226, 60 -> 35 at the default 27).
template <class Tag>
Status failingStage(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder& output, float) {
    FillRaster<Tag>(output.describe(), 200, 60, 128, 255);
    return 9;
}

// The gated stages stand in by what they were called with.
std::string gCalls;
Status splotchesCalled(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, int32_t, float, float) {
    gCalls += "splotches ";
    return 0;
}
Status dustCalled(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool black, bool white, float,
                  int32_t, int32_t) {
    gCalls += std::string("dust") + (black ? " black" : "") + (white ? " white" : "") + " ";
    return 0;
}
Status flickerCalled(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float amount, HandedTables&) {
    gCalls += "flicker " + std::to_string(amount) + " ";
    return 0;
}
Status vignetteCalled(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float size, float,
                      const HandedTables&) {
    gCalls += "vignette " + std::to_string(size) + " ";
    return 0;
}
Status displacementCalled(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float amount) {
    gCalls += "displacement " + std::to_string(amount) + " ";
    return 0;
}

template <class Tag>
class Pipeline : public ::testing::Test {};
TYPED_TEST_SUITE(Pipeline, AllFormats);

}  // namespace

TYPED_TEST(Pipeline, AllStagesOffCopiesTheFrame) {
    PipelineRun run(kLayout<TypeParam>);
    run.out().fillRandom(99);
    EXPECT_EQ(run.render(), STATUS_OK);
    EXPECT_TRUE(run.out().samePixels(run.in()));
    EXPECT_TRUE(run.out().guardsIntact());
}

// Fading, first in the chain, writes every output pixel: what the output held never shows.
TYPED_TEST(Pipeline, FadingFramesDoNotDependOnTheOutputBefore) {
    for (const double amount : {0.0, 1.0, 3.0, 60.0, 200.0, 1e6}) {
        PipelineRun zeros(kLayout<TypeParam>), noise(kLayout<TypeParam>);
        for (PipelineRun* run : {&zeros, &noise}) {
            run->set(0, 1);
            run->set(2, amount);
        }
        zeros.out().fill(0, 0, 0, 0);
        noise.out().fillRandom(5);
        ASSERT_EQ(zeros.render(), STATUS_OK);
        ASSERT_EQ(noise.render(), STATUS_OK);
        EXPECT_TRUE(zeros.out().samePixels(noise.out())) << "amount " << amount;
        EXPECT_FALSE(zeros.out().samePixels(zeros.in())) << "amount " << amount;
    }
}

TYPED_TEST(Pipeline, StageFailuresAndExceptions) {
    using Tag = TypeParam;
    const struct {
        FadingStage stage;
        Status expected;
        bool passesThrough;
    } cases[] = {
        // Any exception from a stage: the source frame passes through and the frame succeeds.
        {throwingStage, 0, true},
        {throwingStatus, 0, true},
        // A non-zero status ends the frame as the stage left it; post contrast does not run.
        {failingStage<Tag>, 9, false},
    };
    for (const auto& c : cases) {
        PipelineRun run(kLayout<Tag>);
        run.set(0, 1);
        run.set(74, 1);  // post contrast must not run after a failing or throwing stage
        StageTable table = stageTable<Tag>();
        table.fading = c.stage;
        overrideStageTable<Tag>(&table);
        EXPECT_EQ(run.render(), c.expected);
        overrideStageTable<Tag>(nullptr);
        if (c.passesThrough) {
            EXPECT_TRUE(run.out().samePixels(run.in()));
            continue;
        }
        const uint32_t left[4] = {fromByte<Tag>(255), fromByte<Tag>(200), fromByte<Tag>(60), fromByte<Tag>(128)};
        for (uint32_t y = 0; y < 7; ++y)
            for (uint32_t x = 0; x < 13; ++x)
                for (int ch = 0; ch < 4; ++ch) ASSERT_EQ(run.out().channel(x, y, ch), left[ch]) << x << "," << y;
    }
}

TEST(PipelineDispatch, UnrenderedFormatsLeaveTheOutputAlone) {
    RegisteredEffect reg;
    ImageSpec shape{5, 4};
    shape.colorSpace = AVX_COLORSPACE_YUV;
    FrameSetup f(reg.host.get(), shape, reg.defaults());
    f.input->fillRandom(1);
    f.output->fill(1, 2, 3, 4);  // described with a code that is not rendered: test_host_raster
    EXPECT_EQ(RenderFrame(*f.services), STATUS_UNSUPPORTED);
    EXPECT_EQ(f.output->channel(2, 2, 3), 4u);
    EXPECT_EQ(f.output->channel(0, 0, 0), 1u);
}

// Each gate at its edge: draws compare strictly, so 32767 (exactly 1.0) keeps splotches at 100
// and dust and flicker at 1 away, 32766 lets them in; each dust kind has its own draw. A size
// or amount of 0 keeps vignette and displacement away. Flicker's gate draws even at amount 0;
// funk draws nothing. Every gate draws its share and nothing more.
TEST(PipelineDispatch, GatesAtTheirEdges) {
    const struct {
        const char* calls;
        std::vector<std::pair<int, double>> settings;
        std::vector<int32_t> draws;
    } cases[] = {
        {"", {}, {}},
        {"", {{4, 1}, {6, 0.0}}, {}},
        {"", {{22, 1}, {24, 1}, {25, 0}}, {0}},
        {"", {{8, 1}, {13, 0.0}, {15, 1}, {20, 0.0}, {22, 1}, {25, 0}}, {0, 0, 0, 0}},
        {"", {{8, 1}, {13, 100}}, {32767}},
        {"splotches ", {{8, 1}, {13, 100}}, {32766}},
        {"", {{15, 1}, {20, 1}}, {32767, 32767}},
        {"dust white ", {{15, 1}, {20, 1}}, {32767, 32766}},
        {"dust black ", {{15, 1}, {20, 1}}, {32766, 32767}},
        {"", {{22, 1}, {24, 1}, {25, 10}}, {32767}},
        {"flicker 10.000000 ", {{22, 1}, {24, 1}, {25, 10}}, {32766}},
        {"", {{27, 1}, {29, 0}}, {}},
        {"", {{27, 1}, {29, -3}}, {}},
        {"vignette 0.001000 ", {{27, 1}, {29, 0.001}}, {}},
        {"", {{32, 1}, {34, 0}}, {}},
        {"", {{32, 1}, {34, -1}}, {}},
        {"displacement 0.001000 ", {{32, 1}, {34, 0.001}}, {}},
    };
    StageTable table = stageTable<PIXEL_BGRA8>();
    table.splotches = splotchesCalled, table.dust = dustCalled, table.flicker = flickerCalled;
    table.vignette = vignetteCalled, table.displacement = displacementCalled;
    overrideStageTable<PIXEL_BGRA8>(&table);
    for (const auto& c : cases) {
        PipelineRun run(PixelLayout::BGRA8);
        for (auto [slot, v] : c.settings) run.set(slot, v);
        const uint32_t start = c.draws.empty() ? 12345 : stateBefore(uint32_t(c.draws[0]), c.draws.size() > 1 ? c.draws[1] : -1);
        for (size_t i = 0; i < std::min<size_t>(c.draws.size(), 2); ++i)
            ASSERT_EQ(advance(start, int(i) + 1) >> 16 & 0x7FFF, uint32_t(c.draws[i]));
        rng::threadState() = start;
        gCalls.clear();
        EXPECT_EQ(run.render(), STATUS_OK);
        EXPECT_EQ(gCalls, c.calls) << "case " << &c - cases;
        EXPECT_EQ(rng::threadState(), advance(start, int(c.draws.size())));
    }
    overrideStageTable<PIXEL_BGRA8>(nullptr);
}

TEST(RandomSource, DrawsAndSeeding) {
    rng::threadState() = 1;
    // The C runtime's first values from seed 1.
    EXPECT_EQ(rng::Draw(), 41);
    EXPECT_EQ(rng::Draw(), 18467);
    EXPECT_EQ(rng::Draw(), 6334);
    rng::threadState() = 0;
    EXPECT_EQ(rng::RandomUnit(), double((2531011u >> 16) & 0x7FFF) / 32767.0);
    EXPECT_EQ(rng::seedFromFrameNumber(-17), 17u);  // INT32_MIN and its neighbours: test_host_limits
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
        for (const uint8_t* table : tables) EXPECT_EQ(table[c.in], c.out) << "c " << c.c << " at " << c.in;
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

TYPED_TEST(Pipeline, PostContrastRunsLastOnColourAndNeverOnAlpha) {
    PipelineRun run(kLayout<TypeParam>);
    run.set(74, 1);
    run.set(76, 27);
    EXPECT_EQ(run.render(), STATUS_OK);
    const double white = kIs16Bit<TypeParam> ? 16384 : 255, half = white / 2, k = 1 / (1 - (white - 1) * 0.27 / white);
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 13; ++x) {
            EXPECT_EQ(run.out().channel(x, y, 0), run.in().channel(x, y, 0));
            for (int c = 1; c < 4; ++c) {
                const double v = std::trunc((int(run.in().channel(x, y, c)) - half) * k);
                const double expected = std::clamp(std::trunc(v + half), 0.0, white);
                ASSERT_EQ(run.out().channel(x, y, c), uint32_t(expected));
            }
        }
}
