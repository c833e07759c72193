// Grain: weights, curves, the noise pass, the softening blur and the stage through the host,
// in every pixel format. Expectations are worked examples, plain formulations
// written out here, invariants and statistics.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/Kernels.h"
#include "pipeline/Pipeline.h"
#include "refhost/Faults.h"
#include "stages/tone/Grain.h"
#include "stages/tone/GrainBlur.h"

using namespace refhost;
using namespace testing_support;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

template <class Tag>
constexpr PixelLayout kLayout = std::is_same_v<Tag, PIXEL_ARGB8>    ? PixelLayout::ARGB8
                                : std::is_same_v<Tag, PIXEL_BGRA8>  ? PixelLayout::BGRA8
                                : std::is_same_v<Tag, PIXEL_ARGB14> ? PixelLayout::ARGB16
                                                                    : PixelLayout::BGRA16;

// The C runtime's generator written out.
struct Lcg {
    uint32_t s;
    int64_t draw() {
        s = uint32_t(uint64_t(s) * 214013u + 2531011u);
        return (s >> 16) & 0x7FFF;
    }
};

template <class Tag>
AcfPtr<Image> image(uint32_t w, uint32_t h, uint32_t seed) {
    ImageSpec spec;
    spec.width = w, spec.height = h, spec.layout = kLayout<Tag>, spec.rowPadding = 12;
    AcfPtr<Image> im(new Image(spec));
    im->fillRandom(seed);
    return im;
}

RasterDesc descOf(Image& im) {
    RasterDesc d;
    d.pixels = im.pixels(), d.width = int32_t(im.spec().width), d.height = int32_t(im.spec().height);
    d.rowBytes = im.rowBytes(), d.bytesPerPixel = uint32_t(im.bytesPerPixel());
    return d;
}

std::vector<uint32_t> snapshot(const Image& im) {
    std::vector<uint32_t> v;
    for (uint32_t y = 0; y < im.spec().height; ++y)
        for (uint32_t x = 0; x < im.spec().width; ++x)
            for (int c = 0; c < 4; ++c) v.push_back(im.channel(x, y, c));
    return v;
}

// The weighting of a mapped noise value written out, in single precision.
template <class Tag>
int64_t weighted(int64_t mapped, float w) {
    constexpr bool wide = kIs16Bit<Tag>;
    const float inv = wide ? 1.0f / 16384.0f : 0.003921569f, grey = wide ? 8224.0f : 128.0f;
    const float v = (float(mapped) * inv * w + (1.0f - w) * grey * inv) * float(Tag::white);
    return std::clamp<int64_t>(int64_t(v), 0, Tag::white);
}

struct GrainArgs {
    bool colour = true;
    float amount = 0.75f, red = 28.22f, green = 35.54f, blue = 100.0f;
    float softRed = 0.1f, softGreen = 0.2f, softBlue = 0.4f, black = 20.0f, white = 10.0f;
};

// One output image with the effect's instance data, for calling the stage as the driver does.
template <class Tag>
struct Rig {
    RegisteredEffect reg;
    std::unique_ptr<FrameSetup> f;
    InstanceData data;

    explicit Rig(uint32_t w = 19, uint32_t h = 11, uint32_t seed = 5) {
        ImageSpec spec;
        spec.width = w, spec.height = h, spec.layout = kLayout<Tag>, spec.rowPadding = 12;
        f = std::make_unique<FrameSetup>(reg.host.get(), spec, reg.defaults());
        f->input->fillRandom(seed);
        f->output->fillRandom(seed);
        EXPECT_EQ(createInstanceData(*f->services, data), 0);
        f->services->setInstanceData(&data);
    }
    ~Rig() { destroyInstanceData(*f->services, data); }
    Image& out() { return *f->output.get(); }
    int64_t liveBlocks() { return reg.host->memory().liveBlocks(); }
    Status grain(int32_t frame, const GrainArgs& a) {
        f->services->mFrameNumber = frame;
        RasterHolder in(f->services->inputRaster(0), f->services.get(), false, true);
        RasterHolder out(f->services->outputRaster(), f->services.get(), false, true);
        return GrainStage<Tag>(::FrameContext{}, *f->services, in, out, a.colour, a.amount, a.red, a.green, a.blue,
                               a.softRed, a.softGreen, a.softBlue, a.black, a.white);
    }
};

