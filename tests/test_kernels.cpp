// Compositing, blur, copy and curve kernels, the value ranges and ImageBuffer. Expectations
// are worked by hand from the formulas, come from a plain window sum, or are properties that
// every mode keeps.
#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "StageTestSupport.h"
#include "lib/Common/Diagnostics.h"
#include "lib/Common/ExactDivision.h"
#include "lib/Common/ImageBuffer.h"
#include "lib/Common/ImageProc.h"
#include "lib/Common/Kernels.h"

using namespace stage_support;

namespace {

// A, R, G, B of one pixel.
using Px = std::array<int64_t, 4>;

template <class Tag>
AcfPtr<Image> raster(uint32_t w, uint32_t h, int32_t padding = 12) {
    return AcfPtr<Image>(new Image(ImageSpec{w, h, kLayout<Tag>, padding}));
}

Px pixelOf(const Image& im, uint32_t x, uint32_t y) {
    return {im.channel(x, y, 0), im.channel(x, y, 1), im.channel(x, y, 2), im.channel(x, y, 3)};
}

void setPixel(Image& im, uint32_t x, uint32_t y, const Px& p) {
    for (int c = 0; c < 4; ++c) im.setChannel(x, y, c, uint32_t(p[size_t(c)]));
}

constexpr int kModes[] = {2, 4, 5, 6, 35, 7, 8, 9, 10, 11, 12, 23, 24};

// Random pixels with runs of repeated alpha and the alphas where the formulas branch; 16-bit
// images also get a few samples above white, as foreign data may hold.
void fillRandom(Image& im, std::mt19937& rng, bool foreign = true) {
    const uint32_t W = im.white(), top = foreign && im.is16Bit() ? 65535 : W;
    const uint32_t special[] = {0, 1, W / 2, W - 1, W};
    uint32_t alpha = W;
    for (uint32_t y = 0; y < im.shape().height; ++y)
        for (uint32_t x = 0; x < im.shape().width; ++x) {
            if (rng() % 4 == 0) alpha = rng() % 2 ? special[rng() % 5] : rng() % (W + 1);
            const auto sample = [&] { return int64_t(rng() % 50 == 0 ? rng() % (top + 1) : rng() % (W + 1)); };
            setPixel(im, x, y, {rng() % 60 == 0 ? sample() : int64_t(alpha), sample(), sample(), sample()});
        }
}

template <class Tag>
Px compositeOne(int mode, const Px& s, const Px& d, double opacity) {
    AcfPtr<Image> top = raster<Tag>(1, 1), base = raster<Tag>(1, 1);
    setPixel(*top.get(), 0, 0, s);
    setPixel(*base.get(), 0, 0, d);
    EXPECT_EQ(CompositeRect<Tag>(nullptr, mode, descOf(*top.get()), descOf(*base.get()), {0, 0, 1, 1}, {0, 0, 1, 1}, opacity), 0);
    return pixelOf(*base.get(), 0, 0);
}

template <class Tag>
class Kernels : public ::testing::Test {};
TYPED_TEST_SUITE(Kernels, AllFormats);

// Pixels are A, R, G, B.
TYPED_TEST(Kernels, WorkedCompositeExamples) {
    using Tag = TypeParam;
    const int64_t W = Tag::white;
    if constexpr (!kIs16Bit<Tag>) {
        EXPECT_EQ(compositeOne<Tag>(BLEND_MULTIPLY, {255, 255, 255, 255}, {255, 255, 255, 255}, 1.0)[1], 254);
        // s = 200: d = 126 takes (2 s d + 128) >> 8 = 197; d = 127 takes d + ((145 * 128 + 128) >> 8) = 200.
        EXPECT_EQ(compositeOne<Tag>(BLEND_OVERLAY, {255, 200, 200, 200}, {255, 126, 127, 0}, 1.0), (Px{255, 197, 200, 0}));
    } else {
        // Normal, a_s = trunc(16384 * 0.5) = 8192 over an opaque base: a = 16384, w = 8192, A = 16384,
        // c = (((8192 d + 8192) >> 14) + ((8192 s + 8192) >> 14)) * 16385 / 16384:
        // (501 + 1501) * 16385 / 16384 = 2002; 16384 * 16385 / 16384 = 16385, clamped; 1 * 16385 / 16384 = 1.
        EXPECT_EQ(compositeOne<Tag>(BLEND_NORMAL, {16384, 3001, 16384, 1}, {16384, 1001, 16383, 0}, 0.5),
                  (Px{16384, 2002, 16384, 1}));
    }
    // Opaque 200 over opaque 100 in each mode, sc(x) = (x + 128) >> 8: multiply sc(20000);
    // screen 255 - sc(55 x 155); overlay (100 < 127) sc(2 x 200 x 100); soft light
    // 100 + sc((255 - 400)(sc(100 x 100) - 100)); hard light (200 >= 127) 255 - sc(2 x 55 x 155);
    // add and difference min(300, 255) and 100, times 255 / 255; dodge 100 x 255 / 55, held to
    // 255; burn 255 - 155 x 255 / 200. In 16-bit the same with 12800 over 6400, white 16384,
    // sc(x) = (x + 8192) >> 14 and the premultiplied modes times 16385 / 16384.
    const struct {
        int mode;
        int64_t eight, sixteen;
    } modes[] = {{BLEND_NORMAL, 200, 12800},      {BLEND_ADD, 255, 16384},        {BLEND_MULTIPLY, 78, 5000},
                 {BLEND_SCREEN, 222, 14200},      {BLEND_SCREEN_ALT, 222, 14200}, {BLEND_OVERLAY, 156, 10000},
                 {BLEND_SOFT_LIGHT, 135, 8594},   {BLEND_HARD_LIGHT, 188, 12016}, {BLEND_DARKEN, 100, 6400},
                 {BLEND_LIGHTEN, 200, 12800},     {BLEND_DIFFERENCE, 100, 6400},  {BLEND_COLOR_DODGE, 255, 16384},
                 {BLEND_COLOR_BURN, 58, 3605}};
    const int64_t s = kIs16Bit<Tag> ? 12800 : 200, d = kIs16Bit<Tag> ? 6400 : 100;
    for (const auto& k : modes) {
        const int64_t v = kIs16Bit<Tag> ? k.sixteen : k.eight;
        EXPECT_EQ(compositeOne<Tag>(k.mode, {W, s, s, s}, {W, d, d, d}, 1.0), (Px{W, v, v, v})) << "mode " << k.mode;
    }
    // Partly covered, in 8-bit: multiply, a_s = a_d = 128. a = 128 + 128 - sc(128 x 128) = 192;
    // the blend mixed with the source by the base's cover, m' = sc(127 x 200) + sc(78 x 128)
    // = 99 + 39; w = sc(127 x 128) = 64, A = 64 + 128, c = (sc(64 x 100) + sc(138 x 128))
    // x 255 / 192 = (25 + 69) x 255 / 192 = 124. Add, a_s = 64 over a_d = 128: a = 192 - sc(64
    // x 128) = 160, premultiplied sc(200 x 64) + sc(100 x 128) = 100, x 255 / 160 = 159. In
    // 16-bit the same steps with 8192 and 4096 for 128 and 64, and x 16385 at the end.
    const int64_t half = kIs16Bit<Tag> ? 8192 : 128, quarter = kIs16Bit<Tag> ? 4096 : 64;
    EXPECT_EQ(compositeOne<Tag>(BLEND_MULTIPLY, {half, s, s, s}, {half, d, d, d}, 1.0),
              (kIs16Bit<Tag> ? Px{12288, 8067, 8067, 8067} : Px{192, 124, 124, 124}));
    EXPECT_EQ(compositeOne<Tag>(BLEND_ADD, {quarter, s, s, s}, {half, d, d, d}, 1.0),
              (kIs16Bit<Tag> ? Px{10240, 10240, 10240, 10240} : Px{160, 159, 159, 159}));
    // A base of alpha 0 takes the source colour and a_s = trunc(200 * 0.5).
    EXPECT_EQ(compositeOne<Tag>(BLEND_MULTIPLY, {200, 10, 20, 30}, {0, 99, 99, 99}, 0.5), (Px{100, 10, 20, 30}));
    EXPECT_EQ(compositeOne<Tag>(BLEND_COLOR_DODGE, {W, W, W, W}, {W, 77, 0, W}, 1.0), (Px{W, W, W, W}));
    EXPECT_EQ(compositeOne<Tag>(BLEND_COLOR_BURN, {W, 0, 0, 0}, {W, 77, 0, W}, 1.0), (Px{W, 0, 0, 0}));
    // An opaque source in Normal mode replaces any base.
    EXPECT_EQ(compositeOne<Tag>(BLEND_NORMAL, {W, 5, 6, 7}, {W / 3, 200, 100, 50}, 1.0), (Px{W, 5, 6, 7}));
}

// Over random pixels in every mode: opacity 0 changes nothing and every result is in range;
// the result is the same wherever it is written (a separate image, the base, the top); and
// rectangles reaching past both images composite their common part only.
TYPED_TEST(Kernels, EveryModeOnRandomPixels) {
    using Tag = TypeParam;
    std::mt19937 rng(3);
    for (int mode : kModes) {
        SCOPED_TRACE(mode);
        AcfPtr<Image> top = raster<Tag>(21, 6), base = raster<Tag>(21, 6), out = raster<Tag>(21, 6, 8);
        AcfPtr<Image> baseAgain = raster<Tag>(21, 6, 4), topAgain = raster<Tag>(21, 6, 4);
        std::mt19937 same = rng;
        fillRandom(*top.get(), rng, false), fillRandom(*base.get(), rng, false);
        fillRandom(*topAgain.get(), same, false), fillRandom(*baseAgain.get(), same, false);
        const std::vector<uint32_t> before = snapshot(*base.get());
        const RasterDesc t = descOf(*top.get()), b = descOf(*base.get());
        ASSERT_EQ(CompositeRect<Tag>(nullptr, mode, t, b, {0, 0, 6, 21}, {0, 0, 6, 21}, 0.0), 0);
        ASSERT_EQ(BlendImages<Tag>(nullptr, mode, 0.0f, 1.0f, t, b, b), 0);
        EXPECT_EQ(snapshot(*base.get()), before);
        ASSERT_EQ(BlendImages<Tag>(nullptr, mode, 0.8f, 0.6f, t, b, descOf(*out.get())), 0);
        expectInRange(*out.get());
        BlendImages<Tag>(nullptr, mode, 0.8f, 0.6f, t, descOf(*baseAgain.get()), descOf(*baseAgain.get()));
        BlendImages<Tag>(nullptr, mode, 0.8f, 0.6f, descOf(*topAgain.get()), b, descOf(*topAgain.get()));
        EXPECT_EQ(snapshot(*baseAgain.get()), snapshot(*out.get()));
        EXPECT_EQ(snapshot(*topAgain.get()), snapshot(*out.get()));

        AcfPtr<Image> source = raster<Tag>(23, 17), clipped = raster<Tag>(19, 13, 20), exact = raster<Tag>(19, 13, 20);
        fillRandom(*source.get(), rng);
        same = rng;
        fillRandom(*clipped.get(), rng), fillRandom(*exact.get(), same);
        // 20 rows from -3 onto -1 and 15 columns from 5 onto 7: rows 2..12 and columns 7..18
        // of the destination have a source pixel, taken from 2 rows and 2 columns before.
        ASSERT_EQ(CompositeRect<Tag>(nullptr, mode, descOf(*source.get()), descOf(*clipped.get()), {-3, 5, 17, 20},
                                     {-1, 7, 19, 22}, 0.7), 0);
        ASSERT_EQ(CompositeRect<Tag>(nullptr, mode, descOf(*source.get()), descOf(*exact.get()), {0, 5, 11, 17},
                                     {2, 7, 13, 19}, 0.7), 0);
        EXPECT_EQ(snapshot(*clipped.get()), snapshot(*exact.get()));
        EXPECT_TRUE(clipped->guardsIntact());
    }
}

TYPED_TEST(Kernels, MismatchedRectanglesWriteNothing) {
    AcfPtr<Image> source = raster<TypeParam>(12, 12), destination = raster<TypeParam>(12, 12);
    std::mt19937 rng(5);
    fillRandom(*source.get(), rng);
    const RasterDesc s = descOf(*source.get()), d = descOf(*destination.get());
    const std::vector<uint32_t> before = snapshot(*destination.get());
    EXPECT_EQ(CompositeRect<TypeParam>(nullptr, BLEND_NORMAL, s, d, {0, 0, 10, 10}, {0, 0, 11, 10}, 1.0), 1);
    EXPECT_EQ(CompositeRect<TypeParam>(nullptr, 99, s, d, {0, 0, 10, 10}, {1, 1, 11, 11}, 1.0), 0);
    EXPECT_EQ(snapshot(*destination.get()), before);
}

// Each sample is trunc(sum * (1.0 / (2r + 1))) over its window, coordinates clamped to the image.
std::vector<uint32_t> naiveBlur(const Image& from, int radius, bool vertical) {
    const int w = int(from.shape().width), h = int(from.shape().height);
    std::vector<uint32_t> out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) {
                int64_t sum = 0;
                for (int i = -radius; i <= radius; ++i)
                    sum += vertical ? from.channel(uint32_t(x), uint32_t(std::clamp(y + i, 0, h - 1)), c)
                                    : from.channel(uint32_t(std::clamp(x + i, 0, w - 1)), uint32_t(y), c);
                out.push_back(uint32_t(double(sum) * (1.0 / (2 * radius + 1))));
            }
    return out;
}

