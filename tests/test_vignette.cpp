// Vignette: the worked example at the corner and darkening towards it, frames it must leave
// alone, mirror symmetry, refused memory, foreign parameters, the same result without
// the instance's table, 8-bit and 16-bit alike, and the stage in the chain at its defaults.
#include <cmath>
#include <limits>

#include "StageTestSupport.h"
#include "stages/tone/Vignette.h"

using namespace stage_support;

template <class Tag>
class Vignette : public ::testing::Test {};
TYPED_TEST_SUITE(Vignette, AllFormats);

// Defaults, size 40 and intensity 0.7: at the corner m = 0.3, so mid grey becomes
// 255 (128 / 255)^(1 / 0.3) = 25.6 -> 26 in 8-bit and 16384 (1/2)^(1 / 0.3) = 1625.499 -> 1625
// in 16-bit. Half way up the left edge of 64 x 36, 32 from the centre, between the inner radius
// 0.4 x 36.7 = 14.7 and the corner's 36.7: m = 0.3 + 0.7 (36.7 - 32) / (36.7 - 14.7) = 0.4498,
// whose gamma step is m cut to three decimals, 0.449. Black and white never move, alpha is
// never touched. On a flat frame the fall-off
// is monotonic: pixels within the inner radius keep their value (on even sizes, whose centre
// is a pixel corner, measured plainly), everything else only darkens, the more so the
// further out it lies.
TYPED_TEST(Vignette, DefaultsWorkedAtTheCornerAndDarkeningTowardsIt) {
    using Tag = TypeParam;
    const uint32_t W = Tag::white, grey = kIs16Bit<Tag> ? 8192 : 128;
    const uint32_t corner = kIs16Bit<Tag> ? uint32_t(std::trunc(16384 * std::pow(0.5, 1 / 0.3) + 0.5)) : 26;
    for (const auto& [w, h] : {std::pair{64u, 36u}, std::pair{33u, 21u}, std::pair{90u, 60u}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        StageFrame f(kLayout<Tag>, w, h);
        f.in().fill(W / 3, grey, 0, W);
        f.start();
        ASSERT_EQ(f.run(&VignetteStage<Tag>, 40.0f, 0.7f), STATUS_OK);
        EXPECT_EQ(f.out().channel(0, 0, 1), corner);
        if (w == 64) {  // half way up the left edge
            EXPECT_EQ(f.out().channel(0, h / 2, 1), uint32_t(std::trunc(W * std::pow(double(grey) / W, 1 / 0.449) + 0.5)));
        }
        const double cx = w / 2, cy = h / 2, inner = 0.4 * std::hypot(w / 2.0, h / 2.0);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                ASSERT_EQ(f.out().channel(x, y, 0), W / 3);
                ASSERT_EQ(f.out().channel(x, y, 2), 0u);
                ASSERT_EQ(f.out().channel(x, y, 3), W);
                const uint32_t v = f.out().channel(x, y, 1);
                const double d = std::hypot(double(x) - cx, double(y) - cy);
                ASSERT_TRUE(w % 2 || h % 2 || (d < inner - 0.01 ? v == grey : d > inner + 2 ? v < grey : v <= grey)) << x << "," << y;
            }
        for (uint32_t i = 1; i < h / 2; ++i)  // along the diagonal towards the corner
            ASSERT_LE(f.out().channel(uint32_t(cx - i * cx / cy), uint32_t(cy - i), 1),
                      f.out().channel(uint32_t(cx - (i - 1) * cx / cy), uint32_t(cy - (i - 1)), 1));
        EXPECT_TRUE(f.out().guardsIntact());
    }
}

// Intensity 0 keeps every multiplier at 1; size 100 puts every pixel inside the inner radius
// on frames whose corner distance, narrowed to float, is at or above the exact distance of
// the corner pixel. Where narrowing rounds down (16 x 7, for one) the exact corners lie just
// outside even at size 100 and take the corner multiplier 1 - intensity; nothing else moves.
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
    const float halfW = 8.0f, halfH = 3.5f;
    ASSERT_GT(std::sqrt(double(halfW) * halfW + double(halfH) * halfH),
              double(float(std::sqrt(double(halfW) * halfW + double(halfH) * halfH))));
    const uint32_t grey = kIs16Bit<Tag> ? 8192 : 128;
    StageFrame f(kLayout<Tag>, 16, 7);
    f.in().fill(Tag::white, grey, grey, grey);
    f.start();
    ASSERT_EQ(f.run(&VignetteStage<Tag>, 100.0f, 0.7f), STATUS_OK);
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 16; ++x)  // the exact corners: |x - 8| = 8, |y - 3| = 3
            EXPECT_EQ(f.out().channel(x, y, 1), x == 0 && y % 6 == 0 ? (kIs16Bit<Tag> ? 1625u : 26u) : grey) << x << "," << y;
}

