// Gate weave: the swing and its jolts, the black strip, failures and both depths, in every
// pixel format. Shifts come from the steps written out here with a generator of their own.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "TestSupport.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Pipeline.h"
#include "pipeline/Random.h"
#include "refhost/Faults.h"
#include "stages/tone/GateWeave.h"

using namespace refhost;
using namespace testing_support;

namespace {

template <class Tag>
constexpr PixelLayout kLayout = std::is_same_v<Tag, PIXEL_ARGB8>    ? PixelLayout::ARGB8
                                : std::is_same_v<Tag, PIXEL_BGRA8>  ? PixelLayout::BGRA8
                                : std::is_same_v<Tag, PIXEL_ARGB14> ? PixelLayout::ARGB16
                                                                    : PixelLayout::BGRA16;

// The shift of frame n: A cos(2 pi F n / 24) in single precision, then the jolt drawn from
// `state`, which is left where the stage must leave the thread's generator.
int32_t expectedShift(int32_t n, float F, float A, float N, uint32_t& state) {
    const auto unit = [&state] {
        state = uint32_t(uint64_t(state) * 214013u + 2531011u);
        return double((state >> 16) & 0x7FFF) / 32767.0;
    };
    const float angle = float(double(float(n) / 24.0f) * 360.0);
    float offset = float(std::cos(double(float(double(angle) * (std::numbers::pi / 180.0)) * F))) * A;
    const double u1 = unit();
    if (n != 0 && N > float(u1 * 100.0)) offset += float(unit() * (2.0 * A) - A);
    return int32_t(std::floor(double(offset) + 0.5));
}

// An opaque sample laid over the opaque black fill. The 16-bit fill's alpha is 16383, one
// short of white, so the blend mixes in 1/16384 of the sample: ((1 v + 8192) >> 14) +
// ((16383 v + 8192) >> 14), which is v except that 8192 becomes 8193.
uint32_t overFill(uint32_t v, bool wide) { return wide ? ((v + 8192) >> 14) + ((v * 16383 + 8192) >> 14) : v; }

std::vector<uint32_t> snapshot(const Image& im) {
    std::vector<uint32_t> v;
    for (uint32_t y = 0; y < im.spec().height; ++y)
        for (uint32_t x = 0; x < im.spec().width; ++x)
            for (int c = 0; c < 4; ++c) v.push_back(im.channel(x, y, c));
    return v;
}

template <class Tag>
struct Rig {
    static constexpr uint32_t w = 21, h = 6;
    RegisteredEffect reg;
    std::unique_ptr<FrameSetup> f;

    explicit Rig(uint32_t seed = 3, bool opaque = true, PixelLayout layout = kLayout<Tag>) {
        ImageSpec spec;
        spec.width = w, spec.height = h, spec.layout = layout, spec.rowPadding = 12;
        f = std::make_unique<FrameSetup>(reg.host.get(), spec, reg.defaults());
        f->output->fillRandom(seed);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                if (opaque) f->output->setChannel(x, y, 0, f->output->white());
                if (x == 3 && kIs16Bit<Tag>) f->output->setChannel(x, y, 2, 8192);
            }
    }
    Image& out() { return *f->output.get(); }
    Status weave(int32_t frame, float F, float A, float N) {
        f->services->mFrameNumber = frame;
        RasterHolder in(f->services->inputRaster(0), f->services.get(), false, true);
        RasterHolder out(f->services->outputRaster(), f->services.get(), false, true);
        return GateWeaveStage<Tag>(::FrameContext{}, *f->services, in, out, F, A, N);
    }
    // The output is the opaque picture `before` moved by s, over opaque black.
    void expectShifted(const std::vector<uint32_t>& before, int64_t s) {
        const bool wide = kIs16Bit<Tag>;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const int64_t from = int64_t(x) - s;
                const bool picture = from >= 0 && from < int64_t(w);
                for (int c = 0; c < 4; ++c) {
                    const uint32_t v = before[size_t((y * w + (picture ? from : 0)) * 4 + c)];
                    const uint32_t want = !picture ? (c == 0 ? fromByte<Tag>(255) : 0) : c == 0 ? v : overFill(v, wide);
                    ASSERT_EQ(out().channel(x, y, c), want) << "shift " << s << " at " << x << "," << y << " channel " << c;
                }
            }
        EXPECT_TRUE(out().guardsIntact());
    }
};

}  // namespace

