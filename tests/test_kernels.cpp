// Compositing, blur, copy and curve kernels, the value ranges and ImageBuffer. Expectations
// are worked by hand from the formulas or come from a plain per-pixel formulation below.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/Common/Diagnostics.h"
#include "lib/Common/ExactDivision.h"
#include "lib/Common/ImageBuffer.h"
#include "lib/Common/ImageProc.h"
#include "lib/Common/Kernels.h"

namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr int kGuard = 64;

// A raster with canary bytes before, after and in the padding of every row.
template <class Tag>
struct TestRaster {
    using Channel = typename Tag::Channel;
    int width, height, rowBytes;
    std::vector<uint8_t> bytes;

    TestRaster(int w, int h, int padding = 12)
        : width(w), height(h), rowBytes(w * Tag::bytesPerPixel + padding), bytes(size_t(2 * kGuard + rowBytes * h), kCanary) {
        for (int y = 0; y < h; ++y)
            std::memset(&bytes[size_t(kGuard + y * rowBytes)], 0, size_t(w * Tag::bytesPerPixel));
    }
    RasterDesc desc() {
        return RasterDesc{bytes.data() + kGuard, Tag::code, width, height, rowBytes, Tag::bytesPerPixel};
    }
    Channel* px(int x, int y) { return reinterpret_cast<Channel*>(&bytes[size_t(kGuard + y * rowBytes)]) + 4 * x; }
    int get(int x, int y, int channel) { return px(x, y)[channel]; }
    void set(int x, int y, int r, int g, int b, int a) {
        using F = typename Tag::FORMAT;
        Channel* p = px(x, y);
        p[F::R] = Channel(r), p[F::G] = Channel(g), p[F::B] = Channel(b), p[F::A] = Channel(a);
    }
    bool canariesIntact() const {
        for (size_t i = 0; i < bytes.size(); ++i) {
            const int offset = int(i) - kGuard;
            const bool pixel = offset >= 0 && offset < rowBytes * height && offset % rowBytes < width * Tag::bytesPerPixel;
            if (!pixel && bytes[i] != kCanary)
                return false;
        }
        return true;
    }
};

// R, G, B and alpha of one pixel.
using Px = std::array<int64_t, 4>;

template <class Tag>
Px pixelOf(TestRaster<Tag>& r, int x, int y) {
    using F = typename Tag::FORMAT;
    return {r.get(x, y, F::R), r.get(x, y, F::G), r.get(x, y, F::B), r.get(x, y, F::A)};
}

// The compositing arithmetic written out plainly from its definition; as and ad are the
// alphas after the opacities.
Px referencePixel(int mode, int64_t W, int64_t as, int64_t ad, const Px& s, const Px& d) {
    const bool wide = W != 255;
    const auto sc = [&](int64_t x) { return wide ? (x + 8192) >> 14 : (x + 128) >> 8; };
    const int64_t T = W / 2, M = wide ? 16385 : 255;
    const auto clamp = [&](int64_t v) { return std::clamp<int64_t>(v, 0, W); };
    const int64_t a = ad + as - sc(ad * as);
    Px out{0, 0, 0, clamp(a)};
    for (int k = 0; k < 3; ++k) {
        const int64_t sk = s[size_t(k)], dk = d[size_t(k)];
        int64_t c, m = 0;
        if (as == 0) {
            c = dk;
        } else if (mode == 4 || mode == 12) {
            const int64_t sp = as == W ? sk : sc(sk * as), dp = ad == W ? dk : sc(dk * ad), A = std::min(a, W);
            const int64_t top = mode == 4 ? std::min(sp + dp, A) : std::abs(sp - dp);
            c = ad == 0 ? sk : (A == 0 ? 0 : top * M / A);
        } else {
            switch (mode) {
            case 2: m = sk; break;
            case 5: m = sc(sk * dk); break;
            case 6: case 35: m = W - sc((W - sk) * (W - dk)); break;
            case 7: m = dk < T ? sc(2 * sk * dk) : dk + sc((2 * sk - W) * (W - dk)); break;
            case 8: m = dk + sc((W - 2 * sk) * (sc(dk * dk) - dk)); break;
            case 9: m = sk < T ? sc(2 * sk * dk) : W - sc(2 * (W - sk) * (W - dk)); break;
            case 10: m = std::min(sk, dk); break;
            case 11: m = std::max(sk, dk); break;
            case 23: m = sk < W ? dk * W / (W - sk) : W; break;
            case 24: m = sk > 0 ? W + (dk - W) * W / sk : 0; break;
            }
            const int64_t mixed = ad == 0 ? sk : (ad < W ? sc((W - ad) * sk) + sc(m * ad) : m);
            if (as != W && ad != 0) {
                const int64_t w = sc((W - as) * ad), A = w + as;
                c = A == 0 ? 0 : (sc(w * dk) + sc(mixed * as)) * M / A;
            } else {
                c = mixed;
                out[3] = clamp(as);
            }
        }
        out[size_t(k)] = clamp(c);
    }
    return out;
}

