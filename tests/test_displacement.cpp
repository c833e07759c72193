// Displacement: the warp against its steps written out per pixel, worked examples, the
// 128-pixel period, the fall-back to column 0 past the right edge, alpha kept, no dependence
// on time or memory, foreign amounts, 8-bit and 16-bit alike, and the stage in the chain.
#include <cmath>
#include <limits>

#include "TestSupport.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Pipeline.h"
#include "pipeline/Random.h"
#include "refhost/Faults.h"
#include "stages/tone/Displacement.h"

using namespace refhost;
using namespace testing_support;

namespace {

template <class Tag>
constexpr PixelLayout kLayout = std::is_same_v<Tag, PIXEL_ARGB8>    ? PixelLayout::ARGB8
                                : std::is_same_v<Tag, PIXEL_BGRA8>  ? PixelLayout::BGRA8
                                : std::is_same_v<Tag, PIXEL_ARGB14> ? PixelLayout::ARGB16
                                                                    : PixelLayout::BGRA16;

ImageSpec specOf(PixelLayout layout, uint32_t w, uint32_t h) {
    ImageSpec spec;
    spec.width = w;
    spec.height = h;
    spec.layout = layout;
    spec.rowPadding = 12;
    return spec;
}

struct StageFrame {
    AcfPtr<HostComponent> hostComponent{new HostComponent};
    FrameSetup setup;
    RasterHolder input, output;

    StageFrame(PixelLayout layout, uint32_t w, uint32_t h)
        : setup(hostComponent.get(), specOf(layout, w, h)),
          input(setup.services->inputRaster(0), setup.services.get(), false, true),
          output(setup.services->outputRaster(), setup.services.get(), false, true) {}

    Image& in() { return *setup.input.get(); }
    Image& out() { return *setup.output.get(); }
    template <class Tag>
    Status displace(float amount) {
        return DisplacementStage<Tag>(::FrameContext{}, *setup.services, input, output, amount);
    }
};

// One output channel from the steps: the shifts in single precision, positions at or past an
// edge taken as 0, two truncated row mixes kept to the channel's width, a truncated column mix.
uint32_t warped(const Image& src, uint32_t x, uint32_t y, int c, float amount) {
    const float step = 0.049087387f;
    const int W = int(src.spec().width), H = int(src.spec().height);
    const float s = float(std::sin(double(float(y) * step)));
    float sx = s * amount + float(x);
    float sy = float(std::cos(double(float(x) * step))) * amount + float(y);
    if (sx <= 0 || sx >= float(W) || std::isnan(sx))
        sx = 0;
    if (sy <= 0 || sy >= float(H) || std::isnan(sy))
        sy = 0;
    const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
    const float fx = sx - float(x0), fy = sy - float(y0);
    const int x1 = std::min(x0 + 1, W - 1), y1 = std::min(y0 + 1, H - 1);
    const uint32_t mask = src.is16Bit() ? 0xFFFF : 0xFF;
    const auto at = [&](int px, int py) { return float(src.channel(uint32_t(px), uint32_t(py), c)); };
    const uint32_t top = uint32_t(int(at(x0, y0) * (1 - fx) + at(x1, y0) * fx)) & mask;
    const uint32_t bottom = uint32_t(int(at(x0, y1) * (1 - fx) + at(x1, y1) * fx)) & mask;
    return uint32_t(int(float(bottom) * fy + float(top) * (1 - fy))) & mask;
}

}  // namespace

template <class Tag>
class Displacement : public ::testing::Test {};
using AllFormats = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;
TYPED_TEST_SUITE(Displacement, AllFormats);

// Frames narrower and wider than the stage's column blocks, one pixel, one column.
TYPED_TEST(Displacement, MatchesTheStepsWrittenOutAndKeepsAlpha) {
    using Tag = TypeParam;
    const struct {
        uint32_t w, h;
    } sizes[] = {{13, 7}, {300, 41}, {1, 1}, {2, 300}, {257, 3}};
    for (const auto size : sizes)
        for (float amount : {0.5f, 1.7f, 5.0f}) {
            SCOPED_TRACE(testing::Message() << size.w << "x" << size.h << " amount " << amount);
            StageFrame f(kLayout<Tag>, size.w, size.h);
            f.in().fillRandom(size.w + size.h);
            f.out().fillRandom(77);  // what the stages before left: only its alpha survives
            Image before(f.out().spec());
            before.fillRandom(77);
            ASSERT_EQ(f.displace<Tag>(amount), STATUS_OK);
            for (uint32_t y = 0; y < size.h; ++y)
                for (uint32_t x = 0; x < size.w; ++x) {
                    ASSERT_EQ(f.out().channel(x, y, 0), before.channel(x, y, 0));
                    for (int c = 1; c < 4; ++c)
                        ASSERT_EQ(f.out().channel(x, y, c), warped(f.in(), x, y, c, amount)) << x << "," << y;
                }
            EXPECT_TRUE(f.out().guardsIntact());
        }
}

