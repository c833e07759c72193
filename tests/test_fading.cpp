// Fading: the stage against a plain formulation (a blur summed window by window, the normal
// composite written out), amount 0 as a near round trip, the opacity steps, radii wider than
// the frame, the refused scratch raster, foreign amounts, 8-bit and 16-bit alike, the chain.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "TestSupport.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Pipeline.h"
#include "refhost/Faults.h"
#include "stages/tone/Fading.h"

using namespace refhost;
using namespace testing_support;

namespace {

template <class Tag>
constexpr PixelLayout kLayout = kIs16Bit<Tag> ? (Tag::FORMAT::A == 0 ? PixelLayout::ARGB16 : PixelLayout::BGRA16)
                                              : (Tag::FORMAT::A == 0 ? PixelLayout::ARGB8 : PixelLayout::BGRA8);

// One frame as the driver hands it to a stage, the input already copied into the output.
struct StageFrame {
    AcfPtr<HostComponent> hostComponent{new HostComponent};
    FrameSetup setup;
    RasterHolder input, output;
    StageFrame(PixelLayout layout, uint32_t w, uint32_t h)
        : setup(hostComponent.get(), ImageSpec{w, h, layout, 12}),
          input(setup.services->inputRaster(0), setup.services.get(), false, true),
          output(setup.services->outputRaster(), setup.services.get(), false, true) {}
    Image& in() { return *setup.input.get(); }
    Image& out() { return *setup.output.get(); }
    void start() { setup.services->copyInputToOutput(); }
    template <class Tag>
    Status fade(float amount) {
        return FadingStage<Tag>(::FrameContext{}, *setup.services, input, output, amount);
    }
};

// A picture as plain numbers: [y][x][c] with c = 0 A, 1 R, 2 G, 3 B.
using Picture = std::vector<std::vector<std::array<int64_t, 4>>>;

Picture pictureOf(const Image& image) {
    Picture p(image.spec().height, std::vector<std::array<int64_t, 4>>(image.spec().width));
    for (uint32_t y = 0; y < image.spec().height; ++y)
        for (uint32_t x = 0; x < image.spec().width; ++x)
            for (int c = 0; c < 4; ++c)
                p[y][x][size_t(c)] = image.channel(x, y, c);
    return p;
}

// The box blur summed window by window: every sample of the 2r + 1 around it, coordinates
// held to the picture, trunc(sum (1 / (2r + 1))); rows first, then columns.
Picture blurred(const Picture& p, int64_t r) {
    if (r < 1)
        return p;
    const int64_t H = int64_t(p.size()), W = int64_t(p[0].size());
    const double reciprocal = 1.0 / double(2 * r + 1);
    Picture rows = p, out = p;
    for (int64_t y = 0; y < H; ++y)
        for (int64_t x = 0; x < W; ++x)
            for (size_t c = 0; c < 4; ++c) {
                int64_t sum = 0;
                for (int64_t k = -r; k <= r; ++k)
                    sum += p[size_t(y)][size_t(std::clamp<int64_t>(x + k, 0, W - 1))][c];
                rows[size_t(y)][size_t(x)][c] = int64_t(double(sum) * reciprocal);
            }
    for (int64_t y = 0; y < H; ++y)
        for (int64_t x = 0; x < W; ++x)
            for (size_t c = 0; c < 4; ++c) {
                int64_t sum = 0;
                for (int64_t k = -r; k <= r; ++k)
                    sum += rows[size_t(std::clamp<int64_t>(y + k, 0, H - 1))][size_t(x)][c];
                out[size_t(y)][size_t(x)][c] = int64_t(double(sum) * reciprocal);
            }
    return out;
}

// Normal compositing of layer pixel s over base pixel d, layer opacity op, base opacity 1,
// written out from the compositing rules (8-bit constants, or their 16-bit counterparts).
std::array<int64_t, 4> normalOver(const std::array<int64_t, 4>& s, const std::array<int64_t, 4>& d, float op,
                                  int64_t W) {
    const bool wide = W != 255;
    const auto sc = [&](int64_t x) { return wide ? (x + 8192) >> 14 : (x + 128) >> 8; };
    const auto clamp = [&](int64_t v) { return std::clamp<int64_t>(v, 0, W); };
    const int64_t M = wide ? 16385 : 255;
    const int64_t as = int64_t(float(s[0]) * op), ad = d[0];
    const int64_t a = ad + as - sc(ad * as);
    std::array<int64_t, 4> out{clamp(a), d[1], d[2], d[3]};
    if (as == 0)
        return out;
    for (size_t c = 1; c < 4; ++c) {
        const int64_t mixed = ad == 0 ? s[c] : (ad < W ? sc((W - ad) * s[c]) + sc(s[c] * ad) : s[c]);
        if (as != W && ad != 0) {
            const int64_t w = sc((W - as) * ad), A = w + as;
            out[c] = clamp(A == 0 ? 0 : (sc(w * d[c]) + sc(mixed * as)) * M / A);
        } else {
            out[c] = clamp(mixed);
            out[0] = clamp(as);
        }
    }
    return out;
}

// The whole stage, plainly: blur of the source at radius trunc(amount), laid over the source.
Picture faded(const Picture& source, float amount, float opacity, int64_t W) {
    const Picture layer = blurred(source, int64_t(amount));
    Picture out = source;
    for (size_t y = 0; y < source.size(); ++y)
        for (size_t x = 0; x < source[0].size(); ++x)
            out[y][x] = normalOver(layer[y][x], source[y][x], opacity, W);
    return out;
}

void expectPicture(const Image& image, const Picture& expected) {
    for (uint32_t y = 0; y < image.spec().height; ++y)
        for (uint32_t x = 0; x < image.spec().width; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(int64_t(image.channel(x, y, c)), expected[y][x][size_t(c)])
                    << "pixel " << x << "," << y << " channel " << c;
}

void setColour(Image& image, uint32_t x, uint32_t y, uint32_t r, uint32_t g, uint32_t b) {
    image.setChannel(x, y, 1, r);
    image.setChannel(x, y, 2, g);
    image.setChannel(x, y, 3, b);
}

}  // namespace

template <class Tag>
class Fading : public ::testing::Test {};
using AllFormats = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;
TYPED_TEST_SUITE(Fading, AllFormats);

// The opacity is 0.3 up to an amount of 100, then 0.3 + 0.4 (amount - 100) / 100: 0.5 at 150
// and 0.7 at 200. The radius is the amount. Translucent pictures exercise every branch of the
// composite; the stage must match the plain formulation to the level.
TYPED_TEST(Fading, MatchesBlurThenCompositeAtEveryStep) {
    using Tag = TypeParam;
    const struct {
        float amount, opacity;
    } steps[] = {{0, 0.3f}, {1, 0.3f}, {3, 0.3f}, {37, 0.3f}, {100, 0.3f}, {125, 0.4f}, {150, 0.5f}, {200, 0.7f}};
    for (const auto step : steps) {
        SCOPED_TRACE(step.amount);
        StageFrame f(kLayout<Tag>, 23, 17);
        f.in().fillRandom(uint32_t(step.amount) + 5);
        f.start();
        ASSERT_EQ(f.fade<Tag>(step.amount), STATUS_OK);
        expectPicture(f.out(), faded(pictureOf(f.in()), step.amount, step.opacity, Tag::white));
        EXPECT_TRUE(f.out().guardsIntact());
    }
}

// An opaque black pixel in a white frame shows the opacity itself: the layer there is nearly
// white, so the pixel comes out at about opacity x white.
TYPED_TEST(Fading, OpacityStepsOnABlackPixel) {
    using Tag = TypeParam;
    const double W = Tag::white;
    for (const auto& [amount, opacity] : {std::pair{50.0f, 0.3}, std::pair{100.0f, 0.3}, std::pair{150.0f, 0.5},
                                         std::pair{200.0f, 0.7}}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, 31, 31);
        f.in().fill(Tag::white, Tag::white, Tag::white, Tag::white);
        setColour(f.in(), 15, 15, 0, 0, 0);
        f.start();
        ASSERT_EQ(f.fade<Tag>(amount), STATUS_OK);
        for (int c = 1; c < 4; ++c)
            EXPECT_NEAR(double(f.out().channel(15, 15, c)), opacity * W, 0.012 * W) << "channel " << c;
        EXPECT_EQ(f.out().channel(15, 15, 0), uint32_t(Tag::white));
    }
}