constexpr int kModes[] = {2, 4, 5, 6, 35, 7, 8, 9, 10, 11, 12, 23, 24};

// Random pixels with runs of repeated alpha and the alphas where the formulas branch; 16-bit
// rasters also get a few samples above white, as foreign data may hold.
template <class Tag>
void fillRandom(TestRaster<Tag>& r, std::mt19937& rng, bool foreign = true) {
    const int W = Tag::white, top = foreign && kIs16Bit<Tag> ? 65535 : W;
    const int special[] = {0, 1, W / 2, W - 1, W};
    int alpha = W;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            if (rng() % 4 == 0)
                alpha = rng() % 2 ? special[rng() % 5] : int(rng() % (W + 1));
            const auto sample = [&] { return rng() % 50 == 0 ? int(rng() % (top + 1)) : int(rng() % (W + 1)); };
            r.set(x, y, sample(), sample(), sample(), rng() % 60 == 0 ? sample() : alpha);
        }
}

template <class Tag>
class Kernels : public ::testing::Test {};
using Tags = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;
TYPED_TEST_SUITE(Kernels, Tags);

template <class Tag>
Px compositeOne(int mode, Px s, Px d, double opacity) {
    TestRaster<Tag> top(1, 1), base(1, 1);
    top.set(0, 0, int(s[0]), int(s[1]), int(s[2]), int(s[3]));
    base.set(0, 0, int(d[0]), int(d[1]), int(d[2]), int(d[3]));
    EXPECT_EQ(CompositeRect<Tag>(nullptr, mode, top.desc(), base.desc(), {0, 0, 1, 1}, {0, 0, 1, 1}, opacity), 0);
    return pixelOf(base, 0, 0);
}

TYPED_TEST(Kernels, WorkedCompositeExamples) {
    using Tag = TypeParam;
    const int W = Tag::white;
    if constexpr (!kIs16Bit<Tag>) {
        EXPECT_EQ(compositeOne<Tag>(BLEND_MULTIPLY, {255, 255, 255, 255}, {255, 255, 255, 255}, 1.0)[0], 254);
        // s = 200: d = 126 takes (2 s d + 128) >> 8 = 197; d = 127 takes d + ((145 * 128 + 128) >> 8) = 200.
        EXPECT_EQ(compositeOne<Tag>(BLEND_OVERLAY, {200, 200, 200, 255}, {126, 127, 0, 255}, 1.0), (Px{197, 200, 0, 255}));
    } else {
        // Normal, a_s = trunc(16384 * 0.5) = 8192 over an opaque base: a = 16384, w = 8192, A = 16384,
        // c = (((8192 d + 8192) >> 14) + ((8192 s + 8192) >> 14)) * 16385 / 16384:
        // (501 + 1501) * 16385 / 16384 = 2002; 16384 * 16385 / 16384 = 16385, clamped; 1 * 16385 / 16384 = 1.
        EXPECT_EQ(compositeOne<Tag>(BLEND_NORMAL, {3001, 16384, 1, 16384}, {1001, 16383, 0, 16384}, 0.5),
                  (Px{2002, 16384, 1, 16384}));
    }
    // A base of alpha 0 takes the source colour and a_s = trunc(200 * 0.5).
    EXPECT_EQ(compositeOne<Tag>(BLEND_MULTIPLY, {10, 20, 30, 200}, {99, 99, 99, 0}, 0.5), (Px{10, 20, 30, 100}));
    EXPECT_EQ(compositeOne<Tag>(BLEND_COLOR_DODGE, {W, W, W, W}, {77, 0, W, W}, 1.0), (Px{W, W, W, W}));
    EXPECT_EQ(compositeOne<Tag>(BLEND_COLOR_BURN, {0, 0, 0, W}, {77, 0, W, W}, 1.0), (Px{0, 0, 0, W}));
    // An opaque source in Normal mode replaces any base.
    EXPECT_EQ(compositeOne<Tag>(BLEND_NORMAL, {5, 6, 7, W}, {200, 100, 50, W / 3}, 1.0), (Px{5, 6, 7, W}));
}

