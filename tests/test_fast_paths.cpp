// Every vector path against the plain kernel beside it, bit for bit: random frames of the four
// formats, widths 1..37 and a few hundred, padded rows, 16-bit samples past white.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "StageTestSupport.h"
#include "lib/Common/ChannelTables.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PlainBlend.h"
#include "lib/Common/PowerOfTwo.h"
#include "lib/Common/simd/Cpu.h"
#include "lib/Common/FloatMath.h"
#include "pipeline/PostContrast.h"
#include "pipeline/Random.h"
#include "stages/tone/grain/Grain.h"
#include "stages/tone/grain/GrainBlur.h"
#include "stages/tone/grain/GrainBlurWindow.h"

using namespace stage_support;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<uint32_t> testWidths() {
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 37; ++w) widths.push_back(w);
    for (uint32_t w : {250u, 301u, 333u}) widths.push_back(w);
    return widths;
}

// Random samples in rows padded by 0..16 bytes; in 16-bit frames, if asked, one sample in
// eight past white.
template <class Tag>
AcfPtr<Image> randomFrame(uint32_t w, uint32_t h, std::mt19937& rng, bool pastWhite = true) {
    AcfPtr<Image> im(new Image(ImageSpec{w, h, kLayout<Tag>, int32_t(4 * (rng() % 5))}));
    im->fillRandom(rng());
    if (kIs16Bit<Tag> && pastWhite)
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c)
                    if (rng() % 8 == 0) im->setChannel(x, y, c, Tag::white + 1 + rng() % (65535 - Tag::white));
    return im;
}

// Same samples and untouched guards and padding in both.
void expectSame(const Image& fast, const Image& plain) {
    EXPECT_TRUE(fast.samePixels(plain));
    EXPECT_TRUE(fast.guardsIntact());
    EXPECT_TRUE(plain.guardsIntact());
}

// A frame as the compositing stages hand them over: one alpha, sometimes a second at one
// pixel or (16-bit) colours past white, which break the vector path's pair.
template <class Tag>
AcfPtr<Image> layerFrame(uint32_t w, uint32_t h, std::mt19937& rng) {
    AcfPtr<Image> im = randomFrame<Tag>(w, h, rng, false);
    const uint32_t alphas[] = {uint32_t(Tag::white), uint32_t(Tag::white), kIs16Bit<Tag> ? 16383u : 254u, 0u,
                               uint32_t(rng() % (Tag::white + 1)), kIs16Bit<Tag> ? 40000u : 1u};
    const uint32_t alpha = alphas[rng() % 6];
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) im->setChannel(x, y, 0, alpha);
    if (rng() % 4 == 0) im->setChannel(rng() % w, rng() % h, 0, rng() % (Tag::white + 1));
    if (kIs16Bit<Tag> && rng() % 3 == 0)
        for (int k = 0; k < 3; ++k) im->setChannel(rng() % w, rng() % h, 1 + rng() % 3, Tag::white + 1 + rng() % 40000);
    return im;
}

// Opacities as the stages pass them and beyond the range that is held.
double randomOpacity(std::mt19937& rng) {
    const double fixed[] = {1.0, 0.56, 0.0, 1.5, -0.25, 0.3};
    return rng() % 2 ? fixed[rng() % 6] : std::uniform_real_distribution<double>(0.0, 1.0)(rng);
}

// The modes with a vector path, and one without that must keep the plain kernel.
int32_t randomMode(std::mt19937& rng) {
    const int32_t modes[] = {BLEND_NORMAL, BLEND_HARD_LIGHT, BLEND_OVERLAY, BLEND_MULTIPLY, BLEND_ADD, BLEND_SCREEN};
    return modes[rng() % 6];
}

// One of `fixed` half the time, else a value drawn from low..high.
float pickFrom(std::mt19937& rng, std::initializer_list<float> fixed, float low, float high) {
    return rng() % 2 ? fixed.begin()[rng() % fixed.size()] : std::uniform_real_distribution<float>(low, high)(rng);
}

// Runs `body` at the widest vector width the processor has, held to AVX2, then to SSE2.
template <class Body>
void atEachWidth(Body body) {
    const struct {
        const char* name;
        bool avx2, sse2;
    } widths[] = {{"widest", false, false}, {"held to AVX2", true, false}, {"held to SSE2", true, true}};
    for (const auto& width : widths) {
        SCOPED_TRACE(width.name);
        cpu::holdToAvx2(width.avx2);
        cpu::holdToSse2(width.sse2);
        body();
    }
    cpu::holdToAvx2(false);
    cpu::holdToSse2(false);
}

template <class Tag>
class FastPaths : public ::testing::Test {};
TYPED_TEST_SUITE(FastPaths, AllFormats);

}  // namespace

