// Vignette: worked examples, every pixel by its distance from the centre, foreign parameters,
// the instance's memo, flicker's tables in its pass, both depths, and the chain.
#include <cmath>
#include <limits>
#include <tuple>

#include "StageTestSupport.h"
#include "lib/Common/simd/Cpu.h"
#include "pipeline/Random.h"
#include "stages/tone/Flicker.h"
#include "stages/tone/Vignette.h"

using namespace stage_support;

namespace {

// The stage's result by its definition, pixel by pixel. A pixel's distance per axis is
// |x - cx| + (halfW - cx) (half a pixel more on odd sizes); past the inner radius the multiplier
// falls linearly to 1 - intensity at the corner distance (ratio narrowed to float); its gamma
// step is trunc(1000 m) - 1 in float, at least 0; values go through v' = W (v / W)^(1 / g)
// rounded (8-bit through the float table entry). Alpha stays.
template <class Tag>
std::vector<uint32_t> vignetted(const Image& in, float size, float intensity) {
    const uint32_t w = in.shape().width, h = in.shape().height;
    const float halfW = float(w) * 0.5f, halfH = float(h) * 0.5f;
    const int64_t cx = int64_t(halfW), cy = int64_t(halfH);
    const float maxR = float(std::sqrt(double(halfW) * halfW + double(halfH) * halfH)), inner = size / 100.0f * maxR;
    const double W = Tag::white;
    std::vector<uint32_t> out;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const double dx = double(std::abs(int64_t(x) - cx)) + double(halfW - float(cx));
            const double dy = double(std::abs(int64_t(y) - cy)) + double(halfH - float(cy));
            const double d = std::sqrt(dx * dx + dy * dy);
            double m = 1.0;
            if (d > inner) {
                m = 1.0 - double(intensity);
                if (d <= maxR) m += (1.0 - m) * double(float((double(maxR) - d) / double(maxR - inner)));
            }
            const double g = double(float(std::max(int(1000.0f * float(m)) - 1, 0) + 1) / 1000.0f);
            for (int c = 0; c < 4; ++c) {
                const double v = in.channel(x, y, c);
                if (c == 0 || float(m) == 1.0f)
                    out.push_back(uint32_t(v));
                else if (kIs16Bit<Tag>)
                    out.push_back(uint32_t(std::min(W * std::pow(v / W, 1.0 / g) + 0.5, W)));
                else
                    out.push_back(uint32_t(std::min(double(float(W * std::pow(v / W, 1.0 / g))) + 0.5, W)));
            }
        }
    return out;
}

// The stage run on f's output, which must come out as vignetted() says, guards intact.
template <class Tag>
void expectVignetted(StageFrame& f, float size, float intensity) {
    ASSERT_EQ(f.run(&VignetteStage<Tag>, size, intensity), STATUS_OK);
    EXPECT_EQ(snapshot(f.out()), vignetted<Tag>(f.in(), size, intensity));
    EXPECT_TRUE(f.out().guardsIntact());
}

}  // namespace

template <class Tag>
class Vignette : public ::testing::Test {};
TYPED_TEST_SUITE(Vignette, AllFormats);

// Defaults (size 40, intensity 0.7): at the corner m = 0.3, mid grey 255 (128 / 255)^(1 / 0.3)
// = 25.6 -> 26, in 16-bit 1625.499 -> 1625. Half way up the left edge of 64 x 36, m = 0.4498,
// gamma step 0.449. Black and white never move, alpha is never touched.
TYPED_TEST(Vignette, DefaultsWorkedAtTheCorner) {
    using Tag = TypeParam;
    const uint32_t W = Tag::white, grey = kIs16Bit<Tag> ? 8192 : 128;
    StageFrame f(kLayout<Tag>, 64, 36);
    f.in().fill(W / 3, grey, 0, W);
    f.start();
    ASSERT_EQ(f.run(&VignetteStage<Tag>, 40.0f, 0.7f), STATUS_OK);
    EXPECT_EQ(f.out().channel(0, 0, 1), kIs16Bit<Tag> ? 1625u : 26u);
    EXPECT_EQ(f.out().channel(0, 18, 1), uint32_t(std::trunc(W * std::pow(double(grey) / W, 1 / 0.449) + 0.5)));
    for (uint32_t y = 0; y < 36; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            ASSERT_EQ(f.out().channel(x, y, 0), W / 3);
            ASSERT_EQ(f.out().channel(x, y, 2), 0u);
            ASSERT_EQ(f.out().channel(x, y, 3), W);
        }
}