TYPED_TEST(Kernels, CompositeRectMatchesPlainFormulationWithClipping) {
    using Tag = TypeParam;
    std::mt19937 rng(7);
    for (int mode : kModes)
        for (const double opacity : {1.0, (rng() % 1000) / 999.0}) {
            TestRaster<Tag> source(23, 17), destination(19, 13, 20);
            fillRandom(source, rng);
            fillRandom(destination, rng);
            TestRaster<Tag> before = destination;
            const Rect16 from{-3, 5, 17, 20}, to{-1, 7, 19, 22};  // 15 x 20, partly outside both rasters
            ASSERT_EQ(CompositeRect<Tag>(nullptr, mode, source.desc(), destination.desc(), from, to, opacity), 0);
            for (int y = 0; y < destination.height; ++y)
                for (int x = 0; x < destination.width; ++x) {
                    const int sx = x - to.left + from.left, sy = y - to.top + from.top;
                    const bool paired = x >= to.left && x < to.right && y >= to.top && y < to.bottom && sx >= 0 &&
                                        sx < source.width && sy >= 0 && sy < source.height;
                    const Px base = pixelOf(before, x, y);
                    const Px expect = paired ? referencePixel(mode, Tag::white, int64_t(pixelOf(source, sx, sy)[3] * opacity),
                                                              base[3], pixelOf(source, sx, sy), base)
                                             : base;
                    ASSERT_EQ(pixelOf(destination, x, y), expect) << "mode " << mode << " at " << x << "," << y;
                }
            EXPECT_TRUE(destination.canariesIntact());
        }
}

TYPED_TEST(Kernels, BlendImagesMatchesPlainFormulationForEveryAliasing) {
    using Tag = TypeParam;
    std::mt19937 rng(11);
    for (int mode : kModes)
        for (int variant = 0; variant < 6; ++variant) {  // separate output, output = base, output = top
            const float topOpacity = variant < 3 ? 1.0f : (rng() % 1000) / 999.0f;
            const float baseOpacity = variant % 3 == 1 ? 1.0f : (rng() % 1000) / 999.0f;
            TestRaster<Tag> top(31, 9), base(29, 7, 4), out(30, 8, 8);
            fillRandom(top, rng);
            fillRandom(base, rng);
            TestRaster<Tag> t = top, b = base;
            TestRaster<Tag>& target = variant % 3 == 0 ? out : (variant % 3 == 1 ? base : top);
            ASSERT_EQ(BlendImages<Tag>(nullptr, mode, topOpacity, baseOpacity, top.desc(), base.desc(), target.desc()), 0);
            for (int y = 0; y < b.height; ++y)
                for (int x = 0; x < b.width; ++x) {
                    const Px s = pixelOf(t, x, y), d = pixelOf(b, x, y);
                    ASSERT_EQ(pixelOf(target, x, y), referencePixel(mode, Tag::white, int64_t(float(s[3]) * topOpacity),
                                                                    int64_t(float(d[3]) * baseOpacity), s, d))
                        << "mode " << mode << " variant " << variant << " at " << x << "," << y;
                }
            EXPECT_TRUE(top.canariesIntact() && base.canariesIntact() && out.canariesIntact());
        }
}

TYPED_TEST(Kernels, EveryModeStaysInRangeAndOpacityZeroChangesNothing) {
    using Tag = TypeParam;
    std::mt19937 rng(3);
    for (int mode : kModes) {
        TestRaster<Tag> top(21, 6), base(21, 6);
        fillRandom(top, rng, false);
        fillRandom(base, rng, false);
        const auto unchanged = base.bytes;
        ASSERT_EQ(CompositeRect<Tag>(nullptr, mode, top.desc(), base.desc(), {0, 0, 6, 21}, {0, 0, 6, 21}, 0.0), 0);
        ASSERT_EQ(BlendImages<Tag>(nullptr, mode, 0.0f, 1.0f, top.desc(), base.desc(), base.desc()), 0);
        EXPECT_EQ(base.bytes, unchanged) << "mode " << mode;
        ASSERT_EQ(BlendImages<Tag>(nullptr, mode, 0.8f, 1.0f, top.desc(), base.desc(), base.desc()), 0);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 21; ++x)
                for (int64_t v : pixelOf(base, x, y))
                    ASSERT_TRUE(v >= 0 && v <= Tag::white) << "mode " << mode;
    }
}