// Radii at most 1 take the float window in lanes; the rest the running sums.
TYPED_TEST(FastPaths, GrainBlurMatchesTheRunningSums) {
    using Tag = TypeParam;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const auto radius = [&]() -> float {
        switch (rng() % 9) {
        case 0: return 0.0f;
        case 1: return 1.0f;
        case 2: return -1.5f;
        case 3: return kNaN;
        case 4: return 1.0f + 40.0f * unit(rng);  // large, often beyond a short line
        case 5: return 0.98f;                     // just short of the 3-tap box
        default: return unit(rng);               // fractional: the defaults' case
        }
    };
    for (uint32_t w : testWidths()) {
        const uint32_t h = 1 + rng() % 9;
        AcfPtr<Image> source = randomFrame<Tag>(w, h, rng);
        for (int trial = 0; trial < 6; ++trial) {
            // Mostly all three within the narrow path, sometimes one beyond it.
            const float r[3] = {radius(), radius(), trial % 3 == 2 ? radius() : unit(rng)};
            for (bool vertical : {false, true}) {
                SCOPED_TRACE(::testing::Message() << w << "x" << h << " radii " << r[0] << " " << r[1] << " "
                                                  << r[2] << (vertical ? " vertical" : " horizontal"));
                AcfPtr<Image> start = randomFrame<Tag>(w, h, rng), plain = copyOf(*start.get());
                GrainBlurPlain<Tag>(r[0], r[1], r[2], vertical, descOf(*source.get()), descOf(*plain.get()));
                atEachWidth([&] {
                    AcfPtr<Image> fast = copyOf(*start.get());
                    GrainBlur<Tag>(r[0], r[1], r[2], vertical, descOf(*source.get()), descOf(*fast.get()));
                    expectSame(*fast.get(), *plain.get());
                });
            }
        }
    }
}

// BlendImages into a third raster, into the base (as grain and fading do) and into the top.
TYPED_TEST(FastPaths, BlendImagesMatchesThePlainKernel) {
    using Tag = TypeParam;
    std::mt19937 rng(12);
    atEachWidth([&] {
        for (uint32_t w : testWidths())
            for (int trial = 0; trial < 12; ++trial) {
                const uint32_t h = 1 + rng() % 6;
                const int32_t mode = randomMode(rng);
                const float topOpacity = float(randomOpacity(rng)), baseOpacity = rng() % 2 ? 1.0f : float(randomOpacity(rng));
                const int into = trial % 3;
                SCOPED_TRACE(::testing::Message() << w << "x" << h << " mode " << mode << " opacities " << topOpacity << " "
                                                  << baseOpacity << " into " << into);
                AcfPtr<Image> top = layerFrame<Tag>(w, h, rng), base = layerFrame<Tag>(w, h, rng);
                AcfPtr<Image> fastTop = copyOf(*top.get()), fastBase = copyOf(*base.get());
                AcfPtr<Image> fastOut = randomFrame<Tag>(w, h, rng), plainOut = copyOf(*fastOut.get());
                Image* fastTo = into == 0 ? fastOut.get() : into == 1 ? fastBase.get() : fastTop.get();
                Image* plainTo = into == 0 ? plainOut.get() : into == 1 ? base.get() : top.get();
                EXPECT_EQ(BlendImages<Tag>(nullptr, mode, topOpacity, baseOpacity, descOf(*fastTop.get()),
                                           descOf(*fastBase.get()), descOf(*fastTo)),
                          BlendImagesPlain<Tag>(nullptr, mode, topOpacity, baseOpacity, descOf(*top.get()),
                                                descOf(*base.get()), descOf(*plainTo)));
                expectSame(*fastTo, *plainTo);
            }
    });
}

