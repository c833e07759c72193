// Displacement: worked examples, the 128-pixel period, column 0 past the right edge, nothing
// from time, draws or memory, foreign amounts, both depths, the chain.
#include <cmath>
#include <limits>

#include "StageTestSupport.h"
#include "pipeline/Random.h"
#include "stages/tone/Displacement.h"

using namespace stage_support;

template <class Tag>
class Displacement : public ::testing::Test {};
TYPED_TEST_SUITE(Displacement, AllFormats);

// Amount 0.25: at (0, 0) 3/4 of the pixel and 1/4 of the one below, rounded down. On row 32
// (a quarter period) 3/4 of (32, 32) and 1/4 of its right neighbour. Column 64 moves up, past
// row 0, and so reads row 0. The output's alpha survives.
TYPED_TEST(Displacement, WorkedExamplesKeepTheOutputsAlpha) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 80, 40, 4);
    f.out().fillRandom(77);
    const std::vector<uint32_t> before = snapshot(f.out());
    ASSERT_EQ(f.run(&DisplacementStage<Tag>, 0.25f), STATUS_OK);
    const Image& in = f.in();
    for (int c = 1; c < 4; ++c) {
        EXPECT_EQ(f.out().channel(0, 0, c), (3 * in.channel(0, 0, c) + in.channel(0, 1, c)) / 4);
        EXPECT_EQ(f.out().channel(32, 32, c), (3 * in.channel(32, 32, c) + in.channel(33, 32, c)) / 4);
        EXPECT_EQ(f.out().channel(64, 0, c), in.channel(64, 0, c));
    }
    const std::vector<uint32_t> after = snapshot(f.out());
    for (size_t i = 0; i < after.size(); i += 4) ASSERT_EQ(after[i], before[i]) << "alpha of pixel " << i / 4;
    EXPECT_TRUE(f.out().guardsIntact());
}

// Pixels 128 apart get the same shift, so on a picture repeating every 128 pixels they come
// out alike, up to the float positions' lost fraction (about a level in 16-bit) and one level
// where a truncation flips.
TYPED_TEST(Displacement, RepeatsEvery128Pixels) {
    using Tag = TypeParam;
    const uint32_t w = 400, h = 300;
    StageFrame f(kLayout<Tag>, w, h);
    Image tile(ImageSpec{128, 128, kLayout<Tag>});
    tile.fillRandom(9);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) f.in().setChannel(x, y, c, tile.channel(x % 128, y % 128, c));
    ASSERT_EQ(f.run(&DisplacementStage<Tag>, 3.0f), STATUS_OK);
    const int tolerance = kIs16Bit<Tag> ? 2 : 1;
    int compared = 0, identical = 0;
    for (uint32_t y = 8; y + 136 < h; ++y)
        for (uint32_t x = 8; x + 136 < w; ++x)
            for (const auto& [ox, oy] : {std::pair{128u, 0u}, std::pair{0u, 128u}})
                for (int c = 1; c < 4; ++c) {
                    const int a = int(f.out().channel(x, y, c)), b = int(f.out().channel(x + ox, y + oy, c));
                    ASSERT_LE(std::abs(a - b), tolerance) << x << "," << y << " and +" << ox << ",+" << oy;
                    ++compared;
                    identical += a == b;
                }
    EXPECT_GT(identical, compared * 95 / 100);
}

// On row 32 every pixel moves right by 5: the last five columns sample column 0 (white).
TYPED_TEST(Displacement, PastTheRightEdgeSamplesColumnZero) {
    using Tag = TypeParam;
    const uint32_t w = 50, h = 70, W = Tag::white;
    StageFrame f(kLayout<Tag>, w, h);
    f.in().fill(W, 0, 0, 0);
    for (uint32_t y = 0; y < h; ++y)
        for (int c = 1; c < 4; ++c) f.in().setChannel(0, y, c, W);
    ASSERT_EQ(f.run(&DisplacementStage<Tag>, 5.0f), STATUS_OK);
    for (uint32_t x = 1; x < w; ++x) EXPECT_EQ(f.out().channel(x, 32, 2), x >= w - 5 ? W : 0u) << "column " << x;
}

