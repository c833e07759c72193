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
#include "lib/Common/PlainBlend.h"

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

// One pixel s over d by CompositeRect onto d (blend false) or by BlendImages into a third
// image, each by its vector path and by the plain kernel alone; the two must agree.
template <class Tag>
Px onePixel(bool blend, int mode, const Px& s, const Px& d, double topOpacity, float baseOpacity) {
    Px result[2];
    for (int plain = 0; plain < 2; ++plain) {
        AcfPtr<Image> top = raster<Tag>(1, 1), base = raster<Tag>(1, 1), out = raster<Tag>(1, 1);
        setPixel(*top.get(), 0, 0, s);
        setPixel(*base.get(), 0, 0, d);
        const RasterDesc t = descOf(*top.get()), b = descOf(*base.get()), o = descOf(*out.get());
        if (blend)
            EXPECT_EQ((plain ? BlendImagesPlain<Tag> : BlendImages<Tag>)(nullptr, mode, float(topOpacity), baseOpacity, t, b, o), 0);
        else
            EXPECT_EQ((plain ? CompositeRectPlain<Tag> : CompositeRect<Tag>)(nullptr, mode, t, b, {0, 0, 1, 1}, {0, 0, 1, 1},
                                                                              topOpacity), 0);
        result[plain] = pixelOf(blend ? *out.get() : *base.get(), 0, 0);
    }
    EXPECT_EQ(result[0], result[1]) << "vector and plain kernels differ, mode " << mode;
    return result[1];
}
template <class Tag>
Px compositeOne(int mode, const Px& s, const Px& d, double opacity) { return onePixel<Tag>(false, mode, s, d, opacity, 1.0f); }
template <class Tag>
Px blendOne(int mode, const Px& s, const Px& d, float top, float base) { return onePixel<Tag>(true, mode, s, d, top, base); }

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
    // Opaque 200 over opaque 100, sc(x) = (x + 128) >> 8: e.g. multiply sc(20000), screen
    // 255 - sc(55 x 155), burn 255 - 155 x 255 / 200. 16-bit: 12800 over 6400, sc(x) =
    // (x + 8192) >> 14, the premultiplied modes times 16385 / 16384.
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
    // A base of alpha 0 takes the source colour and a_s = trunc(200 * 0.5).
    EXPECT_EQ(compositeOne<Tag>(BLEND_MULTIPLY, {200, 10, 20, 30}, {0, 99, 99, 99}, 0.5), (Px{100, 10, 20, 30}));
    EXPECT_EQ(compositeOne<Tag>(BLEND_COLOR_DODGE, {W, W, W, W}, {W, 77, 0, W}, 1.0), (Px{W, W, W, W}));
    EXPECT_EQ(compositeOne<Tag>(BLEND_COLOR_BURN, {W, 0, 0, 0}, {W, 77, 0, W}, 1.0), (Px{W, 0, 0, 0}));
    // An opaque source in Normal mode replaces any base.
    EXPECT_EQ(compositeOne<Tag>(BLEND_NORMAL, {W, 5, 6, 7}, {W / 3, 200, 100, 50}, 1.0), (Px{W, 5, 6, 7}));
}