TYPED_TEST(Kernels, BoxBlurMatchesNaiveWindowSums) {
    using Tag = TypeParam;
    std::mt19937 rng(9);
    for (int radius : {0, 1, 2, 5, 12, 13, 40}) {  // beyond the 13 x 8 frame too
        SCOPED_TRACE(radius);
        AcfPtr<Image> a = raster<Tag>(13, 8), b = raster<Tag>(13, 8, 16);
        fillRandom(*a.get(), rng);
        const std::vector<uint32_t> expectB = radius >= 1 ? naiveBlur(*a.get(), radius, false) : snapshot(*b.get());
        const std::vector<uint32_t> unblurred = snapshot(*a.get());
        BoxBlurHorizontal<Tag>(descOf(*a.get()), descOf(*b.get()), radius);
        EXPECT_EQ(snapshot(*b.get()), expectB);
        const std::vector<uint32_t> expectA = radius >= 1 ? naiveBlur(*b.get(), radius, true) : unblurred;
        BoxBlurVertical<Tag>(descOf(*b.get()), descOf(*a.get()), radius);
        EXPECT_EQ(snapshot(*a.get()), expectA);
        EXPECT_TRUE(a->guardsIntact() && b->guardsIntact());
    }
}

TYPED_TEST(Kernels, FillInvertAndColumnStretch) {
    using Tag = TypeParam;
    AcfPtr<Image> r = raster<Tag>(5, 8);
    FillRaster<Tag>(descOf(*r.get()), 1, 2, 255, 128);
    const Px filled = kIs16Bit<Tag> ? Px{8224, 64, 128, 16383} : Px{128, 1, 2, 255};  // (b << 6) | (b >> 2)
    EXPECT_EQ(pixelOf(*r.get(), 4, 7), filled);
    InvertColor<Tag>(descOf(*r.get()));
    const int64_t W = Tag::white;
    EXPECT_EQ(pixelOf(*r.get(), 2, 3), (Px{filled[0], W - filled[1], W - filled[2], W - filled[3]}));
    EXPECT_TRUE(r->guardsIntact());

    AcfPtr<Image> source = raster<Tag>(3, 8), destination = raster<Tag>(4, 8);
    for (uint32_t y = 0; y < 8; ++y) setPixel(*source.get(), 1, y, {100 + y, 10 * (y + 1), y, 0});
    const RasterDesc s = descOf(*source.get()), d = descOf(*destination.get());
    const auto column = [&](uint32_t x) {
        std::vector<int> v;
        for (uint32_t y = 0; y < 8; ++y) v.push_back(int(destination->channel(x, y, 1)));
        return v;
    };
    ColumnStretchCopy<Tag>(s, 1, 0, 3, d, 2, 0, 7);  // stretch 4 rows to 8
    EXPECT_EQ(column(2), (std::vector<int>{10, 10, 20, 20, 30, 30, 40, 40}));
    EXPECT_EQ(destination->channel(2, 5, 0), 102u);  // whole pixels
    ColumnStretchCopy<Tag>(s, 1, 0, 7, d, 0, 0, 3);  // squeeze 8 rows to 4
    EXPECT_EQ(column(0), (std::vector<int>{10, 30, 60, 80, 0, 0, 0, 0}));
    ColumnStretchCopy<Tag>(s, 1, 0, 3, d, 3, 3, 0);  // upside down
    EXPECT_EQ(column(3), (std::vector<int>{40, 30, 20, 10, 0, 0, 0, 0}));
    // 3 rows to 5: the error starts at 0, which already steps the source.
    ColumnStretchCopy<Tag>(s, 1, 5, 7, d, 3, 3, 7);
    EXPECT_EQ(column(3), (std::vector<int>{40, 30, 20, 60, 70, 70, 80, 80}));
    EXPECT_EQ(column(1), std::vector<int>(8, 0));
    EXPECT_TRUE(destination->guardsIntact());
}