// CompositeRect in place, rectangles partly outside at times, from another raster or from the
// destination itself.
TYPED_TEST(FastPaths, CompositeRectMatchesThePlainKernel) {
    using Tag = TypeParam;
    std::mt19937 rng(13);
    atEachWidth([&] {
        for (uint32_t w : testWidths())
            for (int trial = 0; trial < 12; ++trial) {
                const uint32_t h = 1 + rng() % 6;
                const int32_t mode = randomMode(rng);
                const double opacity = randomOpacity(rng);
                const bool itself = trial % 4 == 3;
                const auto offset = [&](uint32_t size) { return int16_t(int32_t(rng() % (size + 2)) - 1 - int32_t(size / 4)); };
                const int16_t rw = int16_t(1 + rng() % w), rh = int16_t(1 + rng() % h);
                const int16_t st = offset(h), sl = offset(w);
                // From itself along the same rows at times: the plain kernel reads what it wrote.
                const bool along = itself && trial % 8 == 3;
                const int16_t dt = along ? st : offset(h), dl = along ? int16_t(sl + 1 + rng() % 3) : offset(w);
                const Rect16 from{st, sl, int16_t(st + rh), int16_t(sl + rw)}, to{dt, dl, int16_t(dt + rh), int16_t(dl + rw)};
                SCOPED_TRACE(::testing::Message() << w << "x" << h << " mode " << mode << " opacity " << opacity
                                                  << (itself ? " from itself" : "") << " rect " << rh << "x" << rw << " at "
                                                  << st << "," << sl << " to " << dt << "," << dl);
                AcfPtr<Image> source = layerFrame<Tag>(w, h, rng), fast = layerFrame<Tag>(w, h, rng);
                AcfPtr<Image> plain = copyOf(*fast.get());
                EXPECT_EQ(CompositeRect<Tag>(nullptr, mode, descOf(itself ? *fast.get() : *source.get()), descOf(*fast.get()),
                                             from, to, opacity),
                          CompositeRectPlain<Tag>(nullptr, mode, descOf(itself ? *plain.get() : *source.get()),
                                                  descOf(*plain.get()), from, to, opacity));
                expectSame(*fast.get(), *plain.get());
            }
    });
}

// The box blur's passes in lanes against the plain ones: radii 0, 1, 2, random, the sides and
// past them, heights from one row, samples past white. By rows, each row is handed over in
// order once both plain passes would have it, and only the ring's first 2r + 6 rows are used.
TYPED_TEST(FastPaths, BoxBlurPassesMatchThePlainPasses) {
    using Tag = TypeParam;
    std::mt19937 rng(14);
    atEachWidth([&] {
        for (uint32_t w : testWidths()) {
            const uint32_t h = 1 + rng() % (w < 20 ? 40 : 9);
            AcfPtr<Image> source = randomFrame<Tag>(w, h, rng);
            for (int32_t radius : {0, 1, 2, int32_t(1 + rng() % 60), int32_t(w), int32_t(h), int32_t(std::max(w, h) + 7)}) {
                SCOPED_TRACE(::testing::Message() << w << "x" << h << " radius " << radius);
                AcfPtr<Image> fast = randomFrame<Tag>(w, h, rng), plain = copyOf(*fast.get());
                BoxBlurHorizontal<Tag>(descOf(*source.get()), descOf(*fast.get()), radius);
                BoxBlurHorizontalPlain<Tag>(descOf(*source.get()), descOf(*plain.get()), radius);
                expectSame(*fast.get(), *plain.get());
                AcfPtr<Image> fastBack = randomFrame<Tag>(w, h, rng), plainBack = copyOf(*fastBack.get());
                EXPECT_EQ(BoxBlurVertical<Tag>(descOf(*source.get()), descOf(*fastBack.get()), radius),
                          BoxBlurVerticalPlain<Tag>(descOf(*source.get()), descOf(*plainBack.get()), radius));
                expectSame(*fastBack.get(), *plainBack.get());

                AcfPtr<Image> both = randomFrame<Tag>(w, h, rng);
                ASSERT_EQ(BoxBlurVerticalPlain<Tag>(descOf(*plain.get()), descOf(*both.get()), radius), STATUS_OK);
                AcfPtr<Image> ring = randomFrame<Tag>(w, h, rng), rows = randomFrame<Tag>(w, h, rng);
                AcfPtr<Image> ringBefore = copyOf(*ring.get());
                struct Check {
                    Image *rows, *both;
                    uint32_t width;
                    int32_t done = 0;
                    bool inOrder = true, ready = true;
                    static void row(void* context, int32_t y) {
                        auto* self = static_cast<Check*>(context);
                        self->inOrder = self->inOrder && y == self->done++;
                        for (uint32_t x = 0; x < self->width; ++x)
                            for (int c = 0; c < 4; ++c)
                                self->ready = self->ready && self->rows->channel(x, y, c) == self->both->channel(x, y, c);
                    }
                } check{rows.get(), both.get(), w};
                Status status = -1;
                const bool taken = BoxBlurByRows<Tag>(descOf(*source.get()), descOf(*ring.get()), descOf(*rows.get()),
                                                      radius, BlurRowDone{&check, &Check::row}, status);
                ASSERT_EQ(taken, cpu::hasAvx2() && radius >= 1);
                if (taken) {
                    EXPECT_EQ(status, STATUS_OK);
                    EXPECT_TRUE(check.inOrder && check.ready);
                    EXPECT_EQ(check.done, int32_t(h));
                    expectSame(*rows.get(), *both.get());
                    const uint32_t used = std::min<uint32_t>(2 * std::min<uint32_t>(uint32_t(radius), h) + 6, h);
                    for (uint32_t y = used; y < h; ++y)
                        for (uint32_t x = 0; x < w; ++x)
                            for (int c = 0; c < 4; ++c) ASSERT_EQ(ring->channel(x, y, c), ringBefore->channel(x, y, c));
                    EXPECT_TRUE(ring->guardsIntact() && rows->guardsIntact());
                }
            }
        }
    });
}