// The blur written out per output sample rather than as running sums: every tap's truncated
// terms over the window, plus what the exact start sum differs from those same terms.
template <class Tag>
std::vector<int64_t> plainBlurLine(const std::vector<int64_t>& p, float radius) {
    const float r = radius > 0 ? radius : 0;
    const int64_t R = int64_t(std::ceil(r)), last = int64_t(p.size()) - 1;
    if (R == 0) return p;
    const float f = 1.0f - (float(R) - r), g = 1.0f - f, k = 1.0f / (float(2 * R - 1) + 2.0f * f);
    const auto at = [&](int64_t i) { return p[size_t(std::clamp<int64_t>(i, 0, last))]; };
    const auto E = [&](int64_t v) { return int64_t(float(v) * f); };
    const auto G = [&](int64_t v) { return int64_t(float(v) * g); };
    const int64_t start = int64_t(float(p[0] * 2) * f + float(p[0] * (2 * R - 1)));
    const int64_t drift = start - (2 * E(p[0]) + (2 * R - 1) * (E(p[0]) + G(p[0])));
    std::vector<int64_t> out;
    for (int64_t x = 0; x <= last; ++x) {
        int64_t sum = drift + E(at(x - R)) + E(at(x + R));
        for (int64_t o = 1 - R; o <= R - 1; ++o) sum += E(at(x + o)) + G(at(x + o));
        out.push_back(std::clamp<int64_t>(int64_t(float(sum) * k), 0, Tag::white));
    }
    return out;
}

