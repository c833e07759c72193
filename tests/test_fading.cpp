// Fading: its blur and composite steps, amount 0, the refused raster, in-place hosts, foreign
// amounts, both depths, the driver's amount.
#include <cmath>
#include <limits>

#include "StageTestSupport.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PlainBlend.h"
#include "lib/Common/simd/Cpu.h"
#include "stages/tone/Fading.h"

using namespace stage_support;

template <class Tag>
class Fading : public ::testing::Test {};
TYPED_TEST_SUITE(Fading, AllFormats);

// The stage is its steps: the source blurred at radius trunc(amount), laid over the source in
// normal mode at 0.3 up to 100, then 0.3 + 0.4 (amount - 100) / 100; at each vector width, on
// a frame smaller than most radii and on a wide one with an odd row count.
TYPED_TEST(Fading, BlurAtTheAmountThenNormalAtTheOpacity) {
    using Tag = TypeParam;
    for (bool narrowest : {false, true}) {
        SCOPED_TRACE(narrowest ? "held to SSE2" : "widest");
        cpu::holdToSse2(narrowest);
        for (const auto& [w, h] : {std::pair{23u, 17u}, std::pair{301u, 9u}})
            for (const auto& [amount, opacity] : {std::pair{0.5f, 0.3f}, std::pair{1.0f, 0.3f}, std::pair{37.9f, 0.3f},
                                                  std::pair{100.0f, 0.3f}, std::pair{110.0f, 0.34f}, std::pair{125.0f, 0.4f},
                                                  std::pair{150.0f, 0.5f}, std::pair{200.0f, 0.7f}}) {
                SCOPED_TRACE(::testing::Message() << w << "x" << h << " amount " << amount);
                StageFrame f(kLayout<Tag>, w, h, uint32_t(amount) + 5);
                ASSERT_EQ(f.run(&FadingStage<Tag>, amount), STATUS_OK);
                AcfPtr<Image> layer(new Image(f.in().shape())), buffer(new Image(f.in().shape())),
                    expected(new Image(f.in().shape()));
                for (Image* im : {layer.get(), expected.get()}) im->fillRandom(uint32_t(amount) + 5);
                BoxBlurHorizontalPlain<Tag>(descOf(*layer.get()), descOf(*buffer.get()), int32_t(amount));
                ASSERT_EQ(BoxBlurVerticalPlain<Tag>(descOf(*buffer.get()), descOf(*layer.get()), int32_t(amount)), STATUS_OK);
                BlendImagesPlain<Tag>(nullptr, BLEND_NORMAL, opacity, 1.0f, descOf(*layer.get()), descOf(*expected.get()),
                                      descOf(*expected.get()));
                EXPECT_EQ(snapshot(f.out()), snapshot(*expected.get()));
                EXPECT_TRUE(f.out().guardsIntact());
            }
    }
    cpu::holdToSse2(false);
}

// Amount 0: the frame over itself at 30 %. Opaque 8-bit values come back 0 to 2 levels low
// (the shares 76 and 178 sum to 254), 16-bit ones exactly but 16383 rises by one. Translucent
// alphas rise to a + 0.3 a (1 - a).
TYPED_TEST(Fading, AmountZeroIsARoundTripUpToRounding) {
    using Tag = TypeParam;
    const int64_t low = kIs16Bit<Tag> ? 0 : -2, high = kIs16Bit<Tag> ? 1 : 0;
    StageFrame f(kLayout<Tag>, 64, 60, 8);
    makeOpaque(f.in());
    for (uint32_t i = 0; i < 64 * 60; ++i)
        f.in().setChannel(i % 64, i / 64, 1, std::min(i, uint32_t(Tag::white)));  // every 8-bit level in red
    f.in().setChannel(63, 59, 2, Tag::white);
    f.in().setChannel(62, 59, 2, Tag::white - 1);
    f.start();
    ASSERT_EQ(f.run(&FadingStage<Tag>, 0.0f), STATUS_OK);
    int64_t seenLow = 0, seenHigh = 0;
    for (uint32_t y = 0; y < 60; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            ASSERT_EQ(f.out().channel(x, y, 0), uint32_t(Tag::white));
            for (int c = 1; c < 4; ++c) {
                const int64_t d = int64_t(f.out().channel(x, y, c)) - int64_t(f.in().channel(x, y, c));
                ASSERT_GE(d, low);
                ASSERT_LE(d, high);
                seenLow = std::min(seenLow, d), seenHigh = std::max(seenHigh, d);
            }
        }
    EXPECT_EQ(seenLow, low) << "the bound is reached";
    EXPECT_EQ(seenHigh, high);
    if (!kIs16Bit<Tag>) {
        EXPECT_EQ(f.out().channel(63, 59, 2), 253u) << "white: (177 + 76) x 255 / 254";
    }
}