// Every window sum an 8-bit box can hold, every radius whose sums fit 16 bits: a line of
// r + 1 zeros, then each value 1..255 for 2r + 1 samples.
TEST(FastPathsBoxBlur, EveryWindowSumOfEveryShortRadius) {
    using Tag = PIXEL_BGRA8;
    for (int32_t radius = 1; radius <= 128; ++radius) {
        const uint32_t window = uint32_t(2 * radius + 1), length = uint32_t(radius + 1) + 255 * window;
        SCOPED_TRACE(::testing::Message() << "radius " << radius);
        for (bool vertical : {false, true}) {
            const uint32_t w = vertical ? 1 : length, h = vertical ? length : 1;
            AcfPtr<Image> line(new Image(ImageSpec{w, h, kLayout<Tag>, 0}));
            for (uint32_t i = 0; i < length; ++i) {
                const uint32_t v = i <= uint32_t(radius) ? 0 : 1 + (i - uint32_t(radius) - 1) / window;
                for (int c = 0; c < 4; ++c) line->setChannel(vertical ? 0 : i, vertical ? i : 0, c, v);
            }
            AcfPtr<Image> fast(new Image(line->shape())), plain(new Image(line->shape()));
            if (vertical) {
                ASSERT_EQ(BoxBlurVertical<Tag>(descOf(*line.get()), descOf(*fast.get()), radius), STATUS_OK);
                ASSERT_EQ(BoxBlurVerticalPlain<Tag>(descOf(*line.get()), descOf(*plain.get()), radius), STATUS_OK);
            } else {
                BoxBlurHorizontal<Tag>(descOf(*line.get()), descOf(*fast.get()), radius);
                BoxBlurHorizontalPlain<Tag>(descOf(*line.get()), descOf(*plain.get()), radius);
            }
            ASSERT_TRUE(fast->samePixels(*plain.get())) << (vertical ? "vertical" : "horizontal");
        }
    }
}

// The rotate-and-scale copy in lanes against the plain one: random sizes, scales and angles.
TYPED_TEST(FastPaths, RotateScaleCopyMatchesThePlainCopy) {
    using Tag = TypeParam;
    std::mt19937 rng(31);
    for (int trial = 0; trial < 40; ++trial) {
        const uint32_t sw = 1 + rng() % 40, sh = 1 + rng() % 40, dw = 1 + rng() % 70, dh = 1 + rng() % 70;
        const float sx = 0.3f + float(rng() % 300) / 100.0f, sy = 0.3f + float(rng() % 300) / 100.0f;
        const float angle = float(rng() % 36000) / 100.0f - 180.0f;
        SCOPED_TRACE(::testing::Message() << sw << "x" << sh << " onto " << dw << "x" << dh << " at " << sx << ", " << sy
                                          << " turned " << angle);
        AcfPtr<Image> source = randomFrame<Tag>(sw, sh, rng), fast = randomFrame<Tag>(dw, dh, rng);
        AcfPtr<Image> plain = copyOf(*fast.get());
        RotateScaleCopyPlain<Tag>(descOf(*source.get()), descOf(*plain.get()), sx, sy, angle);
        atEachWidth([&] {
            AcfPtr<Image> placed = copyOf(*fast.get());
            RotateScaleCopy<Tag>(descOf(*source.get()), descOf(*placed.get()), sx, sy, angle);
            expectSame(*placed.get(), *plain.get());
        });
    }
}