// Frame number, generator state and a host refusing all memory change nothing. NaN or
// infinite positions read (0, 0). A source of another depth is not read.
TYPED_TEST(Displacement, NothingFromTimeDrawsOrMemoryAndForeignInputs) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 33, 21, 6), g(kLayout<Tag>, 33, 21, 6);
    ASSERT_EQ(f.run(&DisplacementStage<Tag>, 2.5f), STATUS_OK);
    g.setup.services->mFrameNumber = 4711;
    rng::threadState() = 31337;
    const int64_t allocations = g.host->memory().totalAllocations();
    {
        RefusedAllocation refusal(1, true);
        ASSERT_EQ(g.run(&DisplacementStage<Tag>, 2.5f), STATUS_OK);
    }
    EXPECT_TRUE(g.out().samePixels(f.out()));
    EXPECT_EQ(rng::threadState(), 31337u);
    EXPECT_EQ(g.host->memory().totalAllocations(), allocations);

    const float inf = std::numeric_limits<float>::infinity();
    for (float amount : {std::numeric_limits<float>::quiet_NaN(), inf, -inf}) {
        StageFrame e(kLayout<Tag>, 9, 8);
        ASSERT_EQ(e.run(&DisplacementStage<Tag>, amount), STATUS_OK);
        for (uint32_t i = 0; i < 72; ++i)
            for (int c = 1; c < 4; ++c) ASSERT_EQ(e.out().channel(i % 9, i / 9, c), e.in().channel(0, 0, c)) << amount;
    }
    std::vector<uint8_t> other(6 * 4 * 16, 200);
    RasterDesc desc{other.data(), 0, 6, 4, kIs16Bit<Tag> ? 24 : 48, kIs16Bit<Tag> ? 4u : 8u};
    RasterHolder source(f.setup.services->wrapRaster(desc), f.setup.services.get(), false, true);
    const std::vector<uint32_t> before = snapshot(f.out());
    EXPECT_EQ(DisplacementStage<Tag>(::FrameContext{}, *f.setup.services, source, f.output, 1.0f), STATUS_UNSUPPORTED);
    EXPECT_EQ(snapshot(f.out()), before) << "the output is left as it was";
}

// Each depth truncates twice, a level of its own each time; rounding the scaled 16-bit value
// adds half a level: the 8-bit result within 2 below and 1 above.
TEST(DisplacementDepth, EightAndSixteenBitsLookTheSame) {
    StageFrame narrow(PixelLayout::ARGB8, 60, 45, 14), wide(PixelLayout::ARGB16, 60, 45);
    sameInputInSixteenBits(narrow, wide);
    ASSERT_EQ(narrow.run(&DisplacementStage<PIXEL_ARGB8>, 3.3f), STATUS_OK);
    ASSERT_EQ(wide.run(&DisplacementStage<PIXEL_ARGB14>, 3.3f), STATUS_OK);
    const DepthGap gap = depthGap(narrow.out(), wide.out());
    EXPECT_GE(gap.low, -2L);
    EXPECT_LE(gap.high, 1L) << "8-bit truncation only loses";
}

// In the chain the warp reads the source frame: with fading on, the colours are the displaced
// source without the fade.
TYPED_TEST(Displacement, TheChainShowsTheDisplacedSource) {
    using Tag = TypeParam;
    ChainFrame chain(kLayout<Tag>, 21, 13, 19, {{"DoFading", 1}, {"FadeAmount", 40}, {"DoDisplacement", 1}});
    ASSERT_EQ(chain.render(), STATUS_OK);
    StageFrame direct(kLayout<Tag>, 21, 13, 19);
    ASSERT_EQ(direct.run(&DisplacementStage<Tag>, 0.5f), STATUS_OK);
    for (uint32_t i = 0; i < 21 * 13; ++i)
        for (int c = 1; c < 4; ++c) ASSERT_EQ(chain.out().channel(i % 21, i / 21, c), direct.out().channel(i % 21, i / 21, c));
}