TEST(KernelsCurves, LevelsFollowTheirDefinition) {
    std::vector<uint8_t> t8[3] = {std::vector<uint8_t>(256), std::vector<uint8_t>(256), std::vector<uint8_t>(256)};
    uint8_t* tables8[3] = {t8[0].data(), t8[1].data(), t8[2].data()};
    const double levels[3][5] = {{1, 0, 1, 0, 1}, {2, 0, 1, 0, 1}, {1, 0.2, 0.8, 0.1, 0.9}};
    BuildChannelCurves<uint8_t>(255, levels, tables8);
    for (int v = 0; v <= 255; ++v) ASSERT_EQ(t8[0][size_t(v)], v);
    EXPECT_EQ(t8[1][64], 128);  // trunc(sqrt(64 / 255) * 255 + 0.5) = trunc(128.25)
    // Flat at trunc(0.1 * 255) = 25 up to 51, at trunc(0.9 * 255) = 229 from 204;
    // v = 100: (49 / 153) * 0.8 * 255 + 25.5 + 0.5 = 91.33.
    EXPECT_EQ((std::vector<int>{t8[2][0], t8[2][100], t8[2][255]}), (std::vector<int>{25, 91, 229}));

    std::vector<uint16_t> t16(16385);
    uint16_t* tables16[3] = {t16.data(), nullptr, nullptr};
    BuildChannelCurves<uint16_t>(16384, levels, tables16);
    for (int v = 0; v <= 16384; ++v) ASSERT_EQ(t16[size_t(v)], v);
    uint16_t* allocated[3] = {nullptr, nullptr, nullptr};
    Vel::AERange().BuildChannelCurves(levels, allocated, true);
    ASSERT_TRUE(allocated[0] && allocated[1] && allocated[2]);
    EXPECT_EQ(allocated[0][32768], 32768);
    EXPECT_EQ(allocated[1][8192], 16384);  // sqrt(1/4) * 32768
    for (uint16_t* table : allocated) delete[] table;
}