// Channel tables over random frames: each colour sample through its channel's table (16-bit
// past white through the last entry); alpha, padding and guards untouched.
TYPED_TEST(FastPaths, ChannelTablesLookUpEverySample) {
    using Tag = TypeParam;
    using T = typename Tag::Channel;
    std::mt19937 rng(61);
    std::vector<T> entries[3];
    for (auto& table : entries)
        for (uint32_t v = 0; v <= Tag::white; ++v) table.push_back(T(rng() % (Tag::white + 1)));
    const T* const tables[3] = {entries[0].data(), entries[1].data(), entries[2].data()};
    atEachWidth([&] {
        for (uint32_t w : testWidths()) {
            const uint32_t h = 1 + rng() % 3;
            AcfPtr<Image> frame = randomFrame<Tag>(w, h, rng);
            const std::vector<uint32_t> before = snapshot(*frame.get());
            ASSERT_EQ(ApplyChannelTables<Tag>(descOf(*frame.get()), tables, int32_t(Tag::white)), 0);
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x) {
                    const uint32_t* was = &before[size_t(y * w + x) * 4];
                    ASSERT_EQ(frame->channel(x, y, 0), was[0]);
                    for (int c = 1; c < 4; ++c)
                        ASSERT_EQ(frame->channel(x, y, c), entries[c - 1][std::min<uint32_t>(was[c], Tag::white)])
                            << "width " << w << " at " << x << "," << y << " channel " << c;
                }
            EXPECT_TRUE(frame->guardsIntact());
        }
    });
}

// Every pair of 8-bit samples and the 16-bit ones around the thresholds and ends, through each
// vector mode, opaque and partly covered: the lanes' products are exact only within bounds.
TYPED_TEST(FastPaths, VectorModesAtEverySamplePair) {
    using Tag = TypeParam;
    std::vector<uint32_t> values;
    if constexpr (kIs16Bit<Tag>) {
        for (uint32_t v : {0u, 1u, 2u, 8190u, 8191u, 8192u, 8193u, 8194u, 16382u, 16383u, 16384u}) values.push_back(v);
        for (uint32_t v = 3; v < 16384; v += 61) values.push_back(v);  // enough pixels for the table of alphas
    } else {
        for (uint32_t v = 0; v < 256; ++v) values.push_back(v);
    }
    const uint32_t n = uint32_t(values.size());
    // Top alphas: one for all, or (from 1 on) one per pixel over a white base.
    std::mt19937 rng(15);
    atEachWidth([&] {
        for (int32_t mode : {BLEND_NORMAL, BLEND_MULTIPLY, BLEND_HARD_LIGHT, BLEND_OVERLAY})
            for (uint32_t alpha : {uint32_t(Tag::white), uint32_t(Tag::white) / 3, 1u, 2u})
                // 126/255: the one alpha whose step over an opaque 8-bit base reaches 254.
                for (double opacity : {1.0, 0.6, 0.3, 126.0 / 255.0}) {
                    SCOPED_TRACE(::testing::Message() << "mode " << mode << " alpha " << alpha << " opacity " << opacity);
                    AcfPtr<Image> top(new Image(ImageSpec{n, n, kLayout<Tag>, 0}));
                    AcfPtr<Image> fast(new Image(ImageSpec{n, n, kLayout<Tag>, 0}));
                    const bool varying = alpha < 3;
                    for (uint32_t y = 0; y < n; ++y)
                        for (uint32_t x = 0; x < n; ++x) {
                            top->setChannel(x, y, 0, varying ? values[(x + alpha * y) % n] : alpha);
                            fast->setChannel(x, y, 0, varying ? Tag::white : alpha);
                            for (int c = 1; c < 4; ++c) {
                                top->setChannel(x, y, c, values[x]);
                                fast->setChannel(x, y, c, values[(y + uint32_t(c) - 1) % n]);
                            }
                        }
                    if (varying)
                        for (int k = 0; k < 5; ++k) {
                            fast->setChannel(rng() % n, rng() % n, 0, rng() % Tag::white);
                            if (kIs16Bit<Tag>) top->setChannel(rng() % n, rng() % n, rng() % 4, Tag::white + 1 + rng() % 100);
                        }
                    AcfPtr<Image> plain = copyOf(*fast.get());
                    const Rect16 all{0, 0, int16_t(n), int16_t(n)};
                    CompositeRect<Tag>(nullptr, mode, descOf(*top.get()), descOf(*fast.get()), all, all, opacity);
                    CompositeRectPlain<Tag>(nullptr, mode, descOf(*top.get()), descOf(*plain.get()), all, all, opacity);
                    expectSame(*fast.get(), *plain.get());
                }
    });
}