// Every pixel as its distance says, on even and odd sizes, one row or column, and frames whose
// corner distance narrows below the corner pixels' exact distance (16 x 7 at size 100: they
// take 1 - intensity; 3 x 79 and 5 x 15: the ratio's narrowing decides a step). The same
// without the instance's table, and from a host that refuses all of its memory.
TYPED_TEST(Vignette, EveryPixelByItsDistanceFromTheCentre) {
    using Tag = TypeParam;
    ASSERT_GT(std::sqrt(8.0 * 8.0 + 3.5 * 3.5), double(float(std::sqrt(8.0 * 8.0 + 3.5 * 3.5))));
    const struct {
        uint32_t w, h;
        float size, intensity;
    } cases[] = {{64, 36, 40, 0.7f}, {33, 21, 40, 0.7f}, {41, 30, 25, 0.8f}, {40, 31, 10, 1.0f}, {90, 60, 60, 0.5f},
                 {7, 1, 20, 0.9f},   {1, 9, 20, 0.9f},   {16, 7, 100, 0.7f}, {3, 3, 1, 0.3f},
                 {3, 79, 40, 0.7f},  {5, 15, 25, 0.3f},  {45, 32, 30, 0.85f}};
    for (const auto k : cases)
        for (int way = 0; way < 3; ++way) {
            SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " size " << k.size << " intensity " << k.intensity
                                            << (way == 1 ? " without the instance's table" : way == 2 ? " without host memory" : ""));
            StageFrame f(kLayout<Tag>, k.w, k.h, k.w * 7 + k.h, way != 1);
            const int64_t live = f.liveBlocks();
            RefusedAllocation refusal(way == 2 ? 1 : 0, true);
            expectVignetted<Tag>(f, k.size, k.intensity);
            EXPECT_EQ(f.liveBlocks(), live);
        }
}

// Intensity 0 keeps every multiplier at 1; size 100 puts every pixel inside the inner radius.
TYPED_TEST(Vignette, IntensityZeroAndFullSizeLeaveTheFrame) {
    using Tag = TypeParam;
    const struct {
        uint32_t w, h;
        float size, intensity;
    } cases[] = {{40, 30, 40, 0}, {41, 31, 1, 0}, {64, 64, 10, 0}, {13, 57, 100, 0.7f},
                 {64, 9, 100, 1.0f}, {101, 7, 100, 0.5f}, {1, 1, 40, 0}};
    for (const auto k : cases) {
        SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " size " << k.size << " intensity " << k.intensity);
        StageFrame f(kLayout<Tag>, k.w, k.h, k.w * k.h);
        const int64_t allocations = f.host->memory().totalAllocations();
        ASSERT_EQ(f.run(&VignetteStage<Tag>, k.size, k.intensity), STATUS_OK);
        EXPECT_TRUE(f.out().samePixels(f.in()));
        EXPECT_LE(f.host->memory().totalAllocations(), allocations + (k.intensity == 0 ? 0 : 1)) << "no work for nothing";
    }
}