TYPED_TEST(Fading, RefusedScratchRasterLeavesTheOutput) {
    StageFrame f(kLayout<TypeParam>, 12, 9, 30);
    f.out().fillRandom(31);  // not the input: nothing may be copied back either
    expectRefusalLeavesTheFrame(f, 1, [&] { return f.run(&FadingStage<TypeParam>, 150.0f); });
}

// A host rendering in place hands one image as input and output: the first blur pass
// overwrites it, so the composite's background is that pass's result.
TYPED_TEST(Fading, AHostRenderingInPlaceGetsTheStepsOnOneImage) {
    using Tag = TypeParam;
    for (float amount : {0.0f, 3.0f, 150.0f}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, 37, 21, 6);
        AcfPtr<Image> layer(new Image(f.in().shape())), expected = copyOf(f.in());
        const RasterDesc image = descOf(*expected.get()), scratch = descOf(*layer.get());
        CopyRows(image, scratch);
        BoxBlurHorizontalPlain<Tag>(scratch, image, int32_t(amount));
        ASSERT_EQ(BoxBlurVerticalPlain<Tag>(image, scratch, int32_t(amount)), STATUS_OK);
        BlendImagesPlain<Tag>(nullptr, BLEND_NORMAL, amount > 100 ? 0.5f : 0.3f, 1.0f, scratch, image, image);

        PluginHost_AVX2_Impl& services = *f.setup.services;
        services.outputImage = f.setup.input.get();
        RasterHolder output(services.outputRaster(), &services, false, true);
        ASSERT_EQ(FadingStage<Tag>(::FrameContext{}, services, f.input, output, amount), STATUS_OK);
        EXPECT_EQ(snapshot(f.in()), snapshot(*expected.get()));
    }
}

// Foreign amounts blur nothing: NaN and negative ones composite at 0.3; infinite and huge ones
// at an opacity held to 1, which gives the picture itself.
TYPED_TEST(Fading, ForeignAmounts) {
    using Tag = TypeParam;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    StageFrame zero(kLayout<Tag>, 6, 5, 2);
    makeOpaque(zero.in());
    zero.start();
    ASSERT_EQ(zero.run(&FadingStage<Tag>, 0.0f), STATUS_OK);
    for (float amount : {nan, -inf, -5.0f, inf, 3e9f}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, 6, 5, 2);
        makeOpaque(f.in());
        f.start();
        ASSERT_EQ(f.run(&FadingStage<Tag>, amount), STATUS_OK);
        EXPECT_TRUE(f.out().samePixels(amount > 0 ? f.in() : zero.out()));
    }
}

// Each blur pass truncates to its own levels (8-bit up to 2 lower), the composite comes back
// up to 2 levels low in 8-bit, and the 16-bit input differs by 1/128 of a level: within 4
// below and 1 above, a level and a half on average.
TEST(FadingDepth, EightAndSixteenBitsLookTheSame) {
    const uint32_t w = 48, h = 40;
    for (float amount : {0.0f, 6.0f, 150.0f}) {
        SCOPED_TRACE(amount);
        StageFrame narrow(PixelLayout::BGRA8, w, h), wide(PixelLayout::BGRA16, w, h);
        // A photo-like picture: smooth gradients with some texture, opaque.
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t v[4] = {255, (x * 5 + y * 2) % 256, uint32_t(128 + 100 * std::sin(x * 0.3 + y * 0.1)),
                                       (x * y * 7) % 256};
                for (int c = 0; c < 4; ++c) narrow.in().setChannel(x, y, c, v[c]);
            }
        sameInputInSixteenBits(narrow, wide);
        ASSERT_EQ(narrow.run(&FadingStage<PIXEL_BGRA8>, amount), STATUS_OK);
        ASSERT_EQ(wide.run(&FadingStage<PIXEL_BGRA14>, amount), STATUS_OK);
        const DepthGap gap = depthGap(narrow.out(), wide.out(), 0);
        EXPECT_GE(gap.low, -4L);
        EXPECT_LE(gap.high, 1L);
        EXPECT_LT(gap.meanSize, 1.5);
    }
}

// Through the driver, with its parameter as an integer: 160 reaches the stage as 160.
TYPED_TEST(Fading, TheDriverPassesTheAmount) {
    using Tag = TypeParam;
    ChainFrame chain(kLayout<Tag>, 15, 11, 40, {{"DoFading", 1}, {"FadeAmount", 160}});
    ASSERT_EQ(chain.render(), STATUS_OK);
    StageFrame direct(kLayout<Tag>, 15, 11, 40);
    ASSERT_EQ(direct.run(&FadingStage<Tag>, 160.0f), STATUS_OK);
    EXPECT_EQ(snapshot(chain.out()), snapshot(direct.out()));
}