// Every colour sample raised to its pixel's power is the level pow gives: random samples,
// exponent 0 leaving a pixel, exact half levels (1536 and 2560 cubed over 2^28 are 13.5 and
// 62.5) that only pow rounds up; the last row first through handed tables.
template <class Tag>
void expectRaisedAsPowGives() {
    constexpr double W = Tag::white;
    std::vector<double> logs(Tag::white + 1);
    for (int32_t v = 0; v <= Tag::white; ++v) logs[size_t(v)] = std::log2(v / W);
    std::mt19937 rng(16);
    std::vector<uint16_t> tables(3 * (Tag::white + 1));
    for (uint16_t& t : tables) t = uint16_t(rng() % (Tag::white + 200));
    const uint16_t* const before[3] = {&tables[0], &tables[Tag::white + 1], &tables[2 * (Tag::white + 1)]};
    atEachWidth([&] {
        for (uint32_t width : testWidths()) {
            AcfPtr<Image> frame = randomFrame<Tag>(width, 3, rng);
            std::vector<double> exponents(width);
            for (uint32_t y = 0; y < 3; ++y) {
                for (double& e : exponents)
                    e = rng() % 5 == 0 ? 0.0 : rng() % 4 == 0 ? 3.0 : 1.0 / double(float(1 + rng() % 1000) / 1000.0f);
                for (uint32_t x = 0; x < width; ++x)
                    if (exponents[x] == 3.0) frame->setChannel(x, y, 1 + rng() % 3, rng() % 2 ? 1536 : 2560);
                AcfPtr<Image> previous = copyOf(*frame.get());
                const RasterDesc d = descOf(*frame.get());
                const bool tabled = y == 2;
                RaiseToPowers<Tag>(reinterpret_cast<uint16_t*>(d.pixels + ptrdiff_t(y) * d.rowBytes), exponents.data(),
                                   logs.data(), int32_t(width), tabled ? before : nullptr, Tag::white);
                for (uint32_t x = 0; x < width; ++x)
                    for (int c = 0; c < 4; ++c) {
                        const uint32_t got = frame->channel(x, y, c);
                        uint32_t v = previous->channel(x, y, c);
                        if (tabled && c != 0) v = before[c - 1][std::min<uint32_t>(v, Tag::white)];
                        uint32_t want = v;
                        if (c != 0 && exponents[x] != 0.0)
                            want = std::min(uint32_t(W * std::pow(std::min<double>(v, W) / W, exponents[x]) + 0.5),
                                            uint32_t(W));
                        ASSERT_EQ(got, want) << "width " << width << " pixel " << x << " channel " << c << " from "
                                             << v << " to the power " << exponents[x];
                    }
            }
            EXPECT_TRUE(frame->guardsIntact());
        }
    });
}

TEST(FastPathsPowers, SamplesRaisedAreTheLevelsPowGives) {
    expectRaisedAsPowGives<PIXEL_ARGB14>();
    expectRaisedAsPowGives<PIXEL_BGRA14>();
}

// Every 16-bit sample under the exponent of each of the vignette's thousand gamma steps, in
// lanes of four and of eight doubles (where the processor has them).
TEST(FastPathsPowers, EveryLevelUnderEveryGammaStep) {
    using Tag = PIXEL_BGRA14;
    constexpr int32_t levels = Tag::white + 1;
    std::vector<double> logs(levels), exponents(levels);
    for (int32_t v = 0; v < levels; ++v) logs[size_t(v)] = std::log2(double(v) / double(Tag::white));
    std::vector<uint16_t> pixels(4 * size_t(levels)), want(levels);
    for (int32_t step = 1; step <= 1000; ++step) {
        const double e = 1.0 / double(float(step) / 1000.0f);
        std::fill(exponents.begin(), exponents.end(), e);
        for (int32_t v = 0; v < levels; ++v)
            want[size_t(v)] = uint16_t(std::min(int32_t(Tag::white * std::pow(double(v) / Tag::white, e) + 0.5), Tag::white));
        for (bool heldToAvx2 : {false, true}) {
            cpu::holdToAvx2(heldToAvx2);
            for (int32_t v = 0; v < levels; ++v) std::fill_n(&pixels[4 * size_t(v)], 4, uint16_t(v));
            RaiseToPowers<Tag>(pixels.data(), exponents.data(), logs.data(), levels);
            cpu::holdToAvx2(false);
            for (int32_t v = 0; v < levels; ++v)
                for (int k : {Tag::FORMAT::R, Tag::FORMAT::G, Tag::FORMAT::B})
                    ASSERT_EQ(pixels[4 * size_t(v) + size_t(k)], want[size_t(v)])
                        << v << " to the power " << e << (heldToAvx2 ? ", held to AVX2" : "");
        }
    }
}

// Draws in lanes are the draws one by one, and leave the state where those do.
TEST(FastPathsRandom, FilledDrawsAreTheSequence) {
    std::mt19937 rng(21);
    std::vector<uint16_t> draws(4000);
    for (int trial = 0; trial < 300; ++trial) {
        const size_t count = trial < 40 ? size_t(trial) : rng() % draws.size();
        uint32_t fast = rng(), plain = fast;
        rng::fill(fast, draws.data(), count);
        for (size_t i = 0; i < count; ++i) ASSERT_EQ(draws[i], rng::step(plain)) << count << " at " << i;
        EXPECT_EQ(fast, plain) << count;
    }
}