TYPED_TEST(Kernels, MismatchedRectanglesWriteNothing) {
    TestRaster<TypeParam> source(12, 12), destination(12, 12);
    std::mt19937 rng(5);
    fillRandom(source, rng);
    const auto before = destination.bytes;
    EXPECT_EQ(CompositeRect<TypeParam>(nullptr, BLEND_NORMAL, source.desc(), destination.desc(), {0, 0, 10, 10},
                                       {0, 0, 11, 10}, 1.0), 1);
    EXPECT_EQ(destination.bytes, before);
    EXPECT_EQ(CompositeRect<TypeParam>(nullptr, 99, source.desc(), destination.desc(), {0, 0, 10, 10}, {1, 1, 11, 11}, 1.0), 0);
    EXPECT_EQ(destination.bytes, before);
}

// Each sample is trunc(sum * (1.0 / (2r + 1))) over its window, coordinates clamped to the raster.
template <class Tag>
void naiveBlur(TestRaster<Tag>& from, TestRaster<Tag>& to, int radius, bool vertical) {
    for (int y = 0; y < from.height; ++y)
        for (int x = 0; x < from.width; ++x)
            for (int c = 0; c < 4; ++c) {
                int64_t sum = 0;
                for (int i = -radius; i <= radius; ++i)
                    sum += vertical ? from.px(x, std::clamp(y + i, 0, from.height - 1))[c]
                                    : from.px(std::clamp(x + i, 0, from.width - 1), y)[c];
                to.px(x, y)[c] = typename Tag::Channel(double(sum) * (1.0 / (2 * radius + 1)));
            }
}

TYPED_TEST(Kernels, BoxBlurMatchesNaiveWindowSums) {
    using Tag = TypeParam;
    std::mt19937 rng(9);
    for (int radius : {0, 1, 2, 5, 12, 13, 40}) {  // beyond the 13 x 8 frame too
        TestRaster<Tag> a(13, 8), b(13, 8, 16);
        fillRandom(a, rng);
        TestRaster<Tag> expectA = a, expectB = b;
        if (radius >= 1) {
            naiveBlur(a, expectB, radius, false);
            naiveBlur(expectB, expectA, radius, true);
        }
        BoxBlurHorizontal<Tag>(a.desc(), b.desc(), radius);
        EXPECT_EQ(b.bytes, expectB.bytes) << "radius " << radius;
        BoxBlurVertical<Tag>(b.desc(), a.desc(), radius);
        EXPECT_EQ(a.bytes, expectA.bytes) << "radius " << radius;
    }
}