// Both alphas partial, every mode, both families. 8-bit: 200 at a_s = 160 over 100 at a_d = 100:
// a = 197, m' = sc(155 x 200) + sc(100 m), c = (sc(37 x 100) + sc(160 m')) x 255 / 197, e.g.
// Normal (14 + 124) x 255 / 197 = 178; add and difference premultiply (s' 125, d' 39). 16-bit:
// 12800 at 10240 over 6400 at 6400: a = 12640, c = (938 + sc(10240 m')) x 16385 / 12640.
TYPED_TEST(Kernels, PartlyCoveredPixelsInEveryMode) {
    using Tag = TypeParam;
    const bool wide = kIs16Bit<Tag>;
    const struct {
        int mode;
        int64_t eight, sixteen;
    } modes[] = {{BLEND_NORMAL, 178, 11586},       // m' 199 and 12800
                 {BLEND_ADD, 212, 13610},          // s' + d' 164 and 10500, below A
                 {BLEND_MULTIPLY, 139, 9118},      // m' 151 and 9753
                 {BLEND_SCREEN, 186, 12029},       // m' 208 and 13347
                 {BLEND_SCREEN_ALT, 186, 12029},   //
                 {BLEND_OVERLAY, 165, 10699},      // m' 182 and 11706
                 {BLEND_SOFT_LIGHT, 159, 10254},   // m' 174 and 11157
                 {BLEND_HARD_LIGHT, 174, 11338},   // m' 194 and 12494
                 {BLEND_DARKEN, 147, 9561},        // m' 160 and 10300
                 {BLEND_LIGHTEN, 178, 11586},      // m' 199 and 12800
                 {BLEND_DIFFERENCE, 111, 7129},    // |s' - d'| 86 and 5500
                 {BLEND_COLOR_DODGE, 255, 16384},  // m' 302 and 19229: c 262 and 16794 before the clamp
                 {BLEND_COLOR_BURN, 134, 8676}};   // m' 144 and 9208
    const int64_t s = wide ? 12800 : 200, d = wide ? 6400 : 100;
    const int64_t as = wide ? 10240 : 160, ad = wide ? 6400 : 100, a = wide ? 12640 : 197;
    for (const auto& k : modes) {
        const int64_t c = wide ? k.sixteen : k.eight;
        SCOPED_TRACE(k.mode);
        EXPECT_EQ(compositeOne<Tag>(k.mode, {as, s, s, s}, {ad, d, d, d}, 1.0), (Px{a, c, c, c}));
        EXPECT_EQ(blendOne<Tag>(k.mode, {as, s, s, s}, {ad, d, d, d}, 1.0f, 1.0f), (Px{a, c, c, c}));
    }
}

// An opacity scales an alpha, truncated: CompositeRect in double, BlendImages in float. They
// part at 90 x 0.7 (62.999... in double, 63 in float) and 5760 x 0.7 (4031.999... and 4032).
TYPED_TEST(Kernels, FractionalOpacities) {
    using Tag = TypeParam;
    const bool wide = kIs16Bit<Tag>;
    const int64_t W = Tag::white, alpha = wide ? 5760 : 90, scaled = wide ? 4032 : 63;
    const Px s = wide ? Px{alpha, 12800, 3001, 16384} : Px{alpha, 200, 47, 255};
    const Px d = wide ? Px{alpha, 6400, 9000, 0} : Px{alpha, 100, 140, 0};
    // Normal over an opaque base, a_s = 62: A = 254, c = (sc(192 d) + sc(62 s)) x 255 / 254.
    // 16-bit, a_s = 4031: c = (sc(12353 d) + sc(4031 s)) x 16385 / 16384.
    EXPECT_EQ(compositeOne<Tag>(BLEND_NORMAL, s, {W, d[1], d[2], d[3]}, 0.7),
              (wide ? Px{16384, 7974, 7524, 4031} : Px{255, 123, 116, 62}));
    // Multiply, both at 0.7: a_s = a_d = 63, A = 110, m' = sc(192 s) + sc(63 sc(s d)),
    // c = (sc(47 d) + sc(63 m')) x 255 / 110. 16-bit: a_s = a_d = 4032, A = 7072.
    EXPECT_EQ(blendOne<Tag>(BLEND_MULTIPLY, s, d, 0.7f, 0.7f),
              (wide ? Px{7072, 8957, 5391, 7043} : Px{110, 139, 83, 108}));
    // No top: the base's colours under its scaled alpha. No base: the source's colours and a_s.
    EXPECT_EQ(blendOne<Tag>(BLEND_MULTIPLY, s, d, 0.0f, 0.7f), (Px{scaled, d[1], d[2], d[3]}));
    EXPECT_EQ(blendOne<Tag>(BLEND_MULTIPLY, s, d, 0.7f, 0.0f), (Px{scaled, s[1], s[2], s[3]}));
}

