// Vignette: the worked example at the corner, frames it must leave alone, mirror symmetry,
// a per-pixel formulation of the steps without the stage's map or tables, darkening
// towards the corners, refused memory, foreign values and parameters, 8-bit and 16-bit alike,
// and the stage in the chain at its defaults.
#include <cmath>
#include <limits>

#include "TestSupport.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Pipeline.h"
#include "refhost/Faults.h"
#include "stages/tone/Vignette.h"

using namespace refhost;
using namespace testing_support;

namespace {

template <class Tag>
constexpr PixelLayout kLayout = kIs16Bit<Tag> ? (Tag::FORMAT::A == 0 ? PixelLayout::ARGB16 : PixelLayout::BGRA16)
                                              : (Tag::FORMAT::A == 0 ? PixelLayout::ARGB8 : PixelLayout::BGRA8);

// A frame as the driver hands it to a stage, with the effect instance's data (the 8-bit gamma
// table lives there).
struct StageFrame {
    AcfPtr<HostComponent> hostComponent{new HostComponent};
    FrameSetup setup;
    InstanceData data;
    RasterHolder input, output;
    StageFrame(PixelLayout layout, uint32_t w, uint32_t h, bool withInstance = true)
        : setup(hostComponent.get(), ImageSpec{w, h, layout, 12}),
          input(setup.services->inputRaster(0), setup.services.get(), false, true),
          output(setup.services->outputRaster(), setup.services.get(), false, true) {
        if (withInstance && createInstanceData(*setup.services, data) == 0)
            setup.services->setInstanceData(&data);
    }
    ~StageFrame() {
        if (data.block)
            destroyInstanceData(*setup.services, data);
    }
    Image& in() { return *setup.input.get(); }
    Image& out() { return *setup.output.get(); }
    template <class Tag>
    Status vignette(float size, float intensity) {
        setup.services->copyInputToOutput();
        return VignetteStage<Tag>(::FrameContext{}, *setup.services, input, output, size, intensity);
    }
};

// One channel of one pixel from the steps, with no map: the pixel takes the treatment of its
// mirror image in the top-left quadrant, (cx - |x - cx|, cy - |y - cy|).
struct Steps {
    uint32_t w, h;
    float size, intensity;
    bool wide;

    // The gamma step of the pixel, or -1 when its multiplier is exactly 1.
    int step(uint32_t x, uint32_t y) const {
        const float halfW = float(w) * 0.5f, halfH = float(h) * 0.5f;
        const int cx = int(halfW), cy = int(halfH);
        const float maxR = float(std::sqrt(double(halfW) * halfW + double(halfH) * halfH));
        const float inner = size / 100.0f * maxR;
        const int qx = cx - std::abs(int(x) - cx), qy = cy - std::abs(int(y) - cy);
        const double dx = std::fabs(float(qx) - halfW), dy = std::fabs(float(qy) - halfH);
        const double d = std::sqrt(dx * dx + dy * dy);
        double m = 1.0;
        if (d > inner) {
            m = 1.0 - intensity;
            if (d <= maxR)
                m += (1.0 - m) * float((maxR - d) / (maxR - inner));
        }
        const float mf = float(m);
        if (mf == 1.0f)
            return -1;
        const float scaled = 1000.0f * mf;
        if (!(scaled >= 1.0f))
            return 0;  // multipliers below 0.001 take the first step
        if (scaled >= 5000.0f)
            return 4999;  // past the table: its last step
        return int(scaled) - 1;
    }

    uint32_t value(uint32_t v, uint32_t x, uint32_t y) const {
        const int k = step(x, y);
        if (k < 0)
            return v;
        const double g = double(float(k + 1) / 1000.0f);
        if (!wide)
            return uint32_t(std::clamp(int(double(float(255.0 * std::pow(v / 255.0, 1.0 / g))) + 0.5), 0, 255));
        const double unit = std::min(v, 16384u) / 16384.0;
        return uint32_t(std::min(16384.0, std::trunc(16384.0 * std::pow(unit, 1.0 / g) + 0.5)));
    }
};

template <class Tag>
Steps stepsOf(uint32_t w, uint32_t h, float size, float intensity) {
    return Steps{w, h, size, intensity, kIs16Bit<Tag>};
}

}  // namespace

template <class Tag>
class Vignette : public ::testing::Test {};
using AllFormats = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;
TYPED_TEST_SUITE(Vignette, AllFormats);