TYPED_TEST(Displacement, WorkedExamples) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 80, 30);
    f.in().fillRandom(4);
    ASSERT_EQ(f.displace<Tag>(0.5f), STATUS_OK);
    for (int c = 1; c < 4; ++c) {
        // At (0, 0) the horizontal shift is 0 and the vertical one +0.5: the mean of the pixel
        // and the one below it, rounded down.
        EXPECT_EQ(f.out().channel(0, 0, c), (f.in().channel(0, 0, c) + f.in().channel(0, 1, c)) / 2);
        // Half a period on, column 64 moves up by 0.5; from row 0 that is above the frame, which
        // reads row 0 itself, and row 0 never moves sideways.
        EXPECT_EQ(f.out().channel(64, 0, c), f.in().channel(64, 0, c));
    }
}

// Rows and columns 128 apart get the same shift. On a picture that itself repeats every 128
// pixels, pixels 128 apart then come out alike. Not always identical: the shifts are single
// precision, and a position near 300 keeps less of its fraction than one near 170 (a few
// 1e-5 of a pixel). That moves a mix by at most that much of white (0.01 of a level in
// 8-bit, about 1 in 16-bit) plus one level where a truncation flips.
TYPED_TEST(Displacement, RepeatsEvery128Pixels) {
    using Tag = TypeParam;
    const uint32_t w = 400, h = 300;
    StageFrame f(kLayout<Tag>, w, h);
    Image tile(specOf(kLayout<Tag>, 128, 128));
    tile.fillRandom(9);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                f.in().setChannel(x, y, c, tile.channel(x % 128, y % 128, c));
    ASSERT_EQ(f.displace<Tag>(3.0f), STATUS_OK);
    const int tolerance = kIs16Bit<Tag> ? 2 : 1;
    int compared = 0, identical = 0;
    for (uint32_t y = 8; y + 8 < h; ++y)
        for (uint32_t x = 8; x + 8 < w; ++x) {
            for (const auto& [ox, oy] : {std::pair{128u, 0u}, std::pair{0u, 128u}}) {
                if (x + ox + 8 >= w || y + oy + 8 >= h)
                    continue;
                for (int c = 1; c < 4; ++c) {
                    const int a = int(f.out().channel(x, y, c)), b = int(f.out().channel(x + ox, y + oy, c));
                    ASSERT_LE(std::abs(a - b), tolerance) << x << "," << y << " and " << x + ox << "," << y + oy;
                    ++compared;
                    identical += a == b;
                }
            }
        }
    EXPECT_GT(identical, compared * 95 / 100);
}

// A pixel whose shifted position reaches the right edge samples column 0.
TYPED_TEST(Displacement, PastTheRightEdgeSamplesColumnZero) {
    using Tag = TypeParam;
    const uint32_t w = 50, h = 70, W = kIs16Bit<Tag> ? 16384 : 255;
    StageFrame f(kLayout<Tag>, w, h);
    for (uint32_t y = 0; y < h; ++y) {
        for (int c = 0; c < 4; ++c)
            f.in().setChannel(0, y, c, W);  // column 0 white, the rest black
    }
    ASSERT_EQ(f.displace<Tag>(5.0f), STATUS_OK);
    // Row 32 is a quarter period: every pixel moves right by 5.
    for (uint32_t x = w - 4; x < w; ++x)
        for (int c = 1; c < 4; ++c)
            EXPECT_EQ(f.out().channel(x, 32, c), W) << "column " << x;
    for (uint32_t x = 1; x + 6 < w; ++x)
        for (int c = 1; c < 4; ++c)
            EXPECT_EQ(f.out().channel(x, 32, c), 0u) << "column " << x;
}

TYPED_TEST(Displacement, NothingDependsOnTimeOrMemory) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 33, 21);
    f.in().fillRandom(6);
    ASSERT_EQ(f.displace<Tag>(2.5f), STATUS_OK);
    Image first(f.out().spec());
    for (uint32_t y = 0; y < 21; ++y)
        for (uint32_t x = 0; x < 33; ++x)
            for (int c = 0; c < 4; ++c)
                first.setChannel(x, y, c, f.out().channel(x, y, c));

    // Another frame number, another generator state, and a host that refuses all memory.
    f.setup.services->mFrameNumber = 4711;
    rng::threadState() = 31337;
    const int64_t allocations = f.hostComponent->memory().totalAllocations();
    faults().reset();
    faults().failAllocationAt = 1;
    faults().failAllAllocationsAfter = true;
    const Status status = f.displace<Tag>(2.5f);
    faults().reset();
    ASSERT_EQ(status, STATUS_OK);
    EXPECT_TRUE(f.out().samePixels(first));
    EXPECT_EQ(rng::threadState(), 31337u) << "no draws";
    EXPECT_EQ(f.hostComponent->memory().totalAllocations(), allocations);
}