// Amount 0: no blur, so the frame is composited over itself at 30 %. Opaque pixels come back
// to within the composite's rounding: in 8-bit the layer's share trunc(255 x 0.3) = 76 and the
// base's ((255 - 76) x 255 + 128) >> 8 = 178 sum to 254, each product is rounded by a shift and
// the quotient x 255 / 254 does not quite make up for it, so values come back 0 to 2 levels
// low (255 -> 253). In 16-bit the shares sum to 16384 and only 16383 rises by one (the x 16385
// / 16384 of the composite). Translucent pixels are not a round trip: a layer over itself
// raises the alpha a to a + 0.3 a (1 - a).
TYPED_TEST(Fading, AmountZeroIsARoundTripUpToRounding) {
    using Tag = TypeParam;
    const int64_t low = kIs16Bit<Tag> ? 0 : -2, high = kIs16Bit<Tag> ? 1 : 0;
    StageFrame f(kLayout<Tag>, 64, 60);
    f.in().fillRandom(8);
    for (uint32_t i = 0; i < 64 * 60; ++i) {
        f.in().setChannel(i % 64, i / 64, 0, Tag::white);
        f.in().setChannel(i % 64, i / 64, 1, std::min(i, uint32_t(Tag::white)));  // every 8-bit level in red
    }
    f.in().setChannel(63, 59, 2, Tag::white);
    f.in().setChannel(62, 59, 2, Tag::white - 1);
    f.start();
    ASSERT_EQ(f.fade<Tag>(0.0f), STATUS_OK);
    int64_t seenLow = 0, seenHigh = 0;
    for (uint32_t y = 0; y < 60; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            ASSERT_EQ(f.out().channel(x, y, 0), uint32_t(Tag::white));
            for (int c = 1; c < 4; ++c) {
                const int64_t d = int64_t(f.out().channel(x, y, c)) - int64_t(f.in().channel(x, y, c));
                ASSERT_GE(d, low);
                ASSERT_LE(d, high);
                seenLow = std::min(seenLow, d);
                seenHigh = std::max(seenHigh, d);
            }
        }
    EXPECT_EQ(seenLow, low) << "the bound is reached";
    EXPECT_EQ(seenHigh, high);
    if (!kIs16Bit<Tag>) {
        EXPECT_EQ(f.out().channel(63, 59, 2), 253u) << "white: (177 + 76) x 255 / 254";
    }
}