// Handed its tables' settings, the noise pass works in lanes (AVX2, and AVX-512 where the
// processor has it): the layer must be the tables' own, for settings in and far out of range,
// both noises, both curve forms. Tables built from other settings keep the per-sample form.
TYPED_TEST(FastPaths, GrainNoiseInLanesIsThePerSampleForm) {
    using Tag = TypeParam;
    using Channel = typename Tag::Channel;
    constexpr int32_t W = Tag::white;
    std::mt19937 rng(23);
    std::vector<Channel> tables(3 * (W + 1));
    Channel* curves[3] = {&tables[0], &tables[W + 1], &tables[2 * (W + 1)]};
    std::vector<float> weights(W + 1);
    const auto pick = [&](std::initializer_list<float> fixed, float low, float high) { return pickFrom(rng, fixed, low, high); };
    grain_noise::LaneConstants k;
    const grain_noise::Shaping defaults{{28.22f, 35.54f, 100.0f}, 20, 10};
    GrainChannelCurves<Tag>(28.22f, 35.54f, 100.0f, curves);
    GrainSuppressionWeights(W, 20, 10, weights.data());
    if (cpu::hasAvx2()) {
        ASSERT_TRUE(grain_noise::prepareLanes<Tag>(k, 191, defaults, curves, weights.data())) << "the defaults' tables";
    }
    std::set<grain_noise::CurveForm> forms;
    for (int trial = 0; trial < 60; ++trial) {
        grain_noise::Shaping shaping;
        // 1.6 % and 12.8 % give 8-bit curves that the single-precision form misses.
        for (float& s : shaping.strengths) s = pick({0, 100, 28.22f, 35.54f, 1.6f, 12.8f, 150, -20}, 0, 100);
        shaping.suppressBlack = pick({0, 1, 20, 100, 300, -5, kNaN, 1e10f}, 0, 100);
        shaping.suppressWhite = pick({0, 10, 100, float(W) - 1, float(W), 1e6f, -1e10f}, 0, 100);
        const float amount = pick({0, 0.75f, 1, 1.3f, -0.4f, 2.5f, 40}, 0, 1);
        const bool colour = rng() % 3 != 0;
        const uint32_t width = testWidths()[rng() % testWidths().size()], height = 1 + rng() % 9;
        GrainChannelCurves<Tag>(shaping.strengths[0], shaping.strengths[1], shaping.strengths[2], curves);
        GrainSuppressionWeights(W, shaping.suppressBlack, shaping.suppressWhite, weights.data());
        // One trial in six hands over settings the tables were not built from.
        grain_noise::Shaping handed = shaping;
        if (trial % 6 == 5)
            handed.strengths[rng() % 3] += 7, handed.suppressWhite += 3;
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " amount " << amount << " colour " << colour
                                          << " width " << width);
        AcfPtr<Image> picture = randomFrame<Tag>(width, height, rng), plain = randomFrame<Tag>(width, height, rng);
        AcfPtr<Image> start = copyOf(*plain.get());
        const uint32_t seed = rng();
        GrainNoise<Tag>(colour, amount, seed, curves, weights.data(), descOf(*picture.get()), descOf(*plain.get()));
        for (bool heldToAvx2 : {false, true}) {  // sixteen lanes where the processor has them, and eight
            cpu::holdToAvx2(heldToAvx2);
            AcfPtr<Image> lanes = copyOf(*start.get());
            GrainNoise<Tag>(colour, amount, seed, curves, weights.data(), descOf(*picture.get()), descOf(*lanes.get()),
                            &handed);
            cpu::holdToAvx2(false);
            expectSame(*lanes.get(), *plain.get());
        }
        if (cpu::hasAvx2() && trial % 6 == 5) {
            EXPECT_FALSE(grain_noise::prepareLanes<Tag>(k, 10, handed, curves, weights.data()));
        } else if (cpu::hasAvx2() && grain_noise::prepareLanes<Tag>(k, 10, handed, curves, weights.data())) {
            forms.insert(k.curveForm);
        }
    }
    if (cpu::hasAvx2()) {
        EXPECT_EQ(forms.size(), 2u) << "curves in floats and in fixed point";
    }
}