TYPED_TEST(Displacement, ForeignAmountsSampleTheOrigin) {
    using Tag = TypeParam;
    const float inf = std::numeric_limits<float>::infinity();
    for (float amount : {std::numeric_limits<float>::quiet_NaN(), inf, -inf}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, 9, 8);
        f.in().fillRandom(1);
        ASSERT_EQ(f.displace<Tag>(amount), STATUS_OK);
        // Every position is undefined or infinite, so every pixel reads (0, 0).
        for (uint32_t y = 0; y < 8; ++y)
            for (uint32_t x = 0; x < 9; ++x)
                for (int c = 1; c < 4; ++c)
                    ASSERT_EQ(f.out().channel(x, y, c), f.in().channel(0, 0, c));
    }
    // Huge amounts push everything past the edges, which also reads (0, 0).
    StageFrame f(kLayout<Tag>, 9, 8);
    f.in().fillRandom(1);
    ASSERT_EQ(f.displace<Tag>(1e30f), STATUS_OK);
    for (int c = 1; c < 4; ++c)
        EXPECT_EQ(f.out().channel(5, 5, c), f.in().channel(0, 0, c));
}

TEST(DisplacementDepth, ASourceOfAnotherDepthIsNotRead) {
    StageFrame f(PixelLayout::ARGB16, 6, 4);
    f.out().fillRandom(3);
    Image before(f.out().spec());
    before.fillRandom(3);
    std::vector<uint8_t> narrow(6 * 4 * 4, 200);
    RasterDesc desc;
    desc.pixels = narrow.data();
    desc.format = FORMAT_ARGB8;
    desc.width = 6;
    desc.height = 4;
    desc.rowBytes = 24;
    desc.bytesPerPixel = 4;
    RasterHolder source(f.setup.services->wrapRaster(desc), f.setup.services.get(), false, true);
    EXPECT_EQ(DisplacementStage<PIXEL_ARGB14>(::FrameContext{}, *f.setup.services, source, f.output, 1.0f),
              STATUS_UNSUPPORTED);
    EXPECT_TRUE(f.out().samePixels(before));
}

// The same picture in 8 and 16 bits. Each depth truncates twice (a row mix, then the column
// mix), losing up to one level of its own each time; the 16-bit picture is the 8-bit one to
// within 1/128 of an 8-bit level. So the 8-bit result may sit up to 2 levels below the
// 16-bit one scaled to 8 bits, and rounding that scaled value adds half a level: within 2.
TEST(DisplacementDepth, EightAndSixteenBitsLookTheSame) {
    const uint32_t w = 60, h = 45;
    StageFrame narrow(PixelLayout::ARGB8, w, h), wide(PixelLayout::ARGB16, w, h);
    narrow.in().fillRandom(14);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                wide.in().setChannel(x, y, c, uint32_t(std::lround(narrow.in().channel(x, y, c) * 16384.0 / 255.0)));
    ASSERT_EQ(narrow.displace<PIXEL_ARGB8>(3.3f), STATUS_OK);
    ASSERT_EQ(wide.displace<PIXEL_ARGB14>(3.3f), STATUS_OK);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 1; c < 4; ++c) {
                const long scaled = std::lround(wide.out().channel(x, y, c) * 255.0 / 16384.0);
                const long eight = long(narrow.out().channel(x, y, c));
                EXPECT_LE(std::labs(scaled - eight), 2L) << x << "," << y;
                EXPECT_GE(scaled + 1, eight) << "8-bit truncation only loses";
            }
}

// In the chain the warp reads the source frame: with fading on as well, the colours are the
// displaced source without the fade; only the alpha that fading left survives.
TEST(DisplacementDriver, TheChainShowsTheDisplacedSource) {
    for (PixelLayout layout : kAllLayouts) {
        SCOPED_TRACE(int(layout));
        RegisteredEffect reg;
        auto values = reg.defaults();
        FrameSetup f(reg.host.get(), specOf(layout, 21, 13), values);
        InstanceData data;
        ASSERT_EQ(createInstanceData(*f.services, data), 0);
        f.services->setInstanceData(&data);
        auto set = [&](int slot, double v) {
            const acfUID& id = *slotIdentifier(slot);
            values->set(id, values->track(id)->type, v);
        };
        set(0, 1);   // doFading
        set(2, 40);  // fadeAmount
        set(32, 1);  // doDisplacement, at the default amount 0.5
        f.input->fillRandom(19);
        ASSERT_EQ(RenderFrame(*f.services), STATUS_OK);
        for (uint32_t y = 0; y < 13; ++y)
            for (uint32_t x = 0; x < 21; ++x)
                for (int c = 1; c < 4; ++c)
                    ASSERT_EQ(f.output->channel(x, y, c), warped(*f.input.get(), x, y, c, 0.5f));
        destroyInstanceData(*f.services, data);
    }
}