template <class Tag>
class GateWeaveTyped : public ::testing::Test {};
using AllTags = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;
TYPED_TEST_SUITE(GateWeaveTyped, AllTags);

TYPED_TEST(GateWeaveTyped, SwingOfTheWorkedExamples) {
    const struct {
        int32_t frame;
        float noise;
        int64_t shift;
    } cases[] = {{0, 100, 5}, {0, 0, 5}, {48, 0, -5}, {24, 0, 0}};  // 24: cos(pi / 2), rounded
    for (const auto& c : cases) {
        Rig<TypeParam> rig;
        const std::vector<uint32_t> before = snapshot(rig.out());
        rng::threadState() = 777;
        ASSERT_EQ(rig.weave(c.frame, 0.25f, 5, c.noise), STATUS_OK);
        rig.expectShifted(before, c.shift);
        // Frame 0 never jolts, whatever the noise frequency: its one draw is the only one.
        EXPECT_EQ(rng::threadState(), uint32_t(777u * 214013u + 2531011u)) << c.frame;
    }
}

TYPED_TEST(GateWeaveTyped, JoltsFollowTheThreadsGenerator) {
    std::mt19937 random(11);
    int jolts = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int32_t n = trial < 4 ? std::array{INT32_MIN, INT32_MAX, -1, 1}[size_t(trial)] : int32_t(random() % 2000) - 1000;
        const float F = std::uniform_real_distribution<float>(0, 2)(random), A = std::uniform_real_distribution<float>(0, 8)(random);
        const float N = trial % 3 == 0 ? 100.0f : std::uniform_real_distribution<float>(0, 100)(random);
        const uint32_t start = uint32_t(random());
        uint32_t state = start;
        const int32_t s = expectedShift(n, F, A, N, state);
        jolts += state != uint32_t(start * 214013u + 2531011u);
        Rig<TypeParam> rig{uint32_t(trial)};
        const std::vector<uint32_t> before = snapshot(rig.out());
        rng::threadState() = start;
        ASSERT_EQ(rig.weave(n, F, A, N), STATUS_OK);
        EXPECT_EQ(rng::threadState(), state) << "one draw, and a second for a jolt";
        rig.expectShifted(before, s);
    }
    EXPECT_GT(jolts, 20) << "noise frequency 100 jolts every frame but 0";
}

TYPED_TEST(GateWeaveTyped, AmplitudeZeroOnlyLaysThePictureOverBlack) {
    using Tag = TypeParam;
    for (int32_t frame : {0, 7, 48}) {
        Rig<Tag> opaque;
        const std::vector<uint32_t> before = snapshot(opaque.out());
        ASSERT_EQ(opaque.weave(frame, 0.25f, 0, 100), STATUS_OK);
        opaque.expectShifted(before, 0);
    }
    // Partly transparent pixels end up over the black: opaque, their colour scaled by their
    // alpha. The 8-bit over step divides by 255 where the scaling used 256 (one level off at
    // most) and rounds twice; in 16-bit the fill's missing 1/16384 of alpha adds up to 2.
    Rig<Tag> clear(9, false);
    const std::vector<uint32_t> before = snapshot(clear.out());
    ASSERT_EQ(clear.weave(5, 0.25f, 0, 0), STATUS_OK);
    const double W = clear.out().white();
    for (uint32_t y = 0; y < clear.h; ++y)
        for (uint32_t x = 0; x < clear.w; ++x) {
            const size_t i = (y * clear.w + x) * 4;
            EXPECT_GE(clear.out().channel(x, y, 0), W - 1);
            for (int c = 1; c < 4; ++c)
                EXPECT_NEAR(clear.out().channel(x, y, c), before[i + size_t(c)] * (before[i] / W), kIs16Bit<Tag> ? 3 : 2)
                    << x << "," << y << " alpha " << before[i];
        }
}