namespace {
// Rows handed over by the passes by rows: asked-for rows from `layer`, finished ones into `frame`.
struct RowsByHooks {
    Image* layer;
    Image* frame;
    int32_t asked = 0, done = 0;
    bool inOrder = true;
    static void ready(void* context, int32_t y, uint8_t* row) {
        auto* self = static_cast<RowsByHooks*>(context);
        self->inOrder = self->inOrder && y == self->asked++;
        const RasterDesc d = descOf(*self->layer);
        std::memcpy(row, d.pixels + ptrdiff_t(y) * d.rowBytes, size_t(d.width) * d.bytesPerPixel);
    }
    static void finished(void* context, int32_t y, uint8_t* row) {
        auto* self = static_cast<RowsByHooks*>(context);
        self->inOrder = self->inOrder && y == self->done++ && y < self->asked;
        const RasterDesc d = descOf(*self->frame);
        std::memcpy(d.pixels + ptrdiff_t(y) * d.rowBytes, row, size_t(d.width) * d.bytesPerPixel);
    }
};
}  // namespace

// The 8-bit window's multipliers in 16-bit lanes give the truncated float product for every
// sample, and fit nearly every radius up to 1.
TEST(FastPathsGrainBlur, ShortMultipliersGiveTheFloatProducts) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int fitted = 0, tried = 0;
    for (int i = 0; i < 20000; ++i) {
        const grain_blur::ChannelKernel k(i <= 1000 ? float(i) / 1000.0f : unit(rng));
        for (const float w : {k.edge, k.inner}) {
            uint32_t m = 0;
            ++tried;
            if (!grain_blur::ShortKernels::fitted(w, 255, 16, m))
                continue;
            ++fitted;
            for (int32_t p = 0; p < 256; ++p)
                ASSERT_EQ(grain_blur::ShortKernels::product(p, m, 16), int32_t(float(p) * w))
                    << "weight " << w << " sample " << p;
        }
    }
    EXPECT_GT(fitted, tried - tried / 1000);
}

// Both passes a row at a time are the two plain passes, every row asked for and handed over
// once, in order.
TYPED_TEST(FastPaths, GrainBlurByRowsIsBothPasses) {
    using Tag = TypeParam;
    std::mt19937 rng(29);
    const auto pick = [&](std::initializer_list<float> fixed, float low, float high) { return pickFrom(rng, fixed, low, high); };
    for (int trial = 0; trial < 48; ++trial) {
        float radii[3];
        for (float& r : radii) r = pick({0, 0.05f, 0.1f, 0.2f, 0.98f, 1, -1, kNaN, 1e-30f}, 0, 1);
        radii[trial % 3] = pick({0.05f, 1, 1e-30f}, 0, 1);  // one above 0
        const uint32_t width = testWidths()[rng() % testWidths().size()], height = 1 + rng() % 9;
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " radii " << radii[0] << " " << radii[1] << " "
                                          << radii[2] << " " << width << "x" << height);
        AcfPtr<Image> layer = randomFrame<Tag>(width, height, rng), buffer = randomFrame<Tag>(width, height, rng);
        AcfPtr<Image> whole = copyOf(*layer.get());
        GrainBlurPlain<Tag>(radii[0], radii[1], radii[2], false, descOf(*whole.get()), descOf(*buffer.get()));
        GrainBlurPlain<Tag>(radii[0], radii[1], radii[2], true, descOf(*buffer.get()), descOf(*whole.get()));
        atEachWidth([&] {
            // Only the working rasters' first rows may be used: the rest of them stays as it was.
            AcfPtr<Image> rowsLayer = randomFrame<Tag>(width, height, rng), rowsBuffer = randomFrame<Tag>(width, height, rng);
            AcfPtr<Image> out = randomFrame<Tag>(width, height, rng);
            AcfPtr<Image> layerBefore = copyOf(*rowsLayer.get()), bufferBefore = copyOf(*rowsBuffer.get());
            RowsByHooks rows{layer.get(), out.get()};
            ASSERT_EQ(GrainBlurByRows<Tag>(radii[0], radii[1], radii[2], descOf(*rowsLayer.get()),
                                           descOf(*rowsBuffer.get()),
                                           grain_blur::RowHooks{&rows, &RowsByHooks::ready, &RowsByHooks::finished}),
                      STATUS_OK);
            EXPECT_TRUE(rows.inOrder);
            EXPECT_EQ(rows.asked, int32_t(height));
            EXPECT_EQ(rows.done, int32_t(height));
            expectSame(*out.get(), *whole.get());
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t x = 0; x < width; ++x)
                    for (int c = 0; c < 4; ++c) {
                        if (y >= 1) {
                            ASSERT_EQ(rowsLayer->channel(x, y, c), layerBefore->channel(x, y, c)) << x << "," << y;
                        }
                        if (y >= 2) {
                            ASSERT_EQ(rowsBuffer->channel(x, y, c), bufferBefore->channel(x, y, c)) << x << "," << y;
                        }
                    }
            EXPECT_TRUE(rowsLayer->guardsIntact());
            EXPECT_TRUE(rowsBuffer->guardsIntact());
        });
    }
}