// White, Half, Clamp above and below, InvWhite.
template <class Range>
std::vector<double> rangeFacts(const Range& r, int above) {
    return {double(r.White()), double(r.Half()), double(r.Clamp(above)), double(r.Clamp(-5)), r.InvWhite()};
}

TEST(KernelsValueRanges, WhiteHalfClampAndWiden) {
    EXPECT_EQ(rangeFacts(*Vel::ImageProcForDepth<unsigned char>(DEPTH_8BIT), 300), (std::vector<double>{255, 128, 255, 0, 1.0 / 255}));
    EXPECT_EQ(rangeFacts(*Vel::ImageProcForDepth<unsigned short>(DEPTH_16BIT), 20000),
              (std::vector<double>{16384, 8192, 16384, 0, 1.0 / 16384}));
    EXPECT_EQ(rangeFacts(*Vel::ImageProcForDepth<unsigned short>(DEPTH_16BIT_32768), 40000),
              (std::vector<double>{32768, 16384, 32768, 0, 1.0 / 32768}));
    EXPECT_EQ(Vel::ImageProcForDepth<unsigned short>(DEPTH_8BIT), nullptr);
    EXPECT_EQ(widen8to16(255), 16383);
}

struct Reports {
    int count = 0;
    std::string condition, unit;
};