// Checks both passes of GrainBlur on `im` against `expected(line, channel)` per row or column.
template <class Tag, class Expect>
void checkBlur(Image& im, float rr, float rg, float rb, Expect expected) {
    const uint32_t w = im.spec().width, h = im.spec().height;
    for (bool vertical : {false, true}) {
        AcfPtr<Image> out = image<Tag>(w, h, 77);
        GrainBlur<Tag>(rr, rg, rb, vertical, descOf(im), descOf(*out.get()));
        for (uint32_t line = 0; line < (vertical ? w : h); ++line)
            for (int c = 1; c < 4; ++c) {
                std::vector<int64_t> p;
                for (uint32_t i = 0; i < (vertical ? h : w); ++i)
                    p.push_back(vertical ? im.channel(line, i, c) : im.channel(i, line, c));
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
class GrainTyped : public ::testing::Test {};
using AllTags = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;
TYPED_TEST_SUITE(GrainTyped, AllTags);

TYPED_TEST(GrainTyped, ChannelCurvesSqueezeTowardMidGrey) {
    using Tag = TypeParam;
    constexpr int64_t W = Tag::white;
    std::vector<typename Tag::Channel> t(3 * (W + 1));
    typename Tag::Channel* curves[3] = {&t[0], &t[W + 1], &t[2 * (W + 1)]};
    GrainChannelCurves<Tag>(100, 100, 100, curves);
    for (int c = 0; c < 3; ++c)
        for (int64_t v = 0; v <= W; ++v) ASSERT_EQ(curves[c][v], v) << "100 % is the identity";

    GrainChannelCurves<Tag>(0, 50, 100, curves);
    for (int64_t v = 0; v <= W; ++v) {
        // 0 %: flat at half; 8-bit ends are trunc(127.5) = 127, the inside trunc(127.5 + 0.5).
        const bool end = v == 0 || v == W;
        ASSERT_EQ(curves[0][v], W == 255 ? (end ? 127 : 128) : 8192) << v;
        // 50 %: output range W/4 .. 3W/4, so v/2 + W/4 rounded; the entry at 0 is trunc(W/4).
        ASSERT_EQ(curves[1][v], v == 0 ? W / 4 : int64_t(double(v) * 0.5 + double(W) / 4 + 0.5)) << v;
        ASSERT_EQ(curves[2][v], v);
    }
}

TYPED_TEST(GrainTyped, NoisePassMatchesAPlainFormulation) {
    using Tag = TypeParam;
    constexpr int64_t W = Tag::white, grey = kIs16Bit<Tag> ? 8224 : 128;
    AcfPtr<Image> picture = image<Tag>(23, 9, 3);
    if (kIs16Bit<Tag>) picture->setChannel(4, 2, 1, 20000), picture->setChannel(5, 2, 3, 65535);  // past white
    std::vector<typename Tag::Channel> t(3 * (W + 1));
    typename Tag::Channel* curves[3] = {&t[0], &t[W + 1], &t[2 * (W + 1)]};
    GrainChannelCurves<Tag>(28.22f, 0.0f, 100.0f, curves);
    std::vector<float> weights(size_t(W + 1));
    GrainSuppressionWeights(int32_t(W), 20, 10, weights.data());

    for (bool colour : {false, true})
        for (float amount : {0.0f, 0.3f, 1.0f, 3.0f, -0.4f, kNaN})
            for (uint32_t seed : {0u, 12345u, uint32_t(-7)}) {
                AcfPtr<Image> layer = image<Tag>(23, 9, 4);
                GrainNoise<Tag>(colour, amount, seed, curves, weights.data(), descOf(*picture.get()), descOf(*layer.get()));
                const int64_t n = std::isnan(amount) ? INT32_MIN : int64_t(double(amount * float(W)) + 0.5);
                Lcg g{seed};
                for (uint32_t y = 0; y < 9; ++y)
                    for (uint32_t x = 0; x < 23; ++x) {
                        int64_t d[3];
                        for (int c = 0; c < 3; ++c) d[c] = colour || c == 0 ? g.draw() % (2 * n + 1) - n : d[0];
                        for (int c = 0; c < 3; ++c) {
                            const int64_t mapped = curves[c][std::clamp<int64_t>(grey + d[c], 0, W)];
                            const float w = weights[std::min<int64_t>(picture->channel(x, y, c + 1), W)];
                            ASSERT_EQ(layer->channel(x, y, c + 1), weighted<Tag>(mapped, w))
                                << "amount " << amount << " seed " << seed << " at " << x << "," << y;
                        }
                        ASSERT_EQ(layer->channel(x, y, 0), uint32_t(fromByte<Tag>(255)));
                    }
                ASSERT_TRUE(layer->guardsIntact());
            }
}

TYPED_TEST(GrainTyped, MonochromeNoiseIsGreyAndZeroStrengthIsFlat) {
    using Tag = TypeParam;
    constexpr int64_t W = Tag::white;
    std::vector<typename Tag::Channel> t(3 * (W + 1));
    typename Tag::Channel* curves[3] = {&t[0], &t[W + 1], &t[2 * (W + 1)]};
    std::vector<float> weights(size_t(W + 1));
    // The weights follow each channel's own picture value, so the layer is grey on a grey
    // picture, or on any picture when no value is suppressed.
    AcfPtr<Image> grey = image<Tag>(17, 6, 8), colourful = image<Tag>(17, 6, 9);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 17; ++x) grey->setChannel(x, y, 2, grey->channel(x, y, 1)), grey->setChannel(x, y, 3, grey->channel(x, y, 1));
    GrainChannelCurves<Tag>(40, 40, 40, curves);
    const auto greyPixels = [&](Image& picture, bool colour, float black, float white) {
        GrainSuppressionWeights(int32_t(W), black, white, weights.data());
        AcfPtr<Image> layer = image<Tag>(17, 6, 1);
        GrainNoise<Tag>(colour, 0.8f, 99, curves, weights.data(), descOf(picture), descOf(*layer.get()));
        int count = 0;
        for (uint32_t y = 0; y < 6; ++y)
            for (uint32_t x = 0; x < 17; ++x)
                count += layer->channel(x, y, 1) == layer->channel(x, y, 2) && layer->channel(x, y, 2) == layer->channel(x, y, 3);
        return count;
    };
    EXPECT_EQ(greyPixels(*grey.get(), false, 20, 10), 17 * 6);
    EXPECT_EQ(greyPixels(*colourful.get(), false, 0, float(W)), 17 * 6);
    EXPECT_LT(greyPixels(*grey.get(), true, 20, 10), 17 * 3) << "colour noise is not grey";

    // Red at 0 %: the red layer no longer depends on the draws (amount 0.4 keeps every
    // noisy value off the ends, where the 8-bit flat table holds 127).
    GrainChannelCurves<Tag>(0, 60, 100, curves);
    GrainSuppressionWeights(int32_t(W), 20, 10, weights.data());
    AcfPtr<Image> a = image<Tag>(17, 6, 1), b = image<Tag>(17, 6, 1);
    GrainNoise<Tag>(true, 0.4f, 1, curves, weights.data(), descOf(*colourful.get()), descOf(*a.get()));
    GrainNoise<Tag>(true, 0.4f, 2, curves, weights.data(), descOf(*colourful.get()), descOf(*b.get()));
    int greenDiffers = 0;
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 17; ++x) {
            const float w = weights[std::min<int64_t>(colourful->channel(x, y, 1), W)];
            ASSERT_EQ(a->channel(x, y, 1), weighted<Tag>(W == 255 ? 128 : 8192, w));
            ASSERT_EQ(b->channel(x, y, 1), a->channel(x, y, 1));
            greenDiffers += a->channel(x, y, 2) != b->channel(x, y, 2);
        }
    EXPECT_GT(greenDiffers, 17 * 3);
}

TYPED_TEST(GrainTyped, BlurKernelsOfTheWorkedExamples) {
    using Tag = TypeParam;
    AcfPtr<Image> im = image<Tag>(13, 7, 21);
    // Radius 1 (softness 2): a 3-tap box; radius 0: the identity.
    checkBlur<Tag>(*im.get(), 1.0f, 0.0f, 1.0f, [](const std::vector<int64_t>& p, int c) {
        std::vector<int64_t> out;
        const int64_t last = int64_t(p.size()) - 1;
        for (int64_t x = 0; x <= last; ++x)
            out.push_back(c == 2 ? p[x] : (p[std::max<int64_t>(x - 1, 0)] + p[x] + p[std::min(x + 1, last)]) / 3);
        return out;
    });
    // Radius 0.5 (softness 1): taps 0.5, 1, 0.5 over 2, exact on even samples.
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 13; ++x)
            for (int c = 1; c < 4; ++c) im->setChannel(x, y, c, im->channel(x, y, c) & ~1u);
    checkBlur<Tag>(*im.get(), 0.5f, 0.5f, 0.5f, [](const std::vector<int64_t>& p, int) {
        std::vector<int64_t> out;
        const int64_t last = int64_t(p.size()) - 1;
        for (int64_t x = 0; x <= last; ++x)
            out.push_back((p[std::max<int64_t>(x - 1, 0)] + 2 * p[x] + p[std::min(x + 1, last)]) / 4);
        return out;
    });
}