// Radii far wider than the frame keep repeating the edge pixels: every pixel's window is then
// almost all copies of the two edges, so the layer is nearly their mean and the frame is
// tinted towards the edge colours. Nothing fails.
TYPED_TEST(Fading, RadiusWiderThanTheFrameTintsTowardsTheEdges) {
    using Tag = TypeParam;
    const int64_t W = Tag::white;
    StageFrame f(kLayout<Tag>, 9, 5);
    f.in().fill(uint32_t(W), uint32_t(W / 4), uint32_t(W / 4), uint32_t(W / 4));
    for (uint32_t y = 0; y < 5; ++y) {
        setColour(f.in(), 0, y, uint32_t(W), 0, 0);  // a red left edge
        setColour(f.in(), 8, y, 0, 0, uint32_t(W));  // a blue right edge
    }
    f.start();
    ASSERT_EQ(f.fade<Tag>(200.0f), STATUS_OK);
    expectPicture(f.out(), faded(pictureOf(f.in()), 200.0f, 0.7f, W));
    // The dark grey middle takes on the edges' red and blue and loses green.
    const uint32_t mid = uint32_t(W / 4);
    EXPECT_GT(f.out().channel(4, 2, 1), mid);
    EXPECT_LT(f.out().channel(4, 2, 2), mid);
    EXPECT_GT(f.out().channel(4, 2, 3), mid);
    // One pixel wide and tall: the blur has nothing to mix but itself.
    StageFrame dot(kLayout<Tag>, 1, 1);
    dot.in().fillRandom(3);
    dot.start();
    ASSERT_EQ(dot.fade<Tag>(150.0f), STATUS_OK);
    expectPicture(dot.out(), faded(pictureOf(dot.in()), 150.0f, 0.5f, W));
}