// Parameters no host should send stay defined: NaN radii or all-inside ones leave the frame;
// a NaN multiplier or one below 0.001 takes the first gamma step; negative intensities only
// brighten; nothing leaves the value range.
TYPED_TEST(Vignette, ForeignParameters) {
    using Tag = TypeParam;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    enum Effect { Same, Darker, FirstStep, Brighter, InRange };
    const struct {
        float size, intensity;
        Effect effect;
    } cases[] = {{nan, 0.7f, Same},   {inf, 0.7f, Same},      {1e30f, 1.0f, Same},     {-inf, 0.7f, Darker},
                 {-50, 0.7f, Darker}, {0, 1.0f, Darker},      {40, nan, FirstStep},    {40, 7.0f, FirstStep},
                 {40, inf, FirstStep}, {40, -4.0f, Brighter}, {40, -1e30f, Brighter},  {40, -inf, InRange}};
    for (const auto k : cases) {
        SCOPED_TRACE(testing::Message() << "size " << k.size << " intensity " << k.intensity);
        StageFrame f(kLayout<Tag>, 31, 22, 77);
        ASSERT_EQ(f.run(&VignetteStage<Tag>, k.size, k.intensity), STATUS_OK);
        expectInRange(f.out());
        for (uint32_t y = 0; y < 22; ++y)
            for (uint32_t x = 0; x < 31; ++x)
                for (int c = 0; c < 4; ++c) {
                    const uint32_t in = f.in().channel(x, y, c), out = f.out().channel(x, y, c);
                    const bool corner = k.effect == FirstStep && x + y == 0 && c > 0 && in <= f.in().white() / 2;
                    ASSERT_TRUE(c == 0 || k.effect == Same ? out == in
                                : corner                  ? out == 0
                                : k.effect == Brighter    ? out >= in
                                                          : k.effect == InRange || out <= in)
                        << x << "," << y << " channel " << c << ": " << in << " -> " << out;
                }
    }
}

// One instance over frames whose size, depth and settings change and come back: each frame is
// the one its own settings give, also while another thread holds the instance's memo.
TEST(VignetteMemo, EachFrameOfAnInstanceFollowsItsOwnSettings) {
    StageFrame small(PixelLayout::ARGB8, 45, 32, 9), deep(PixelLayout::BGRA16, 45, 32, 4),
        large(PixelLayout::BGRA8, 64, 36, 5);
    InstanceData& shared = small.data;
    deep.setup.services->setInstanceData(&shared);
    large.setup.services->setInstanceData(&shared);
    const auto check = [&](StageFrame& f, float size, float intensity) {
        SCOPED_TRACE(testing::Message() << f.in().shape().width << "x" << f.in().shape().height << " deep "
                                        << f.in().is16Bit() << " size " << size << " intensity " << intensity);
        f.start();
        if (f.in().is16Bit()) expectVignetted<PIXEL_BGRA14>(f, size, intensity);
        else if (f.in().isBGRA()) expectVignetted<PIXEL_BGRA8>(f, size, intensity);
        else expectVignetted<PIXEL_ARGB8>(f, size, intensity);
    };
    // Size 100: nothing to do, no curves.
    for (const auto& [f, size, intensity] : {std::tuple{&small, 40.0f, 0.7f}, {&small, 40.0f, 0.7f}, {&small, 40.0f, 0.6f},
                                             {&small, 30.0f, 0.6f}, {&small, 100.0f, 0.6f}, {&small, 30.0f, 0.6f},
                                             {&deep, 30.0f, 0.6f}, {&small, 30.0f, 0.6f}, {&large, 30.0f, 0.6f},
                                             {&small, 30.0f, 0.6f}})
        check(*f, size, intensity);
    ASSERT_TRUE(shared.vignetteMemo);
    shared.vignetteMemo->inUse.test_and_set();  // another thread's render
    check(small, 55, 0.9f);
    check(deep, 30, 0.6f);
    shared.vignetteMemo->inUse.clear();
    check(small, 30, 0.6f);
    check(small, 55, 0.9f);
}