TYPED_TEST(GateWeaveTyped, ShiftsAsWideAsTheFrameLeaveItBlack) {
    const float W = float(Rig<TypeParam>::w), inf = std::numeric_limits<float>::infinity();
    for (float A : {W, -W, 3 * W, 1e30f, inf, -inf}) {
        Rig<TypeParam> rig;
        const std::vector<uint32_t> before = snapshot(rig.out());
        ASSERT_EQ(rig.weave(0, 0.25f, A, 0), STATUS_OK) << A;
        rig.expectShifted(before, int64_t(W) * 2);
    }
    Rig<TypeParam> rig;  // an amplitude that is not a number moves nothing
    const std::vector<uint32_t> before = snapshot(rig.out());
    ASSERT_EQ(rig.weave(3, 0.25f, std::numeric_limits<float>::quiet_NaN(), 100), STATUS_OK);
    rig.expectShifted(before, 0);
}

TYPED_TEST(GateWeaveTyped, ARefusedCopyRasterChangesNothing) {
    Rig<TypeParam> rig;
    const std::vector<uint32_t> before = snapshot(rig.out());
    const int64_t live = rig.reg.host->memory().liveBlocks();
    rng::threadState() = 5;
    faults().reset();
    faults().failAllocationAt = 1;
    EXPECT_EQ(rig.weave(0, 0.25f, 5, 5), STATUS_NO_RASTER);
    faults().reset();
    EXPECT_EQ(snapshot(rig.out()), before);
    EXPECT_EQ(rig.reg.host->memory().liveBlocks(), live);
    EXPECT_EQ(rng::threadState(), 5u) << "no draw before the raster exists";
}

TEST(GateWeaveDepths, EightAndSixteenBitFramesShiftAlike) {
    for (uint32_t start : {1u, 99u, 4242u}) {
        Rig<PIXEL_BGRA8> eight(start);
        Rig<PIXEL_ARGB14> sixteen(start);
        for (uint32_t y = 0; y < eight.h; ++y)
            for (uint32_t x = 0; x < eight.w; ++x)
                for (int c = 0; c < 4; ++c)
                    sixteen.out().setChannel(x, y, c, c == 0 ? 16384 : widen8to16(uint8_t(eight.out().channel(x, y, c))));
        for (int32_t frame = 1; frame < 40; ++frame) {
            rng::threadState() = start;
            ASSERT_EQ(eight.weave(frame, 0.5f, 6, 60), STATUS_OK);
            rng::threadState() = start;
            ASSERT_EQ(sixteen.weave(frame, 0.5f, 6, 60), STATUS_OK);
            for (uint32_t y = 0; y < eight.h; ++y)
                for (uint32_t x = 0; x < eight.w; ++x)
                    for (int c = 1; c < 4; ++c)
                        ASSERT_EQ(sixteen.out().channel(x, y, c), overFill(widen8to16(uint8_t(eight.out().channel(x, y, c))), true))
                            << "frame " << frame << " at " << x << "," << y;
        }
    }
}

TEST(GateWeavePipeline, TheDriverPassesTheSettings) {
    RegisteredEffect reg;
    auto values = reg.defaults();
    const auto set = [&](int slot, double v) { values->set(*slotIdentifier(slot), values->track(*slotIdentifier(slot))->type, v); };
    set(68, 1), set(70, 0.5), set(71, 7), set(72, 100);
    Rig<PIXEL_ARGB14> direct(4);
    ImageSpec spec = direct.f->output->spec();
    FrameSetup f(reg.host.get(), spec, values);
    for (uint32_t y = 0; y < spec.height; ++y)
        for (uint32_t x = 0; x < spec.width; ++x)
            for (int c = 0; c < 4; ++c) f.input->setChannel(x, y, c, direct.out().channel(x, y, c));
    f.services->mFrameNumber = 13;
    rng::threadState() = 31;
    ASSERT_EQ(RenderFrame(*f.services), STATUS_OK);
    rng::threadState() = 31;
    ASSERT_EQ(direct.weave(13, 0.5f, 7, 100), STATUS_OK);
    EXPECT_EQ(snapshot(*f.output.get()), snapshot(direct.out()));
}