TEST(KernelsImageBuffer, EdgeModes) {
    std::vector<uint8_t> memory(10 * 64);
    ImageBuffer b{memory.data(), 7, 5, 64, 0, 0, 7, 5, EDGE_WRAP};
    const auto at = [&](int x, int y) { return b.PixelAt(x, y); };
    const auto address = [&](int x, int y) { return reinterpret_cast<uint16_t*>(memory.data() + y * 64 + x * 8); };
    EXPECT_EQ(at(-1, 0), address(6, 0));
    EXPECT_EQ(at(7, 4), address(0, 4));
    EXPECT_EQ(at(3, -1), address(3, 4));
    b.edgeMode = EDGE_CLAMP;
    EXPECT_EQ(at(-3, 5 + 7), address(0, 4));
    EXPECT_EQ(at(9, -2), address(6, 0));

    Reports reports;
    diag::setAssertionObserver(
        [](const char* condition, const char* unit, int, void* user) {
            auto* r = static_cast<Reports*>(user);
            ++r->count, r->condition = condition, r->unit = unit;
        },
        &reports);
    b.edgeMode = EDGE_STRICT;
    EXPECT_EQ(at(6, 4), address(6, 4));
    EXPECT_EQ(reports.count, 0);
    EXPECT_EQ(at(7, 2), address(0, 0));
    EXPECT_EQ(reports.count, 1);
    EXPECT_EQ(reports.condition + " in " + reports.unit, "x >= 0 && x < mWidth in lib\\Common/ImageBuffer");
    EXPECT_EQ(at(2, -1), address(0, 0));
    EXPECT_EQ(reports.condition, "y >= 0 && y < mHeight");
    diag::setAssertionObserver(nullptr, nullptr);
}

TEST(KernelsExactDivision, AgreesWithHardwareDivision) {
    std::mt19937_64 rng(1);
    const int64_t limit = int64_t(1) << 31;
    for (int64_t d = 1; d <= 40000; ++d)  // either side of multiples, up to the end of the fast range
        for (int64_t k : {int64_t(0), int64_t(1), int64_t(255), int64_t(16385), (limit - 1) / d})
            for (int64_t n : {k * d - 1, k * d, k * d + 1, -(k * d) - 1, -(k * d) + 1})
                ASSERT_EQ(ExactDivisor(d).quotient(n), n / d) << n << " / " << d;
    for (int i = 0; i < 100000; ++i) {
        const int64_t d = int64_t(rng() % uint64_t(limit + 10)) - 5;
        const int64_t n = int64_t(rng() >> 1) >> (rng() % 40);
        ASSERT_EQ(ExactDivisor(d).quotient(n), d == 0 ? 0 : n / d) << n << " / " << d;
    }
}

}  // namespace