// Handed flicker's tables, the stage applies them in its own pass: the frame is flicker's
// and then the stage's, at each vector width, 16-bit samples past white included.
TYPED_TEST(Vignette, FlickersTablesInItsPassGiveFlickerThenVignette) {
    using Tag = TypeParam;
    const struct {
        float size, intensity;
    } settings[] = {{40, 0.7f}, {1, 1.0f}, {35, 0.65f}, {40, 0.0f}, {100, 0.7f}};
    for (bool narrowest : {false, true}) {
        SCOPED_TRACE(narrowest ? "held to SSE2" : "widest");
        cpu::holdToSse2(narrowest);
        for (uint32_t w : {1u, 6u, 45u, 64u})
            for (const auto k : settings) {
                SCOPED_TRACE(testing::Message() << "width " << w << " size " << k.size << " intensity " << k.intensity);
                StageFrame apart(kLayout<Tag>, w, 23, w), together(kLayout<Tag>, w, 23, w);
                if (kIs16Bit<Tag>) {
                    for (StageFrame* f : {&apart, &together}) {
                        for (uint32_t x = 0; x < w; x += 3) f->in().setChannel(x, x % 23, 1 + x % 3, 20000 + x);
                        f->start();
                    }
                }
                rng::threadState() = 9;
                ASSERT_EQ(apart.run(&FlickerStage<Tag>, 60.0f), STATUS_OK);
                ASSERT_EQ(apart.run(&VignetteStage<Tag>, k.size, k.intensity), STATUS_OK);
                rng::threadState() = 9;
                HandedTables tables;
                ASSERT_EQ(FlickerTables<Tag>(::FrameContext{}, *together.setup.services, together.input, together.output,
                                             60.0f, tables),
                          STATUS_OK);
                ASSERT_EQ(VignetteAfter<Tag>(::FrameContext{}, *together.setup.services, together.input,
                                             together.output, k.size, k.intensity, tables),
                          STATUS_OK);
                EXPECT_EQ(snapshot(together.out()), snapshot(apart.out()));
                EXPECT_NE(snapshot(together.out()), snapshot(together.in()));
            }
    }
    cpu::holdToSse2(false);
}

// Each depth rounds the same law to its own levels; the 16-bit input differs by 1/128 of an
// 8-bit level, stretched to 0.03 by the steepest curve: within 0.5 + 0.03 + 0.5, so 1.
TEST(VignetteDepth, EightAndSixteenBitsLookTheSame) {
    StageFrame narrow(PixelLayout::ARGB8, 80, 45, 3), wide(PixelLayout::ARGB16, 80, 45);
    sameInputInSixteenBits(narrow, wide);
    ASSERT_EQ(narrow.run(&VignetteStage<PIXEL_ARGB8>, 40.0f, 0.7f), STATUS_OK);
    ASSERT_EQ(wide.run(&VignetteStage<PIXEL_ARGB14>, 40.0f, 0.7f), STATUS_OK);
    const DepthGap gap = depthGap(narrow.out(), wide.out());
    EXPECT_GE(gap.low, -1L);
    EXPECT_LE(gap.high, 1L);
}

// Through the driver with flicker on: its gate's draw, then flicker and the stage's frame.
TYPED_TEST(Vignette, AfterFlickerInTheChain) {
    using Tag = TypeParam;
    ChainFrame chain(kLayout<Tag>, 33, 20, 3,
                     {{"DoFlicker", 1}, {"FlickerFreq", 1}, {"FlickerAmount", 60}, {"DoVignette", 1}, {"VignetteSize", 30}});
    rng::threadState() = 1;
    ASSERT_EQ(chain.render(), STATUS_OK);
    StageFrame apart(kLayout<Tag>, 33, 20, 3);
    rng::threadState() = advance(1, 1);
    ASSERT_EQ(apart.run(&FlickerStage<Tag>, 60.0f), STATUS_OK);
    ASSERT_EQ(apart.run(&VignetteStage<Tag>, 30.0f, 0.7f), STATUS_OK);
    EXPECT_EQ(snapshot(chain.out()), snapshot(apart.out()));
}

// Through the driver at the parameters' defaults (size 40, intensity 70).
TYPED_TEST(Vignette, DefaultsInTheChain) {
    using Tag = TypeParam;
    ChainFrame chain(kLayout<Tag>, 40, 24, 1, {{"DoVignette", 1}});
    const uint32_t grey = kIs16Bit<Tag> ? 8192 : 128;
    chain.in().fill(Tag::white, grey, grey, grey);
    ASSERT_EQ(chain.render(), STATUS_OK);
    EXPECT_EQ(chain.out().channel(0, 0, 2), kIs16Bit<Tag> ? 1625u : 26u);
    EXPECT_EQ(chain.out().channel(20, 12, 2), grey);
}