// Hard light branches on the source, overlay on the base, at 127 (8-bit) and 8192 (16-bit):
// each value either side gives what only the formula of its side gives (opaque, so c = m).
TYPED_TEST(Kernels, HardLightAndOverlayBranches) {
    using Tag = TypeParam;
    const int64_t W = Tag::white;
    const auto both = [](int mode, const Px& s, const Px& d) {
        const Px rect = compositeOne<Tag>(mode, s, d, 1.0);
        EXPECT_EQ(blendOne<Tag>(mode, s, d, 1.0f, 1.0f), rect);
        return rect;
    };
    if constexpr (!kIs16Bit<Tag>) {
        EXPECT_EQ(both(BLEND_HARD_LIGHT, {W, 126, 127, 50}, {W, 100, 100, 100}), (Px{W, 98, 100, 39}));
    } else {
        EXPECT_EQ(both(BLEND_HARD_LIGHT, {W, 8191, 8192, 3200}, {W, 100, 100, 6400}), (Px{W, 100, 100, 2500}));
        EXPECT_EQ(both(BLEND_OVERLAY, {W, 100, 100, 100}, {W, 8191, 8192, 4000}), (Px{W, 100, 100, 49}));
    }
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

// The five-tap cross at source sample (u, v), every tap held to the image: the alpha of the
// centre; R, G and B a fifth of the sum, truncated.
Px crossAt(const Image& source, int u, int v) {
    const int w = int(source.shape().width), h = int(source.shape().height);
    const auto at = [&](int x, int y, int c) {
        return int64_t(source.channel(uint32_t(std::clamp(x, 0, w - 1)), uint32_t(std::clamp(y, 0, h - 1)), c));
    };
    Px p{at(u, v, 0), 0, 0, 0};
    for (int c = 1; c < 4; ++c)
        p[size_t(c)] = (at(u, v, c) + at(u - 1, v, c) + at(u + 1, v, c) + at(u, v - 1, c) + at(u, v + 1, c)) / 5;
    return p;
}

// Source samples (u, v) of the placed pixels, row by row.
using SampleMap = std::vector<std::vector<std::array<int, 2>>>;

// The pixels from (left, top) on hold the crosses at their samples; every other pixel keeps
// the canary.
void expectPlaced(const Image& source, const Image& destination, int left, int top, const SampleMap& map,
                  const Px& canary) {
    for (uint32_t y = 0; y < destination.shape().height; ++y)
        for (uint32_t x = 0; x < destination.shape().width; ++x) {
            const int i = int(x) - left, j = int(y) - top;
            const bool placed = j >= 0 && j < int(map.size()) && i >= 0 && i < int(map[size_t(j)].size());
            const Px expected = placed ? crossAt(source, map[size_t(j)][size_t(i)][0], map[size_t(j)][size_t(i)][1])
                                       : canary;
            EXPECT_EQ(pixelOf(destination, x, y), expected) << "at " << x << ", " << y;
        }
    EXPECT_TRUE(destination.guardsIntact());
}

// Samples that tell the pixels of a source of up to 4 x 4 apart, alpha included.
template <class Tag>
AcfPtr<Image> patterned(uint32_t w, uint32_t h) {
    AcfPtr<Image> im = raster<Tag>(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            setPixel(*im.get(), x, y,
                     {200 + 10 * y + x, 13 + 29 * x + 41 * y, 250 - 17 * x - 23 * y, 60 + 31 * ((3 * x + 5 * y) % 7)});
    return im;
}

template <class Tag>
AcfPtr<Image> canvas(uint32_t w, uint32_t h, const Px& canary) {
    AcfPtr<Image> im = raster<Tag>(w, h, 20);
    im->fill(uint32_t(canary[0]), uint32_t(canary[1]), uint32_t(canary[2]), uint32_t(canary[3]));
    return im;
}

const Px kCanary{1, 2, 3, 4};

// A 3 x 2 source onto 3 x 2 at scale 1: each pixel takes its centre's alpha, never a mean.
TYPED_TEST(Kernels, RotateScaleCopyFiltersWithClampedTaps) {
    using Tag = TypeParam;
    AcfPtr<Image> source = raster<Tag>(3, 2), destination = raster<Tag>(3, 2, 16);
    const int64_t red[2][3] = {{10, 20, 30}, {40, 50, 61}}, alpha[2][3] = {{0, 255, 0}, {255, 0, 255}};
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x) {
            const int64_t r = red[y][x];
            setPixel(*source.get(), x, y, {alpha[y][x], r, r + 100, 255 - r});
        }
    const auto placed = [&](float angle) {
        RotateScaleCopy<Tag>(descOf(*source.get()), descOf(*destination.get()), 1.0f, 1.0f, angle);
        EXPECT_TRUE(destination->guardsIntact());
        std::vector<Px> v;
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x) v.push_back(pixelOf(*destination.get(), x, y));
        return v;
    };
    // Angle 0: u = i, v = j, taps past an edge take the edge: at (0, 0) R is
    // (10 + 10 + 20 + 10 + 40) / 5 = 18; at (2, 1) 263 / 5 truncated to 52.
    EXPECT_EQ(placed(0.0f), (std::vector<Px>{{0, 18, 118, 237}, {255, 26, 126, 229}, {0, 34, 134, 220},
                                              {255, 36, 136, 219}, {0, 44, 144, 210}, {255, 52, 152, 202}}));
    // Angle 180: u = 3 - i, v = 2 - j, so column 0 reads column 3, every tap clamped: not the
    // mirror of angle 0.
    EXPECT_EQ(placed(180.0f), (std::vector<Px>{{255, 61, 161, 194}, {255, 58, 158, 196}, {0, 50, 150, 204},
                                                {255, 54, 154, 200}, {255, 52, 152, 202}, {0, 44, 144, 210}}));
}