TYPED_TEST(Kernels, FillInvertAndColumnStretch) {
    using Tag = TypeParam;
    using F = typename Tag::FORMAT;
    TestRaster<Tag> r(5, 8);
    FillRaster<Tag>(r.desc(), 1, 2, 255, 128);
    const Px filled = kIs16Bit<Tag> ? Px{64, 128, 16383, 8224} : Px{1, 2, 255, 128};  // (b << 6) | (b >> 2)
    EXPECT_EQ(pixelOf(r, 4, 7), filled);
    InvertColor<Tag>(r.desc());
    const int64_t W = Tag::white;
    EXPECT_EQ(pixelOf(r, 2, 3), (Px{W - filled[0], W - filled[1], W - filled[2], filled[3]}));
    EXPECT_TRUE(r.canariesIntact());

    TestRaster<Tag> source(3, 8), destination(4, 8);
    for (int y = 0; y < 8; ++y)
        source.set(1, y, 10 * (y + 1), y, 0, 100 + y);
    const auto column = [&](int x) {
        std::vector<int> v;
        for (int y = 0; y < 8; ++y)
            v.push_back(destination.get(x, y, F::R));
        return v;
    };
    ColumnStretchCopy<Tag>(source.desc(), 1, 0, 3, destination.desc(), 2, 0, 7);  // stretch 4 rows to 8
    EXPECT_EQ(column(2), (std::vector<int>{10, 10, 20, 20, 30, 30, 40, 40}));
    EXPECT_EQ(destination.get(2, 5, F::A), 102);  // whole pixels
    ColumnStretchCopy<Tag>(source.desc(), 1, 0, 7, destination.desc(), 0, 0, 3);  // squeeze 8 rows to 4
    EXPECT_EQ(column(0), (std::vector<int>{10, 30, 60, 80, 0, 0, 0, 0}));
    ColumnStretchCopy<Tag>(source.desc(), 1, 0, 3, destination.desc(), 3, 3, 0);  // upside down
    EXPECT_EQ(column(3), (std::vector<int>{40, 30, 20, 10, 0, 0, 0, 0}));
    // 3 rows to 5: the error starts at 0, which already steps the source.
    ColumnStretchCopy<Tag>(source.desc(), 1, 5, 7, destination.desc(), 3, 3, 7);
    EXPECT_EQ(column(3), (std::vector<int>{40, 30, 20, 60, 70, 70, 80, 80}));
    EXPECT_EQ(column(1), std::vector<int>(8, 0));
    EXPECT_TRUE(destination.canariesIntact());
}

TYPED_TEST(Kernels, RotateScaleCopyPlacesFiveTapCrossCentred) {
    using Tag = TypeParam;
    using F = typename Tag::FORMAT;
    const int V = kIs16Bit<Tag> ? 10000 : 255;
    TestRaster<Tag> source(4, 4), destination(8, 8);
    source.set(1, 1, V, 0, 5, 200);
    FillRaster<Tag>(destination.desc(), 9, 9, 9, 9);
    const int untouched = fromByte<Tag>(9);
    RotateScaleCopy<Tag>(source.desc(), destination.desc(), 1.0f, 1.0f, 0.0f);
    // Margins (8 - 4) / 2 = 2; at angle 0 and scale 1, area pixel (i, j) samples (i, j).
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inArea = x >= 2 && x < 6 && y >= 2 && y < 6;
            const int i = x - 2, j = y - 2;
            const bool cross = std::abs(i - 1) + std::abs(j - 1) <= 1;
            EXPECT_EQ(destination.get(x, y, F::R), inArea ? (cross ? V / 5 : 0) : untouched) << x << "," << y;
            EXPECT_EQ(destination.get(x, y, F::B), inArea ? (cross ? 1 : 0) : untouched);
            EXPECT_EQ(destination.get(x, y, F::A), inArea ? (i == 1 && j == 1 ? 200 : 0) : untouched);
        }
    // 90 degrees on 3 x 3: c ~ -4.4e-8, s = 1, cx = cy = 1.5, so (i, j) samples u = 3 - j, v = i.
    TestRaster<Tag> grid(3, 3), turned(3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            grid.set(x, y, 10 * (3 * y + x + 1), 0, 0, x + 3 * y);
    RotateScaleCopy<Tag>(grid.desc(), turned.desc(), 1.0f, 1.0f, 90.0f);
    const auto g = [&](int x, int y) { return grid.get(std::clamp(x, 0, 2), std::clamp(y, 0, 2), F::R); };
    EXPECT_EQ(turned.get(1, 1, F::R), (g(2, 1) + g(1, 1) + g(3, 1) + g(2, 0) + g(2, 2)) / 5);  // u 2, v 1
    EXPECT_EQ(turned.get(0, 2, F::R), (g(1, 0) + g(0, 0) + g(2, 0) + g(1, -1) + g(1, 1)) / 5);  // u 1, v 0
    EXPECT_EQ(turned.get(0, 2, F::A), 1);
    EXPECT_TRUE(destination.canariesIntact() && turned.canariesIntact());
}