TYPED_TEST(Fading, RefusedScratchRasterLeavesTheOutput) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 12, 9);
    f.in().fillRandom(30);
    f.out().fillRandom(31);  // what the output held, to see that it is untouched
    Image before(f.out().spec());
    before.fillRandom(31);
    const int64_t live = f.hostComponent->memory().liveBlocks();
    faults().reset();
    faults().failAllocationAt = 1;
    const Status status = f.fade<Tag>(150.0f);
    faults().reset();
    EXPECT_EQ(status, STATUS_NO_RASTER);
    EXPECT_TRUE(f.out().samePixels(before));
    EXPECT_TRUE(f.out().guardsIntact());
    EXPECT_EQ(f.hostComponent->memory().liveBlocks(), live);

    f.start();  // granted, the scratch raster is given back as well
    ASSERT_EQ(f.fade<Tag>(150.0f), STATUS_OK);
    EXPECT_EQ(f.hostComponent->memory().liveBlocks(), live);
    EXPECT_EQ(f.hostComponent->memory().liveBytes(), 0);
}

// Amounts no host should send: NaN and values beyond any integer blur nothing (the radius
// conversion saturates below 1) and still composite at the defined opacity, held to 0..1.
TYPED_TEST(Fading, ForeignAmounts) {
    using Tag = TypeParam;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const struct {
        float amount, opacity;
        int64_t radius;
    } cases[] = {{nan, 0.3f, 0}, {-inf, 0.3f, 0}, {-5.0f, 0.3f, 0}, {inf, 1.0f, 0}, {3e9f, 1.0f, 0}, {1e4f, 1.0f, 10000}};
    for (const auto k : cases) {
        SCOPED_TRACE(k.amount);
        StageFrame f(kLayout<Tag>, 6, 5);
        f.in().fillRandom(2);
        f.start();
        ASSERT_EQ(f.fade<Tag>(k.amount), STATUS_OK);
        expectPicture(f.out(), faded(pictureOf(f.in()), float(k.radius), k.opacity, Tag::white));
    }
}

// The same picture in 8 and 16 bits. Differences come from three places: each blur pass
// truncates to its own levels (the 8-bit layer ends up to 2 levels lower, the 16-bit one 2/64
// of a level), the layer's share of that is at most 0.7 of it; the composite rounds on its
// own levels and in 8-bit comes back up to 2 levels low (see the round-trip test); the 16-bit
// picture is the 8-bit one only to 1/128 of a level and the scaled result is rounded once
// more. Together the 8-bit result stays within 4 levels below and 1 above the scaled 16-bit
// one, and on average within a level and a half.
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
                for (int c = 0; c < 4; ++c) {
                    narrow.in().setChannel(x, y, c, v[c]);
                    wide.in().setChannel(x, y, c, uint32_t(std::lround(v[c] * 16384.0 / 255.0)));
                }
            }
        narrow.start();
        wide.start();
        ASSERT_EQ(narrow.fade<PIXEL_BGRA8>(amount), STATUS_OK);
        ASSERT_EQ(wide.fade<PIXEL_BGRA14>(amount), STATUS_OK);
        double total = 0;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c) {
                    const long scaled = std::lround(wide.out().channel(x, y, c) * 255.0 / 16384.0);
                    const long d = long(narrow.out().channel(x, y, c)) - scaled;
                    EXPECT_GE(d, -4L) << x << "," << y << " channel " << c;
                    EXPECT_LE(d, 1L) << x << "," << y << " channel " << c;
                    total += double(std::labs(d));
                }
        EXPECT_LT(total / (w * h * 4), 1.5);
    }
}

// Through the driver, with its parameter as an integer: 160 is radius 160, opacity 0.54.
TEST(FadingDriver, FadesTheFrameInTheChain) {
    for (PixelLayout layout : kAllLayouts) {
        RegisteredEffect reg;
        auto values = reg.defaults();
        FrameSetup f(reg.host.get(), ImageSpec{15, 11, layout, 12}, values);
        InstanceData data;
        ASSERT_EQ(createInstanceData(*f.services, data), 0);
        f.services->setInstanceData(&data);
        for (auto [slot, v] : {std::pair{0, 1.0}, std::pair{2, 160.0}})  // doFading, fadeAmount
            values->set(*slotIdentifier(slot), values->track(*slotIdentifier(slot))->type, v);
        f.input->fillRandom(40);
        ASSERT_EQ(RenderFrame(*f.services), STATUS_OK);
        expectPicture(*f.output.get(), faded(pictureOf(*f.input.get()), 160.0f, float(0.3 + 0.4 * 60 / 100.0), f.input->white()));
        destroyInstanceData(*f.services, data);
    }
}
