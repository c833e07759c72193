// Grain: weights, curves, the noise pass, the softening blur and the stage through the host,
// in every pixel format. Expectations are worked examples, invariants and statistics.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "StageTestSupport.h"
#include "lib/Common/Kernels.h"
#include "stages/tone/grain/Grain.h"
#include "stages/tone/grain/GrainBlur.h"

using namespace stage_support;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

template <class Tag>
AcfPtr<Image> image(uint32_t w, uint32_t h, uint32_t seed) {
    AcfPtr<Image> im(new Image(ImageSpec{w, h, kLayout<Tag>, 12}));
    im->fillRandom(seed);
    return im;
}

// Three curve tables of white + 1 entries.
template <class Tag>
struct Curves {
    std::vector<typename Tag::Channel> t = std::vector<typename Tag::Channel>(3 * (Tag::white + 1));
    typename Tag::Channel* c[3] = {&t[0], &t[Tag::white + 1], &t[2 * (Tag::white + 1)]};
};

struct GrainArgs {
    bool colour = true;
    float amount = 0.75f, red = 28.22f, green = 35.54f, blue = 100.0f;
    float softRed = 0.1f, softGreen = 0.2f, softBlue = 0.4f, black = 20.0f, white = 10.0f;
};

template <class Tag>
Status grain(StageFrame& f, int32_t frame, const GrainArgs& a) {
    f.setup.services->mFrameNumber = frame;
    return f.run(&GrainStage<Tag>, a.colour, a.amount, a.red, a.green, a.blue, a.softRed, a.softGreen, a.softBlue,
                 a.black, a.white);
}

// The noise layer by the formula, the C runtime's generator run here from `seed`: a draw per
// pixel (three with colour noise), d = v mod (2n + 1) - n, n = trunc(amount W + 0.5), around
// mid grey, through the curve, drawn toward mid grey by the picture's weight. A R G B per pixel.
template <class Tag>
std::vector<uint32_t> plainNoise(bool colour, float amount, uint32_t seed, const Curves<Tag>& curves,
                                 const std::vector<float>& weights, const Image& picture) {
    const int64_t W = Tag::white, grey = kIs16Bit<Tag> ? 8224 : 128, n = int64_t(double(amount * float(W)) + 0.5);
    const float inv = kIs16Bit<Tag> ? 1.0f / 16384.0f : 0.003921569f;
    std::vector<uint32_t> layer;
    for (uint32_t y = 0; y < picture.shape().height; ++y)
        for (uint32_t x = 0; x < picture.shape().width; ++x) {
            layer.push_back(fromByte<Tag>(255));
            int64_t d = 0;
            for (int c = 0; c < 3; ++c) {
                if (c == 0 || colour) {
                    seed = seed * 214013u + 2531011u;
                    d = int64_t(seed >> 16 & 0x7FFF) % (2 * n + 1) - n;
                }
                const float m = float(curves.c[c][std::clamp(grey + d, int64_t(0), W)]);
                const float w = weights[picture.channel(x, y, c + 1)];
                layer.push_back(uint32_t(std::clamp((m * inv * w + (1.0f - w) * float(grey) * inv) * float(W), 0.0f, float(W))));
            }
        }
    return layer;
}

template <class Tag>
std::vector<uint32_t> noiseOf(bool colour, float amount, uint32_t seed, const Curves<Tag>& curves,
                              const std::vector<float>& weights, Image& picture, const grain_noise::Shaping* shaping = nullptr) {
    AcfPtr<Image> layer = image<Tag>(picture.shape().width, picture.shape().height, 1);
    GrainNoise<Tag>(colour, amount, seed, curves.c, weights.data(), descOf(picture), descOf(*layer.get()), shaping);
    EXPECT_TRUE(layer->guardsIntact());
    return snapshot(*layer.get());
}