TEST(KernelsCurves, LevelsFollowTheirDefinition) {
    std::vector<uint8_t> t8[3] = {std::vector<uint8_t>(256), std::vector<uint8_t>(256), std::vector<uint8_t>(256)};
    uint8_t* tables8[3] = {t8[0].data(), t8[1].data(), t8[2].data()};
    const double levels[3][5] = {{1, 0, 1, 0, 1}, {2, 0, 1, 0, 1}, {1, 0.2, 0.8, 0.1, 0.9}};
    BuildChannelCurves<uint8_t>(255, levels, tables8);
    for (int v = 0; v <= 255; ++v)
        ASSERT_EQ(t8[0][size_t(v)], v);
    EXPECT_EQ(t8[1][64], 128);  // trunc(sqrt(64 / 255) * 255 + 0.5) = trunc(128.25)
    // Flat at trunc(0.1 * 255) = 25 up to 51, at trunc(0.9 * 255) = 229 from 204;
    // v = 100: (49 / 153) * 0.8 * 255 + 25.5 + 0.5 = 91.33.
    EXPECT_EQ((std::vector<int>{t8[2][0], t8[2][100], t8[2][255]}), (std::vector<int>{25, 91, 229}));

    std::vector<uint16_t> t16(16385);
    uint16_t* tables16[3] = {t16.data(), nullptr, nullptr};
    BuildChannelCurves<uint16_t>(16384, levels, tables16);
    for (int v = 0; v <= 16384; ++v)
        ASSERT_EQ(t16[size_t(v)], v);
    uint16_t* allocated[3] = {nullptr, nullptr, nullptr};
    Vel::AERange().BuildChannelCurves(levels, allocated, true);
    ASSERT_TRUE(allocated[0] && allocated[1] && allocated[2]);
    EXPECT_EQ(allocated[0][32768], 32768);
    EXPECT_EQ(allocated[1][8192], 16384);  // sqrt(1/4) * 32768
    for (uint16_t* table : allocated)
        delete[] table;
}

TEST(KernelsValueRanges, WhiteHalfClampAndWiden) {
    const Vel::ImageProc8& eight = *Vel::ImageProcForDepth<unsigned char>(DEPTH_8BIT);
    const Vel::ImageProc16& avx = *Vel::ImageProcForDepth<unsigned short>(DEPTH_16BIT);
    const Vel::ImageProc16& ae = *Vel::ImageProcForDepth<unsigned short>(DEPTH_16BIT_32768);
    // White, Half, Clamp above and below, InvWhite.
    EXPECT_EQ((std::vector<double>{double(eight.White()), double(eight.Half()), double(eight.Clamp(300)),
                                   double(eight.Clamp(-1)), eight.InvWhite()}),
              (std::vector<double>{255, 128, 255, 0, 1.0 / 255}));
    EXPECT_EQ((std::vector<double>{double(avx.White()), double(avx.Half()), double(avx.Clamp(20000)),
                                   double(avx.Clamp(-5)), avx.InvWhite()}),
              (std::vector<double>{16384, 8192, 16384, 0, 1.0 / 16384}));
    EXPECT_EQ((std::vector<double>{double(ae.White()), double(ae.Half()), double(ae.Clamp(40000)),
                                   double(ae.Clamp(-5)), ae.InvWhite()}),
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

TEST(KernelsImageBuffer, TransformResampleFillsShrunkenRegionOfInterest) {
    TestRaster<PIXEL_BGRA14> source(4, 4), destination(12, 10), whole(8, 8);
    std::mt19937 rng(2);
    fillRandom(source, rng);
    FillRaster<PIXEL_BGRA14>(destination.desc(), 9, 9, 9, 9);
    ImageBuffer to = imageBufferOf(destination.desc(), EDGE_STRICT);
    to.roiLeft = 2, to.roiTop = 1, to.roiRight = 10, to.roiBottom = 9;  // 8 x 8, margins 2
    Vel::AVXRange().TransformResample(imageBufferOf(source.desc(), EDGE_STRICT), to, 1.0f, 1.0f, 30.0f,
                                      PIXEL_BGRA14::FORMAT::A);
    // The same placement as the raster form on an 8 x 8 destination, shifted by the ROI corner.
    RotateScaleCopy<PIXEL_BGRA14>(source.desc(), whole.desc(), 1.0f, 1.0f, 30.0f);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x)
            for (int c = 0; c < 4; ++c) {
                const bool inArea = x >= 4 && x < 8 && y >= 3 && y < 7;
                ASSERT_EQ(destination.get(x, y, c), inArea ? whole.get(x - 2, y - 1, c) : fromByte<PIXEL_BGRA14>(9));
            }
    EXPECT_TRUE(destination.canariesIntact());
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