// Defaults, size 40 and intensity 0.7: at the corner m = 0.3, so mid grey becomes
// 255 (128 / 255)^(1 / 0.3) = 25.6 -> 26 in 8-bit and 16384 (1/2)^(1 / 0.3) = 1625.499 -> 1625
// in 16-bit. Black and white never move, alpha is never touched, the centre is left alone.
TYPED_TEST(Vignette, DefaultsWorkedAtTheCorner) {
    using Tag = TypeParam;
    const uint32_t W = Tag::white, grey = kIs16Bit<Tag> ? 8192 : 128;
    const uint32_t corner = kIs16Bit<Tag> ? uint32_t(std::trunc(16384 * std::pow(0.5, 1 / 0.3) + 0.5)) : 26;
    for (const auto& [w, h] : {std::pair{64u, 36u}, std::pair{33u, 21u}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        StageFrame f(kLayout<Tag>, w, h);
        f.in().fill(W / 3, grey, 0, W);
        ASSERT_EQ(f.vignette<Tag>(40.0f, 0.7f), STATUS_OK);
        EXPECT_EQ(f.out().channel(0, 0, 1), corner);
        EXPECT_EQ(f.out().channel(w / 2, h / 2, 1), grey);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                ASSERT_EQ(f.out().channel(x, y, 0), W / 3);
                ASSERT_EQ(f.out().channel(x, y, 2), 0u);
                ASSERT_EQ(f.out().channel(x, y, 3), W);
            }
        EXPECT_TRUE(f.out().guardsIntact());
    }
}

// Intensity 0 keeps every multiplier at 1; size 100 puts every pixel inside the inner radius.
// (For size 100 these frames have their corner distance, narrowed to float, at or above the
// exact distance of the corner pixel; see the next test for frames where it is below.)
TYPED_TEST(Vignette, IntensityZeroAndFullSizeLeaveTheFrame) {
    using Tag = TypeParam;
    const struct {
        uint32_t w, h;
        float size, intensity;
    } cases[] = {{40, 30, 40, 0}, {41, 31, 1, 0}, {64, 64, 10, 0}, {13, 57, 100, 0.7f},
                 {64, 9, 100, 1.0f}, {101, 7, 100, 0.5f}, {1, 1, 40, 0}};
    for (const auto k : cases) {
        SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " size " << k.size << " intensity " << k.intensity);
        StageFrame f(kLayout<Tag>, k.w, k.h);
        f.in().fillRandom(k.w * k.h);
        const int64_t allocations = f.hostComponent->memory().totalAllocations();
        ASSERT_EQ(f.vignette<Tag>(k.size, k.intensity), STATUS_OK);
        EXPECT_TRUE(f.out().samePixels(f.in()));
        EXPECT_LE(f.hostComponent->memory().totalAllocations(), allocations + (k.intensity == 0 ? 0 : 1))
            << "no work for nothing";
    }
}

// The corner pixel is compared in double with the corner distance narrowed to float. Where
// narrowing rounds down (16 x 7, for one), the exact corner lies just outside even at size
// 100 and takes the corner multiplier 1 - intensity; nothing else moves.
TYPED_TEST(Vignette, FullSizeCornerOutsideTheNarrowedRadius) {
    using Tag = TypeParam;
    const float halfW = 8.0f, halfH = 3.5f;
    ASSERT_GT(std::sqrt(double(halfW) * halfW + double(halfH) * halfH),
              double(float(std::sqrt(double(halfW) * halfW + double(halfH) * halfH))));
    const uint32_t grey = kIs16Bit<Tag> ? 8192 : 128;
    StageFrame f(kLayout<Tag>, 16, 7);
    f.in().fill(Tag::white, grey, grey, grey);
        ASSERT_EQ(f.vignette<Tag>(100.0f, 0.7f), STATUS_OK);
    const uint32_t corner = kIs16Bit<Tag> ? 1625 : 26;
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 16; ++x) {
            const bool exactCorner = x == 0 && (y == 0 || y == 6);  // |x - 8| = 8, |y - 3| = 3
            EXPECT_EQ(f.out().channel(x, y, 1), exactCorner ? corner : grey) << x << "," << y;
        }
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
                    f.in().setChannel(x, y, c,
                                      quadrant.channel(uint32_t(std::abs(int(x) - cx)), uint32_t(std::abs(int(y) - cy)), c));
        ASSERT_EQ(f.vignette<Tag>(25.0f, 0.8f), STATUS_OK);
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