// Both passes of GrainBlur on `im` against `expected(line, channel)` per row or column.
template <class Tag, class Expect>
void checkBlur(Image& im, float rr, float rg, float rb, Expect expected) {
    const uint32_t w = im.shape().width, h = im.shape().height;
    for (bool vertical : {false, true}) {
        AcfPtr<Image> out = image<Tag>(w, h, 77);
        GrainBlur<Tag>(rr, rg, rb, vertical, descOf(im), descOf(*out.get()));
        for (uint32_t line = 0; line < (vertical ? w : h); ++line)
            for (int c = 1; c < 4; ++c) {
                std::vector<int64_t> p;
                for (uint32_t i = 0; i < (vertical ? h : w); ++i) p.push_back(vertical ? im.channel(line, i, c) : im.channel(i, line, c));
                const std::vector<int64_t> want = expected(p, c);
                for (uint32_t i = 0; i < p.size(); ++i) {
                    const uint32_t x = vertical ? line : i, y = vertical ? i : line;
                    ASSERT_EQ(out->channel(x, y, c), want[i]) << "vertical " << vertical << " at " << x << "," << y;
                    ASSERT_EQ(out->channel(x, y, 0), im.channel(x, y, 0)) << "alpha is copied";
                }
            }
        EXPECT_TRUE(out->guardsIntact());
    }
}

}  // namespace

TEST(GrainWeights, RampsOfTheWorkedExamples) {
    std::vector<float> w(16385);
    GrainSuppressionWeights(255, 20, 10, w.data());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(w[i], float(i) / 20.0f);
    for (int i = 20; i <= 255; ++i) EXPECT_EQ(w[i], float(255 - i) / 245.0f);
    EXPECT_NEAR(w[20], 0.96, 0.005);
    EXPECT_NEAR(w[128], 0.52, 0.005);
    EXPECT_EQ(std::count(w.begin(), w.begin() + 256, 1.0f), 0) << "no value gets the full weight";

    GrainSuppressionWeights(255, 0, 10, w.data());  // no black ramp
    for (int i = 0; i <= 10; ++i) EXPECT_EQ(w[i], 1.0f);
    for (int i = 11; i <= 255; ++i) EXPECT_EQ(w[i], float(255 - i) / 245.0f);

    GrainSuppressionWeights(16384, 20, 10, w.data());  // raw code values in 16-bit too
    for (int i = 0; i < 20; ++i) EXPECT_EQ(w[i], float(i) / 20.0f);
    for (int i = 20; i <= 16384; ++i) ASSERT_EQ(w[i], float(16384 - i) / 16374.0f);

    for (float black : {kNaN, kInf, -kInf, 1e30f, -7.0f, 300.0f, 16384.0f})
        for (float white : {kNaN, kInf, -kInf, -1e30f, 254.5f, 16383.9f}) {
            GrainSuppressionWeights(16384, black, white, w.data());
            for (float v : w) ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << black << " " << white;
        }
}

template <class Tag>
class Grain : public ::testing::Test {};
TYPED_TEST_SUITE(Grain, AllFormats);

TYPED_TEST(Grain, ChannelCurvesSqueezeTowardMidGrey) {
    using Tag = TypeParam;
    constexpr int64_t W = Tag::white;
    Curves<Tag> curves;
    GrainChannelCurves<Tag>(100, 100, 100, curves.c);
    for (int c = 0; c < 3; ++c)
        for (int64_t v = 0; v <= W; ++v) ASSERT_EQ(curves.c[c][v], v) << "100 % is the identity";
    GrainChannelCurves<Tag>(0, 50, 100, curves.c);
    for (int64_t v = 0; v <= W; ++v) {
        // 0 %: flat at half; 8-bit ends are trunc(127.5) = 127, the inside trunc(127.5 + 0.5).
        const bool end = v == 0 || v == W;
        ASSERT_EQ(curves.c[0][v], W == 255 ? (end ? 127 : 128) : 8192) << v;
        // 50 %: output range W/4 .. 3W/4, so v/2 + W/4 rounded; the entry at 0 is trunc(W/4).
        ASSERT_EQ(curves.c[1][v], v == 0 ? W / 4 : int64_t(double(v) * 0.5 + double(W) / 4 + 0.5)) << v;
        ASSERT_EQ(curves.c[2][v], v);
    }
}