// Without rotation: x0 = (Wd - trunc(Ws sx)) / 2 (truncated toward zero), the area x0 .. Wd - x0,
// u = trunc(i / sx + 0.5), and likewise down; samples past the source clamped.
TYPED_TEST(Kernels, RotateScaleCopyPlacesTheScaledSourceInTheCentre) {
    using Tag = TypeParam;
    AcfPtr<Image> source = patterned<Tag>(2, 2);
    const RasterDesc from = descOf(*source.get());
    // Scale 2 onto 6 x 5: x0 = 1, y0 = 0, u = 0 1 1 2, v = 0 1 1 2 2.
    AcfPtr<Image> wide = canvas<Tag>(6, 5, kCanary);
    RotateScaleCopy<Tag>(from, descOf(*wide.get()), 2.0f, 2.0f, 0.0f);
    SampleMap map;
    for (int v : {0, 1, 1, 2, 2}) map.push_back({{0, v}, {1, v}, {1, v}, {2, v}});
    expectPlaced(*source.get(), *wide.get(), 1, 0, map, kCanary);
    // Scale 3 by 2 onto 4 x 5: x0 = -1, the area cut at the edges, u = 0 1 1 1.
    AcfPtr<Image> cut = canvas<Tag>(4, 5, kCanary);
    RotateScaleCopy<Tag>(from, descOf(*cut.get()), 3.0f, 2.0f, 0.0f);
    map.clear();
    for (int v : {0, 1, 1, 2, 2}) map.push_back({{0, v}, {1, v}, {1, v}, {1, v}});
    expectPlaced(*source.get(), *cut.get(), 0, 0, map, kCanary);
    // trunc(2 x 0.25) = 0 rows onto 4: y0 = 2 = y1, nothing is written.
    AcfPtr<Image> none = canvas<Tag>(4, 4, kCanary);
    RotateScaleCopy<Tag>(from, descOf(*none.get()), 1.0f, 0.25f, 0.0f);
    expectPlaced(*source.get(), *none.get(), 0, 0, {}, kCanary);
}

// Rotation in single precision: every step of u = trunc((X c - Y s + cx) / sx + 0.5) and
// v = trunc((X s + Y c + cy) / sy + 0.5) rounded to float, X = i - cx, Y = j - cy. Each case
// below has pixels where double precision would sample elsewhere.
TYPED_TEST(Kernels, RotateScaleCopyRotatesInSinglePrecision) {
    using Tag = TypeParam;
    // 90 degrees: c = -4.371139e-8, not 0. u = 5 - j, v = i + 1, but at (1, 4) v = 1, not 2.
    {
        AcfPtr<Image> source = patterned<Tag>(4, 4), destination = canvas<Tag>(4, 5, kCanary);
        RotateScaleCopy<Tag>(descOf(*source.get()), descOf(*destination.get()), 1.0f, 1.0f, 90.0f);
        SampleMap map;
        for (int u : {5, 4, 3, 2, 1}) map.push_back({{u, 1}, {u, 2}, {u, 3}, {u, 4}});
        map[4][1] = {1, 1};
        expectPlaced(*source.get(), *destination.get(), 0, 0, map, kCanary);
    }
    // 180 degrees at scale 2: s = -8.742278e-8 decides where odd i and j land on whole numbers.
    {
        AcfPtr<Image> source = patterned<Tag>(2, 2), destination = canvas<Tag>(6, 4, kCanary);
        RotateScaleCopy<Tag>(descOf(*source.get()), descOf(*destination.get()), 2.0f, 2.0f, 180.0f);
        const SampleMap map{{{2, 2}, {1, 2}, {1, 2}, {0, 2}},
                            {{2, 2}, {2, 2}, {1, 2}, {0, 2}},
                            {{2, 1}, {2, 1}, {1, 1}, {1, 1}},
                            {{2, 1}, {2, 1}, {1, 1}, {1, 0}}};
        expectPlaced(*source.get(), *destination.get(), 1, 0, map, kCanary);
    }
    // 30 degrees at 1.5 by 0.75: x0 = (5 - 6) / 2 = 0, truncated toward zero; y0 = 1.
    {
        AcfPtr<Image> source = patterned<Tag>(4, 3), destination = canvas<Tag>(5, 4, kCanary);
        RotateScaleCopy<Tag>(descOf(*source.get()), descOf(*destination.get()), 1.5f, 0.75f, 30.0f);
        const SampleMap map{{{1, 0}, {1, 0}, {2, 0}, {2, 1}, {3, 1}}, {{0, 0}, {1, 0}, {1, 1}, {2, 2}, {3, 2}}};
        expectPlaced(*source.get(), *destination.get(), 0, 1, map, kCanary);
    }
    // The + 0.5 in float too: at sx = 6 + 2^-21, 3 / sx + 0.5 rounds to 1 (in double u = 0).
    {
        AcfPtr<Image> source = patterned<Tag>(2, 1), destination = canvas<Tag>(6, 1, kCanary);
        RotateScaleCopy<Tag>(descOf(*source.get()), descOf(*destination.get()), 6.0f + 0x1p-21f, 1.0f, 0.0f);
        expectPlaced(*source.get(), *destination.get(), 0, 0, {std::vector<std::array<int, 2>>(6, {1, 0})}, kCanary);
    }
}