// Pixels with the same distances from (cx, cy) are treated alike: on a picture symmetric about
// (cx, cy) the result is symmetric too. Even sizes have one more column (row) before cx (cy)
// than after it; that one has no mirror image.
TYPED_TEST(Vignette, MirrorSymmetricAboutTheCentre) {
    using Tag = TypeParam;
    for (const auto& [w, h] : {std::pair{40u, 30u}, std::pair{41u, 31u}, std::pair{40u, 31u}, std::pair{41u, 30u}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        const int cx = int(w / 2), cy = int(h / 2);
        StageFrame f(kLayout<Tag>, w, h);
        Image quadrant(ImageSpec{uint32_t(cx + 1), uint32_t(cy + 1), kLayout<Tag>});
        quadrant.fillRandom(w + 7 * h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c)
                    f.in().setChannel(x, y, c, quadrant.channel(uint32_t(std::abs(int(x) - cx)), uint32_t(std::abs(int(y) - cy)), c));
        f.start();
        ASSERT_EQ(f.run(&VignetteStage<Tag>, 25.0f, 0.8f), STATUS_OK);
        int changed = 0;
        for (int y = 0; y < int(h); ++y)
            for (int x = 0; x < int(w); ++x) {
                const int mx = 2 * cx - x, my = 2 * cy - y;
                for (int c = 0; c < 4; ++c) {
                    const uint32_t v = f.out().channel(uint32_t(x), uint32_t(y), c);
                    if (mx < int(w)) {
                        ASSERT_EQ(v, f.out().channel(uint32_t(mx), uint32_t(y), c)) << x << "," << y;
                    }
                    if (my < int(h)) {
                        ASSERT_EQ(v, f.out().channel(uint32_t(x), uint32_t(my), c)) << x << "," << y;
                    }
                    changed += v != f.in().channel(uint32_t(x), uint32_t(y), c);
                }
            }
        EXPECT_GT(changed, 0);
    }
}

// The map and the curves come from the host's memory service; either refused is status 4
// with the frame as it was, and nothing is kept in any case.
TYPED_TEST(Vignette, RefusedMemoryLeavesTheFrame) {
    for (int refused : {1, 2}) {
        StageFrame f(kLayout<TypeParam>, 48, 27, uint32_t(refused));
        expectRefusalLeavesTheFrame(f, refused, [&] { return f.run(&VignetteStage<TypeParam>, 40.0f, 0.7f); });
        EXPECT_FALSE(f.out().samePixels(f.in()));
    }
}

// Parameters no host should send stay defined: radii that are not numbers or put every pixel
// inside leave the frame; a multiplier that is not a number or below 0.001 takes the first
// gamma step (1 / 0.001: everything up to half white goes black at the corner), negative
// intensities only brighten, and nothing leaves the value range.
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

// Without the instance's table the 8-bit curves are worked out from the same definition.
TYPED_TEST(Vignette, SameResultWithoutInstanceData) {
    StageFrame with(kLayout<TypeParam>, 45, 32, 9), without(kLayout<TypeParam>, 45, 32, 9, false);
    ASSERT_EQ(with.run(&VignetteStage<TypeParam>, 30.0f, 0.85f), STATUS_OK);
    ASSERT_EQ(without.run(&VignetteStage<TypeParam>, 30.0f, 0.85f), STATUS_OK);
    EXPECT_TRUE(with.out().samePixels(without.out()));
}

// The same picture in 8 and 16 bits. Both round the same law to their own levels, so each is
// within half of its own level of the exact value; the 16-bit picture is the 8-bit one only to
// 1/128 of an 8-bit level, which the steepest curve met (slope 1 / 0.3) stretches to 0.03.
// The scaled 16-bit result is thus within 0.5 + 0.03 + 0.5 of the 8-bit one: after rounding,
// within 1.
TEST(VignetteDepth, EightAndSixteenBitsLookTheSame) {
    StageFrame narrow(PixelLayout::ARGB8, 80, 45, 3), wide(PixelLayout::ARGB16, 80, 45);
    sameInputInSixteenBits(narrow, wide);
    ASSERT_EQ(narrow.run(&VignetteStage<PIXEL_ARGB8>, 40.0f, 0.7f), STATUS_OK);
    ASSERT_EQ(wide.run(&VignetteStage<PIXEL_ARGB14>, 40.0f, 0.7f), STATUS_OK);
    const DepthGap gap = depthGap(narrow.out(), wide.out());
    EXPECT_GE(gap.low, -1L);
    EXPECT_LE(gap.high, 1L);
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