TYPED_TEST(GrainTyped, BlurMatchesThePlainWindowForAnyRadius) {
    using Tag = TypeParam;
    std::mt19937 random(7);
    for (uint32_t size : {1u, 2u, 3u, 6u, 11u}) {
        AcfPtr<Image> im = image<Tag>(size, size + 2, size);
        for (int trial = 0; trial < 6; ++trial) {
            float radii[3];
            for (float& r : radii) r = std::uniform_real_distribution<float>(-0.5f, 9.0f)(random);
            SCOPED_TRACE(::testing::Message() << size << ": " << radii[0] << " " << radii[1] << " " << radii[2]);
            checkBlur<Tag>(*im.get(), radii[0], radii[1], radii[2],
                           [&](const std::vector<int64_t>& p, int c) { return plainBlurLine<Tag>(p, radii[c - 1]); });
        }
    }
    // No radius above 0 leaves the destination alone; a huge one is held, not looped over.
    AcfPtr<Image> im = image<Tag>(9, 4, 2), out = image<Tag>(9, 4, 3), held = image<Tag>(9, 4, 3);
    const std::vector<uint32_t> before = snapshot(*out.get());
    for (float r : {0.0f, -2.0f, kNaN}) GrainBlur<Tag>(r, 0.0f, -kInf, true, descOf(*im.get()), descOf(*out.get()));
    EXPECT_EQ(snapshot(*out.get()), before);
    GrainBlur<Tag>(kInf, 1e30f, kNaN, false, descOf(*im.get()), descOf(*out.get()));
    GrainBlur<Tag>(kMaxGrainRadius, kMaxGrainRadius, 0.0f, false, descOf(*im.get()), descOf(*held.get()));
    EXPECT_EQ(snapshot(*out.get()), snapshot(*held.get()));
}