// By hand from seed 1 (draws 41, 18467, 6334), red curve W - v, green and blue the identity.
// 8-bit, amount 0.75: n = 191; offsets -150, -108, 15 around 128 give 0 (held), 20, 143; one
// draw for all three without colour noise. 16-bit: n = 12288, centre 8224. Weights 0.5 pull
// halfway to mid grey. Amplitudes: amount 1 is n = 255; 0.50392157 is 128.5 in float, n = 129;
// 0.0019607842 stays below 0.5 with the 0.5 added in double, n = 0.
TYPED_TEST(Grain, NoiseWorkedByHand) {
    using Tag = TypeParam;
    constexpr uint32_t W = Tag::white, A = fromByte<Tag>(255);
    constexpr bool wide = kIs16Bit<Tag>;
    Curves<Tag> curves;
    for (uint32_t v = 0; v <= W; ++v) curves.c[0][v] = typename Tag::Channel(W - v), curves.c[1][v] = curves.c[2][v] = typename Tag::Channel(v);
    std::vector<float> ones(W + 1, 1.0f), halves(W + 1, 0.5f);
    halves[0] = 0.0f;
    AcfPtr<Image> picture = image<Tag>(2, 1, 3);
    const uint32_t colours[3] = {7, 0, 200};
    for (int c = 0; c < 3; ++c) picture->setChannel(0, 0, c + 1, colours[c]);

    // The first pixel (and with `two`, the second) of the layer, A R G B.
    const auto first = [&](bool colour, float amount, uint32_t seed, const std::vector<float>& weights, bool two = false) {
        const std::vector<uint32_t> layer = noiseOf<Tag>(colour, amount, seed, curves, weights, *picture.get());
        return std::vector<uint32_t>(layer.begin(), layer.begin() + (two ? 8 : 4));
    };
    using Pixels = std::vector<uint32_t>;
    EXPECT_EQ(first(true, 0.75f, 1, ones), wide ? Pixels({A, W, 14403, 2270}) : Pixels({A, 255, 20, 143}));
    EXPECT_EQ(first(false, 0.75f, 1, ones, true), wide ? Pixels({A, W, 0, 0, A, W - 14403, 14403, 14403})
                                                       : Pixels({A, 255, 0, 0, A, 235, 20, 20}));
    EXPECT_EQ(first(true, 0.75f, 1, halves), wide ? Pixels({A, 12304, 8224, 5247}) : Pixels({A, 191, 128, 135}));

    // amount, draw -> green (the identity) of a monochrome pixel
    const struct {
        float amount;
        uint32_t draw, green;
    } narrow[] = {{1, 128, 1}, {1, 300, 173}, {1, 382, 255}, {1, 511, 0}, {0x1.020202p-1f, 300, 40}, {0x1.0101p-9f, 300, 128}},
      sixteen[] = {{1, 300, 0}, {1, 8161, 1}, {1, 20000, 11840}, {1, 32767, 16384}, {0.75f, 300, 0}, {0.75f, 20000, 15936}};
    for (const auto& k : wide ? sixteen : narrow)
        EXPECT_EQ(first(false, k.amount, stateBefore(k.draw), ones)[2], k.green) << "amount " << k.amount << " draw " << k.draw;
}

// Every sample of the layer is its formula's, on frames small and large enough for tables,
// with the tables given or their settings handed over (the lanes), monochrome and colour,
// strengths 0 to 100 %, with and without suppression, amplitudes up to the full range.
TYPED_TEST(Grain, NoiseFollowsAPlainGenerator) {
    using Tag = TypeParam;
    const struct {
        bool colour;
        float amount, red, green, blue, black, white;
    } cases[] = {{true, 0.75f, 28.22f, 35.54f, 100, 20, 10}, {false, 0.75f, 28.22f, 35.54f, 100, 20, 10},
                 {true, 1.0f, 0, 60, 40, 0, float(Tag::white)}, {false, 0.3f, 100, 100, 100, 5, 200},
                 {true, 0.05f, 100, 0, 100, 255, 0}};
    for (const auto& [w, h] : {std::pair{23u, 5u}, std::pair{200u, 170u}}) {
        AcfPtr<Image> picture = image<Tag>(w, h, w + h);
        for (const auto& k : cases) {
            Curves<Tag> curves;
            GrainChannelCurves<Tag>(k.red, k.green, k.blue, curves.c);
            std::vector<float> weights(Tag::white + 1);
            GrainSuppressionWeights(int32_t(Tag::white), k.black, k.white, weights.data());
            const grain_noise::Shaping shaping{{k.red, k.green, k.blue}, k.black, k.white};
            const uint32_t seed = w * 1000 + uint32_t(k.amount * 100);
            const std::vector<uint32_t> want = plainNoise<Tag>(k.colour, k.amount, seed, curves, weights, *picture.get());
            SCOPED_TRACE(::testing::Message() << w << "x" << h << " colour " << k.colour << " amount " << k.amount);
            EXPECT_EQ(noiseOf<Tag>(k.colour, k.amount, seed, curves, weights, *picture.get()), want);
            EXPECT_EQ(noiseOf<Tag>(k.colour, k.amount, seed, curves, weights, *picture.get(), &shaping), want);
        }
    }
}