// The 16-bit form on ImageBuffers: the area is the region of interest less the same margins.
// Scale 2 into the region (2, 1) .. (8, 6): pixels 3..6 of rows 1..5, sampled as above.
TEST(KernelsResample, TransformResampleFillsTheRegionOfInterest) {
    for (const PixelLayout layout : {PixelLayout::ARGB16, PixelLayout::BGRA16}) {
        SCOPED_TRACE(int(layout));
        AcfPtr<Image> source(new Image(ImageSpec{2, 2, layout, 16}));
        AcfPtr<Image> destination(new Image(ImageSpec{8, 6, layout, 24}));
        setPixel(*source.get(), 0, 0, {16384, 16384, 0, 16383});
        setPixel(*source.get(), 1, 0, {100, 16383, 5, 16384});
        setPixel(*source.get(), 0, 1, {200, 16381, 9, 1});
        setPixel(*source.get(), 1, 1, {300, 1, 16384, 2});
        destination->fill(uint32_t(kCanary[0]), uint32_t(kCanary[1]), uint32_t(kCanary[2]), uint32_t(kCanary[3]));
        ImageBuffer to = imageBufferOf(descOf(*destination.get()), EDGE_CLAMP);
        to.roiLeft = 2, to.roiTop = 1;
        const int alphaIndex = layout == PixelLayout::ARGB16 ? PIXEL_ARGB14::FORMAT::A : PIXEL_BGRA14::FORMAT::A;
        Vel::AVXRange().TransformResample(imageBufferOf(descOf(*source.get()), EDGE_CLAMP), to, 2.0f, 2.0f, 0.0f,
                                          alphaIndex);
        // (3, 1) samples (0, 0): R 81916 / 5, G 14 / 5, B 65534 / 5, truncated.
        EXPECT_EQ(pixelOf(*destination.get(), 3, 1), (Px{16384, 16383, 2, 13106}));
        SampleMap map;
        for (int v : {0, 1, 1, 2, 2}) map.push_back({{0, v}, {1, v}, {1, v}, {2, v}});
        expectPlaced(*source.get(), *destination.get(), 3, 1, map, kCanary);
    }
}

TEST(KernelsCurves, LevelsFollowTheirDefinition) {
    std::vector<uint8_t> t8[3] = {std::vector<uint8_t>(256), std::vector<uint8_t>(256), std::vector<uint8_t>(256)};
    uint8_t* tables8[3] = {t8[0].data(), t8[1].data(), t8[2].data()};
    const double levels[3][5] = {{1, 0, 1, 0, 1}, {2, 0, 1, 0, 1}, {1, 0.2, 0.8, 0.1, 0.9}};
    BuildChannelCurves<uint8_t>(255, levels, tables8);
    for (int v = 0; v <= 255; ++v) ASSERT_EQ(t8[0][size_t(v)], v);
    EXPECT_EQ(t8[1][64], 128);  // trunc(sqrt(64 / 255) * 255 + 0.5) = trunc(128.25)
    // Flat at 25 up to 51 and 229 from 204; v = 100: (49 / 153) 0.8 x 255 + 25.5 + 0.5 = 91.33.
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