TYPED_TEST(GrainTyped, AmountZeroLeavesThePictureAlmostAsItWas) {
    using Tag = TypeParam;
    Rig<Tag> rig;
    for (uint32_t y = 0; y < 11; ++y)
        for (uint32_t x = 0; x < 19; ++x) rig.out().setChannel(x, y, 0, rig.out().white());
    const std::vector<uint32_t> before = snapshot(rig.out());
    GrainArgs a;
    a.amount = 0;
    a.softRed = a.softGreen = a.softBlue = 0;  // softening truncates, lowering a flat layer
    ASSERT_EQ(rig.grain(3, a), STATUS_OK);
    // The layer sits at the curves' entry for mid grey: 128 in 8-bit, whatever the strength,
    // and hard light with 128 gives 255 - ((254 (255 - d) + 128) >> 8), at most 2 above d;
    // the 56 % mix keeps the change within 2. In 16-bit the entry lies between 8192 (the
    // threshold, neutral) and 8224, which lifts a channel by at most 64 before the mix, so by
    // at most 0.56 x 64 + 1 = 37.
    const int64_t bound = kIs16Bit<TypeParam> ? 37 : 2;
    const std::vector<uint32_t> after = snapshot(rig.out());
    for (size_t i = 0; i < after.size(); ++i) ASSERT_LE(std::abs(int64_t(after[i]) - int64_t(before[i])), bound) << i;
}

TYPED_TEST(GrainTyped, RepeatablePerFrameNumber) {
    using Tag = TypeParam;
    Rig<Tag> rig;  // its input holds the starting picture
    const auto render = [&rig](int32_t frame) {
        rig.f->services->copyInputToOutput();
        EXPECT_EQ(rig.grain(frame, GrainArgs{}), STATUS_OK);
        EXPECT_TRUE(rig.out().guardsIntact());
        return snapshot(rig.out());
    };
    const auto differing = [](const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        size_t n = 0;
        for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
        return n;
    };
    const std::vector<uint32_t> first = render(41);
    EXPECT_EQ(render(41), first);
    EXPECT_GT(differing(render(42), first), first.size() / 3);
    EXPECT_GT(differing(render(-5), render(5)), first.size() / 3) << "the seed keeps the frame number's sign";
    for (int32_t frame : {INT32_MIN, INT32_MAX}) render(frame);
}