// Every pixel against the steps worked one by one, over sizes, strengths and pictures, with
// 16-bit samples beyond white among them (they count as white).
TYPED_TEST(Vignette, MatchesTheStepsPixelByPixel) {
    using Tag = TypeParam;
    const struct {
        uint32_t w, h;
        float size, intensity;
    } cases[] = {{64, 36, 40, 0.7f}, {57, 43, 1, 1.0f}, {30, 70, 75, 0.35f}, {99, 20, 10, 0.9995f},
                 {50, 50, 50, 1.0f}, {7, 3, 20, 0.6f},  {2, 1, 1, 1.0f},     {200, 113, 33, 0.42f}};
    for (const auto k : cases) {
        SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " size " << k.size << " intensity " << k.intensity);
        StageFrame f(kLayout<Tag>, k.w, k.h);
        f.in().fillRandom(k.w + k.h);
        if (kIs16Bit<Tag>) {
            f.in().setChannel(0, 0, 1, 65535);
            f.in().setChannel(k.w - 1, k.h - 1, 2, 16385);
        }
        ASSERT_EQ(f.vignette<Tag>(k.size, k.intensity), STATUS_OK);
        const Steps steps = stepsOf<Tag>(k.w, k.h, k.size, k.intensity);
        for (uint32_t y = 0; y < k.h; ++y)
            for (uint32_t x = 0; x < k.w; ++x) {
                ASSERT_EQ(f.out().channel(x, y, 0), f.in().channel(x, y, 0));
                for (int c = 1; c < 4; ++c)
                    ASSERT_EQ(f.out().channel(x, y, c), steps.value(f.in().channel(x, y, c), x, y))
                        << x << "," << y << " channel " << c << " value " << f.in().channel(x, y, c);
            }
        EXPECT_TRUE(f.out().guardsIntact());
    }
}

// On a flat grey frame the fall-off is monotonic: pixels within the inner radius keep their
// value, everything else only darkens, and more so the further out it lies.
TYPED_TEST(Vignette, DarkensTowardsTheCorner) {
    using Tag = TypeParam;
    const uint32_t w = 90, h = 60, grey = kIs16Bit<Tag> ? 9000 : 140;
    StageFrame f(kLayout<Tag>, w, h);
    f.in().fill(Tag::white, grey, grey, grey);
        ASSERT_EQ(f.vignette<Tag>(40.0f, 0.7f), STATUS_OK);
    const double maxR = std::hypot(45.0, 30.0), inner = 0.4 * maxR;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t v = f.out().channel(x, y, 1);
            ASSERT_LE(v, grey);
            const double d = std::hypot(double(x) - 45.0, double(y) - 30.0);
            if (d < inner - 0.01) {
                ASSERT_EQ(v, grey) << x << "," << y;
            }
            if (d > inner + 2) {
                ASSERT_LT(v, grey) << x << "," << y;
            }
        }
    for (uint32_t i = 1; i < 30; ++i)
        ASSERT_LE(f.out().channel(45 - 3 * i / 2, 30 - i, 1), f.out().channel(45 - 3 * (i - 1) / 2, 30 - (i - 1), 1));
}

// The map and the curves come from the host's memory service; either refused is status 4
// with the frame as it was, and nothing is kept in any case.
TYPED_TEST(Vignette, RefusedMemoryLeavesTheFrame) {
    using Tag = TypeParam;
    for (int refused : {1, 2}) {
        SCOPED_TRACE(refused);
        StageFrame f(kLayout<Tag>, 48, 27);
        f.in().fillRandom(uint32_t(refused));
        const int64_t live = f.hostComponent->memory().liveBlocks();
        faults().reset();
        faults().failAllocationAt = refused;
        const Status status = f.vignette<Tag>(40.0f, 0.7f);
        faults().reset();
        EXPECT_EQ(status, STATUS_NO_RASTER);
        EXPECT_TRUE(f.out().samePixels(f.in()));
        EXPECT_EQ(f.hostComponent->memory().liveBlocks(), live);
        ASSERT_EQ(f.vignette<Tag>(40.0f, 0.7f), STATUS_OK);
        EXPECT_FALSE(f.out().samePixels(f.in()));
        EXPECT_EQ(f.hostComponent->memory().liveBlocks(), live);
    }
}