// At the defaults each channel's spread on a flat picture is its strength's share of blue's
// (the curves squeeze linearly toward mid grey).
TYPED_TEST(Grain, NoiseStrengthsAtTheDefaults) {
    using Tag = TypeParam;
    const GrainArgs a;
    Curves<Tag> curves;
    GrainChannelCurves<Tag>(a.red, a.green, a.blue, curves.c);
    std::vector<float> weights(Tag::white + 1);
    GrainSuppressionWeights(int32_t(Tag::white), a.black, a.white, weights.data());
    const grain_noise::Shaping shaping{{a.red, a.green, a.blue}, a.black, a.white};
    AcfPtr<Image> picture = image<Tag>(200, 170, 0);
    picture->fill(Tag::white, Tag::white / 2, Tag::white / 2, Tag::white / 2);
    const std::vector<uint32_t> layer = noiseOf<Tag>(a.colour, a.amount, 5, curves, weights, *picture.get(), &shaping);
    double spread[4];
    for (int c = 1; c < 4; ++c) {
        double sum = 0, squares = 0;
        const double n = double(layer.size() / 4);
        for (size_t i = size_t(c); i < layer.size(); i += 4) sum += layer[i], squares += double(layer[i]) * layer[i];
        spread[c] = std::sqrt(squares / n - (sum / n) * (sum / n));
    }
    EXPECT_NEAR(spread[1] / spread[3], 0.2822, 0.005);
    EXPECT_NEAR(spread[2] / spread[3], 0.3554, 0.005);
}

// Softness 2 is a 3-tap box, 0 the identity, 1 the taps 0.5, 1, 0.5 over 2. No radius above 0
// leaves the destination alone; a huge one is held, not looped over.
TYPED_TEST(Grain, BlurKernelsOfTheWorkedExamples) {
    using Tag = TypeParam;
    AcfPtr<Image> im = image<Tag>(13, 7, 21);
    checkBlur<Tag>(*im.get(), 1.0f, 0.0f, 1.0f, [](const std::vector<int64_t>& p, int c) {
        std::vector<int64_t> out;
        const int64_t last = int64_t(p.size()) - 1;
        for (int64_t x = 0; x <= last; ++x)
            out.push_back(c == 2 ? p[x] : (p[std::max<int64_t>(x - 1, 0)] + p[x] + p[std::min(x + 1, last)]) / 3);
        return out;
    });
    for (uint32_t i = 0; i < 13 * 7; ++i)
        for (int c = 1; c < 4; ++c) im->setChannel(i % 13, i / 13, c, im->channel(i % 13, i / 13, c) & ~1u);
    checkBlur<Tag>(*im.get(), 0.5f, 0.5f, 0.5f, [](const std::vector<int64_t>& p, int) {
        std::vector<int64_t> out;
        const int64_t last = int64_t(p.size()) - 1;
        for (int64_t x = 0; x <= last; ++x) out.push_back((p[std::max<int64_t>(x - 1, 0)] + 2 * p[x] + p[std::min(x + 1, last)]) / 4);
        return out;
    });

    AcfPtr<Image> out = image<Tag>(9, 4, 3), held = image<Tag>(9, 4, 3);
    const std::vector<uint32_t> before = snapshot(*out.get());
    for (float r : {0.0f, -2.0f, kNaN}) GrainBlur<Tag>(r, 0.0f, -kInf, true, descOf(*im.get()), descOf(*out.get()));
    EXPECT_EQ(snapshot(*out.get()), before);
    GrainBlur<Tag>(kInf, 1e30f, kNaN, false, descOf(*im.get()), descOf(*out.get()));
    GrainBlur<Tag>(kMaxGrainRadius, kMaxGrainRadius, 0.0f, false, descOf(*im.get()), descOf(*held.get()));
    EXPECT_EQ(snapshot(*out.get()), snapshot(*held.get()));
}