TYPED_TEST(GrainTyped, TheStageIsItsStepsInOrder) {
    using Tag = TypeParam;
    constexpr int64_t W = Tag::white;
    GrainArgs a;
    a.softRed = 2, a.softGreen = 1, a.softBlue = 5.3f;
    Rig<Tag> rig;
    AcfPtr<Image> picture = image<Tag>(19, 11, 5), layer = image<Tag>(19, 11, 0), buffer = image<Tag>(19, 11, 0);
    // Post contrast may have left anything in the shared tables; strengths of 100 % still
    // give the identity.
    std::fill(&rig.data.block->curveTables[0][0], &rig.data.block->curveTables[2][0] + kCurveTableEntries, 77);
    a.red = a.green = a.blue = 100;
    ASSERT_EQ(rig.grain(-9, a), STATUS_OK);

    std::vector<typename Tag::Channel> t(3 * (W + 1));
    typename Tag::Channel* curves[3] = {&t[0], &t[W + 1], &t[2 * (W + 1)]};
    GrainChannelCurves<Tag>(100, 100, 100, curves);
    std::vector<float> weights(size_t(W + 1));
    GrainSuppressionWeights(int32_t(W), a.black, a.white, weights.data());
    GrainNoise<Tag>(true, a.amount, uint32_t(-9), curves, weights.data(), descOf(*picture.get()), descOf(*layer.get()));
    GrainBlur<Tag>(1.0f, 0.5f, 2.65f, false, descOf(*layer.get()), descOf(*buffer.get()));
    GrainBlur<Tag>(1.0f, 0.5f, 2.65f, true, descOf(*buffer.get()), descOf(*layer.get()));
    BlendImages<Tag>(nullptr, BLEND_HARD_LIGHT, 0.56f, 1.0f, descOf(*layer.get()), descOf(*picture.get()), descOf(*picture.get()));
    EXPECT_EQ(snapshot(rig.out()), snapshot(*picture.get()));
    EXPECT_TRUE(std::equal(weights.begin(), weights.end(), rig.data.block->grainSuppressionWeights));
}

TYPED_TEST(GrainTyped, FailuresLeaveTheOutputAndNoMemory) {
    using Tag = TypeParam;
    for (int refused : {1, 2}) {  // the grain layer, then the blur buffer
        Rig<Tag> rig;
        const std::vector<uint32_t> before = snapshot(rig.out());
        const int64_t live = rig.liveBlocks();
        faults().reset();
        faults().failAllocationAt = refused;
        EXPECT_EQ(rig.grain(1, GrainArgs{}), STATUS_NO_RASTER) << refused;
        faults().reset();
        EXPECT_EQ(snapshot(rig.out()), before);
        EXPECT_EQ(rig.liveBlocks(), live);
    }
}

TYPED_TEST(GrainTyped, AnyParameterValueRendersWithinRange) {
    using Tag = TypeParam;
    Rig<Tag> rig(7, 5, 3);
    for (float v : {kNaN, kInf, -kInf, 1e30f, -1e30f}) {
        rig.f->services->copyInputToOutput();
        if (kIs16Bit<Tag>) rig.out().setChannel(2, 2, 1, 65535), rig.out().setChannel(3, 3, 2, 20000);
        GrainArgs a{true, v, v, v, v, v, v, v, v, v};
        ASSERT_EQ(rig.grain(INT32_MIN, a), STATUS_OK) << v;
        for (uint32_t value : snapshot(rig.out())) ASSERT_LE(value, rig.out().white());
        EXPECT_TRUE(rig.out().guardsIntact());
    }
}

TYPED_TEST(GrainTyped, TwoInstancesOnTwoThreadsMatchSerialRenders) {
    using Tag = TypeParam;
    Rig<Tag> one(64, 48, 1), two(64, 48, 2);
    GrainArgs a1, a2;
    a2.colour = false, a2.amount = 0.4f, a2.softRed = 3;
    one.grain(10, a1), two.grain(11, a2);
    const std::vector<uint32_t> want1 = snapshot(one.out()), want2 = snapshot(two.out());
    const auto again = [](Rig<Tag>& rig, int32_t frame, const GrainArgs& a) {
        for (int i = 0; i < 20; ++i) {
            rig.f->services->copyInputToOutput();  // the input holds the starting picture
            rig.grain(frame, a);
        }
    };
    std::thread t1([&] { again(one, 10, a1); }), t2([&] { again(two, 11, a2); });
    t1.join(), t2.join();
    EXPECT_EQ(snapshot(one.out()), want1);
    EXPECT_EQ(snapshot(two.out()), want2);
}