// Parameters no host should send stay defined: NaN radii leave the frame, a NaN or
// beyond-full intensity takes the first gamma step, a negative one brightens up to the last.
TYPED_TEST(Vignette, ForeignParameters) {
    using Tag = TypeParam;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const struct {
        float size, intensity;
    } cases[] = {{nan, 0.7f}, {40, nan}, {inf, 0.7f}, {-inf, 0.7f}, {40, inf}, {40, -inf},
                 {-50, 0.7f}, {40, 7.0f}, {40, -4.0f}, {40, -1e30f}, {1e30f, 1.0f}, {0, 1.0f}};
    for (const auto k : cases) {
        SCOPED_TRACE(testing::Message() << "size " << k.size << " intensity " << k.intensity);
        StageFrame f(kLayout<Tag>, 31, 22);
        f.in().fillRandom(77);
        ASSERT_EQ(f.vignette<Tag>(k.size, k.intensity), STATUS_OK);
        const Steps steps = stepsOf<Tag>(31, 22, k.size, k.intensity);
        for (uint32_t y = 0; y < 22; ++y)
            for (uint32_t x = 0; x < 31; ++x)
                for (int c = 1; c < 4; ++c)
                    ASSERT_EQ(f.out().channel(x, y, c), steps.value(f.in().channel(x, y, c), x, y)) << x << "," << y;
        EXPECT_TRUE(f.out().guardsIntact());
    }
    // A negative intensity brightens.
    StageFrame f(kLayout<Tag>, 31, 22);
    f.in().fillRandom(78);
        ASSERT_EQ(f.vignette<Tag>(40.0f, -4.0f), STATUS_OK);
    for (uint32_t x = 0; x < 31; ++x)
        for (int c = 1; c < 4; ++c)
            ASSERT_GE(f.out().channel(x, 0, c), f.in().channel(x, 0, c));
}

// Without the instance's table the 8-bit curves are worked out from the same definition.
TYPED_TEST(Vignette, SameResultWithoutInstanceData) {
    using Tag = TypeParam;
    StageFrame with(kLayout<Tag>, 45, 32), without(kLayout<Tag>, 45, 32, false);
    with.in().fillRandom(9);
    without.in().fillRandom(9);
    ASSERT_EQ(with.vignette<Tag>(30.0f, 0.85f), STATUS_OK);
    ASSERT_EQ(without.vignette<Tag>(30.0f, 0.85f), STATUS_OK);
    EXPECT_TRUE(with.out().samePixels(without.out()));
}

// The same picture in 8 and 16 bits. Both round the same law to their own levels, so each is
// within half of its own level of the exact value; the 16-bit picture is the 8-bit one only to
// 1/128 of an 8-bit level, which the steepest curve met (slope 1 / 0.3) stretches to 0.03.
// The scaled 16-bit result is thus within 0.5 + 0.03 + 0.5 of the 8-bit one: after rounding,
// within 1.
TEST(VignetteDepth, EightAndSixteenBitsLookTheSame) {
    const uint32_t w = 80, h = 45;
    StageFrame narrow(PixelLayout::ARGB8, w, h), wide(PixelLayout::ARGB16, w, h);
    narrow.in().fillRandom(3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                wide.in().setChannel(x, y, c, uint32_t(std::lround(narrow.in().channel(x, y, c) * 16384.0 / 255.0)));
    ASSERT_EQ(narrow.vignette<PIXEL_ARGB8>(40.0f, 0.7f), STATUS_OK);
    ASSERT_EQ(wide.vignette<PIXEL_ARGB14>(40.0f, 0.7f), STATUS_OK);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 1; c < 4; ++c) {
                const long scaled = std::lround(wide.out().channel(x, y, c) * 255.0 / 16384.0);
                EXPECT_LE(std::labs(scaled - long(narrow.out().channel(x, y, c))), 1L) << x << "," << y;
            }
}

// Through the driver at the parameters' defaults (size 40, intensity 70).
TEST(VignetteDriver, DefaultsInTheChain) {
    for (PixelLayout layout : kAllLayouts) {
        SCOPED_TRACE(int(layout));
        RegisteredEffect reg;
        auto values = reg.defaults();
        FrameSetup f(reg.host.get(), ImageSpec{40, 24, layout, 12}, values);
        InstanceData data;
        ASSERT_EQ(createInstanceData(*f.services, data), 0);
        f.services->setInstanceData(&data);
        const acfUID& doVignette = *slotIdentifier(27);
        values->set(doVignette, values->track(doVignette)->type, 1);
        const bool wide = layout == PixelLayout::ARGB16 || layout == PixelLayout::BGRA16;
        const uint32_t grey = wide ? 8192 : 128;
        f.input->fill(wide ? 16384 : 255, grey, grey, grey);
        ASSERT_EQ(RenderFrame(*f.services), STATUS_OK);
        EXPECT_EQ(f.output->channel(0, 0, 2), wide ? 1625u : 26u);
        EXPECT_EQ(f.output->channel(20, 12, 2), grey);
        destroyInstanceData(*f.services, data);
    }
}