TYPED_TEST(Grain, AmountZeroLeavesThePictureAlmostAsItWas) {
    StageFrame f(kLayout<TypeParam>, 19, 11, 5);
    makeOpaque(f.out());
    const std::vector<uint32_t> before = snapshot(f.out());
    GrainArgs a;
    a.amount = 0;
    a.softRed = a.softGreen = a.softBlue = 0;  // softening truncates, lowering a flat layer
    ASSERT_EQ(grain<TypeParam>(f, 3, a), STATUS_OK);
    // The layer sits at the curves' entry for mid grey: in 8-bit hard light then moves d by at
    // most 2; in 16-bit the entry lies between 8192 and 8224, at most 0.56 x 64 + 1 = 37.
    const int64_t bound = kIs16Bit<TypeParam> ? 37 : 2;
    const std::vector<uint32_t> after = snapshot(f.out());
    for (size_t i = 0; i < after.size(); ++i) ASSERT_LE(std::abs(int64_t(after[i]) - int64_t(before[i])), bound) << i;
}

// The stage is its steps: weights and curves into the instance's tables, noise seeded by the
// frame number, each softness halved into a radius, the layer in hard light at 56 %; by rows
// (radii up to 1) or whole, the same result.
TYPED_TEST(Grain, TheStageIsItsStepsInOrder) {
    using Tag = TypeParam;
    const float softnesses[][3] = {{2, 1, 5.3f}, {2, 1, 0.4f}, {0.1f, 0.2f, 0.4f}, {0, 0, 0}, {1.96f, 1.96f, 1.96f}};
    for (const auto& soft : softnesses) {
        SCOPED_TRACE(::testing::Message() << "softness " << soft[0] << " " << soft[1] << " " << soft[2]);
        GrainArgs a;
        a.softRed = soft[0], a.softGreen = soft[1], a.softBlue = soft[2];
        a.red = a.green = a.blue = 100;
        StageFrame f(kLayout<Tag>, 19, 11, 5);
        std::fill(&f.data.block->curveTables[0][0], &f.data.block->curveTables[2][0] + kCurveTableEntries, 77);
        ASSERT_EQ(grain<Tag>(f, -9, a), STATUS_OK);

        AcfPtr<Image> picture = image<Tag>(19, 11, 5), layer = image<Tag>(19, 11, 0), buffer = image<Tag>(19, 11, 0);
        Curves<Tag> curves;
        GrainChannelCurves<Tag>(100, 100, 100, curves.c);
        std::vector<float> weights(size_t(Tag::white + 1));
        GrainSuppressionWeights(int32_t(Tag::white), a.black, a.white, weights.data());
        GrainNoise<Tag>(true, a.amount, uint32_t(-9), curves.c, weights.data(), descOf(*picture.get()),
                        descOf(*layer.get()));
        const float r[3] = {soft[0] / 2, soft[1] / 2, soft[2] / 2};
        GrainBlur<Tag>(r[0], r[1], r[2], false, descOf(*layer.get()), descOf(*buffer.get()));
        GrainBlur<Tag>(r[0], r[1], r[2], true, descOf(*buffer.get()), descOf(*layer.get()));
        BlendImages<Tag>(nullptr, BLEND_HARD_LIGHT, 0.56f, 1.0f, descOf(*layer.get()), descOf(*picture.get()),
                         descOf(*picture.get()));
        EXPECT_EQ(snapshot(f.out()), snapshot(*picture.get()));
        EXPECT_TRUE(std::equal(weights.begin(), weights.end(), f.data.block->grainSuppressionWeights));
    }
}