TEST(GrainDepths, EightAndSixteenBitLookAlikeInTheirStatistics) {
    // The same picture in both depths. The noise differs pixel by pixel (offsets are the
    // draws modulo 2n + 1: 257 in 8-bit, 16385 in 16-bit), so only its statistics can agree:
    // per channel, the mean and spread of (out - in) / white. Conditions chosen so that they
    // should: no suppression (the weights are then the same fractions in both depths), full
    // strengths (a spread of about 10 levels, far above 8-bit rounding) and amount 0.5. Above
    // 0.5 the 16-bit modulus passes half the draw range, the low remainders come twice as
    // often and the 16-bit grain turns darker than the 8-bit grain by design.
    // Tolerances: 19200 pixels blurred over about 3 x 3 leave some 2000 independent samples,
    // so a spread is known to about 2 %: 6 % allowed. Each 8-bit truncation of the layer
    // (weighting, two blur passes) loses half a level on average, the blend's rounding
    // another half: 2 levels allowed between the means.
    constexpr uint32_t w = 160, h = 120;
    Rig<PIXEL_BGRA8> eight(w, h, 1);
    Rig<PIXEL_ARGB14> sixteen(w, h, 1);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                const uint32_t v = c == 0 ? 255 : uint32_t(40 + (x + 2 * y + 50 * c) % 170);
                eight.out().setChannel(x, y, c, v);
                sixteen.out().setChannel(x, y, c, uint32_t(std::lround(v * 16384.0 / 255.0)));
            }
    const std::vector<uint32_t> in8 = snapshot(eight.out()), in16 = snapshot(sixteen.out());
    GrainArgs a;
    a.amount = 0.5f;
    a.red = a.green = a.blue = 100;
    a.black = a.white = 0;
    a.softRed = a.softGreen = a.softBlue = 1;
    ASSERT_EQ(eight.grain(12, a), STATUS_OK);
    ASSERT_EQ(sixteen.grain(12, a), STATUS_OK);
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
        EXPECT_GT(s8, 6.0 / 255.0) << "grain is visible";
        EXPECT_NEAR(m8, m16, 2.0 / 255.0);
        EXPECT_NEAR(s8 / s16, 1.0, 0.06);
    }
}

TEST(GrainPipeline, TheDriverPassesTheSettings) {
    for (PixelLayout layout : kAllLayouts) {
        if (layout != PixelLayout::BGRA8 && layout != PixelLayout::ARGB16) continue;
        RegisteredEffect reg;
        auto values = reg.defaults();
        const auto set = [&](int slot, double v) { values->set(*slotIdentifier(slot), values->track(*slotIdentifier(slot))->type, v); };
        set(41, 1), set(44, 0.6), set(45, 50), set(48, 3), set(51, 5);
        ImageSpec spec;
        spec.width = 15, spec.height = 8, spec.layout = layout, spec.rowPadding = 8;
        FrameSetup f(reg.host.get(), spec, values);
        f.input->fillRandom(4);
        InstanceData data;
        ASSERT_EQ(createInstanceData(*f.services, data), 0);
        f.services->setInstanceData(&data);
        f.services->mFrameNumber = 8;
        ASSERT_EQ(RenderFrame(*f.services), STATUS_OK);
        const std::vector<uint32_t> rendered = snapshot(*f.output.get());
        f.services->copyInputToOutput();
        RasterHolder in(f.services->inputRaster(0), f.services.get(), false, true);
        RasterHolder out(f.services->outputRaster(), f.services.get(), false, true);
        const auto stage = layout == PixelLayout::BGRA8 ? &GrainStage<PIXEL_BGRA8> : &GrainStage<PIXEL_ARGB14>;
        // Defaults for the rest: colour noise on, green 35.54, blue 100, softness 0.2 and 0.4, white 10.
        ASSERT_EQ(stage(::FrameContext{}, *f.services, in, out, true, 0.6f, 50, 35.54f, 100, 3, 0.2f, 0.4f, 5, 10), 0);
        EXPECT_EQ(snapshot(*f.output.get()), rendered);
        destroyInstanceData(*f.services, data);
    }
}