// The grain layer, then the blur buffer, refused. Parameters no host should send render
// within range.
TYPED_TEST(Grain, FailuresAndForeignParameters) {
    using Tag = TypeParam;
    for (int refused : {1, 2}) {
        StageFrame f(kLayout<Tag>, 19, 11, 5);
        expectRefusalLeavesTheFrame(f, refused, [&] { return grain<Tag>(f, 1, GrainArgs{}); });
    }
    StageFrame f(kLayout<Tag>, 7, 5, 3);
    for (float v : {kNaN, kInf, -kInf, 1e30f, -1e30f}) {
        f.start();
        if (kIs16Bit<Tag>) f.out().setChannel(2, 2, 1, 65535), f.out().setChannel(3, 3, 2, 20000);
        ASSERT_EQ(grain<Tag>(f, INT32_MIN, GrainArgs{true, v, v, v, v, v, v, v, v, v}), STATUS_OK) << v;
        expectInRange(f.out());
    }
}

TEST(GrainDepths, EightAndSixteenBitLookAlikeInTheirStatistics) {
    // The noise differs pixel by pixel (the modulus is 257 or 16385), so only its statistics
    // can agree: the mean and spread of (out - in) / white per channel. No suppression, full
    // strengths, amount 0.5 (above it the 16-bit grain turns darker by design). About 2000
    // independent samples know a spread to 2 %: 6 % allowed; truncations: 2 levels of mean.
    constexpr uint32_t w = 160, h = 120;
    StageFrame eight(PixelLayout::BGRA8, w, h), sixteen(PixelLayout::ARGB16, w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) eight.in().setChannel(x, y, c, c == 0 ? 255 : uint32_t(40 + (x + 2 * y + 50 * c) % 170));
    sameInputInSixteenBits(eight, sixteen);
    GrainArgs a;
    a.amount = 0.5f;
    a.red = a.green = a.blue = 100;
    a.black = a.white = 0;
    a.softRed = a.softGreen = a.softBlue = 1;
    ASSERT_EQ(grain<PIXEL_BGRA8>(eight, 12, a), STATUS_OK);
    ASSERT_EQ(grain<PIXEL_ARGB14>(sixteen, 12, a), STATUS_OK);
    const std::vector<uint32_t> in8 = snapshot(eight.in()), in16 = snapshot(sixteen.in());
    const std::vector<uint32_t> out8 = snapshot(eight.out()), out16 = snapshot(sixteen.out());
    for (int c = 1; c < 4; ++c) {
        double m8 = 0, m16 = 0, s8 = 0, s16 = 0;
        const double n = w * h;
        for (size_t i = size_t(c); i < out8.size(); i += 4) {
            const double d8 = (double(out8[i]) - in8[i]) / 255.0, d16 = (double(out16[i]) - in16[i]) / 16384.0;
            m8 += d8 / n, m16 += d16 / n, s8 += d8 * d8 / n, s16 += d16 * d16 / n;
        }
        s8 = std::sqrt(s8 - m8 * m8), s16 = std::sqrt(s16 - m16 * m16);
        SCOPED_TRACE(::testing::Message() << "channel " << c << " means " << m8 << " " << m16 << " spreads " << s8 << " " << s16);
        EXPECT_NEAR(m8, m16, 2.0 / 255.0);
        EXPECT_NEAR(s8 / s16, 1.0, 0.06);
    }
}

TYPED_TEST(Grain, TheDriverPassesTheSettings) {
    using Tag = TypeParam;
    ChainFrame chain(kLayout<Tag>, 15, 8, 4,
                     {{"DoGrain", 1}, {"AmountGrain", 0.6}, {"Red", 50}, {"SoftnessRed", 3}, {"SuppressBlack", 5}});
    ASSERT_EQ(chain.render(8), STATUS_OK);
    StageFrame direct(kLayout<Tag>, 15, 8, 4);
    GrainArgs a;  // the defaults for the rest
    a.amount = 0.6f, a.red = 50, a.softRed = 3, a.black = 5;
    ASSERT_EQ(grain<Tag>(direct, 8, a), STATUS_OK);
    EXPECT_EQ(snapshot(chain.out()), snapshot(direct.out()));
}
