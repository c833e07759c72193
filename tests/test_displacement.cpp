// Displacement: the warp against its steps written out per pixel, worked examples, the
// 128-pixel period, column 0 past the right edge, alpha kept, nothing from time, random
// draws or memory, foreign amounts, 8-bit and 16-bit alike, and the stage in the chain.
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
constexpr PixelLayout kLayout = kIs16Bit<Tag> ? (Tag::FORMAT::A == 0 ? PixelLayout::ARGB16 : PixelLayout::BGRA16)
                                              : (Tag::FORMAT::A == 0 ? PixelLayout::ARGB8 : PixelLayout::BGRA8);

struct StageFrame {
    AcfPtr<HostComponent> hostComponent{new HostComponent};
    FrameSetup setup;
    RasterHolder input, output;
    StageFrame(PixelLayout layout, uint32_t w, uint32_t h, uint32_t seed)
        : setup(hostComponent.get(), ImageSpec{w, h, layout, 12}),
          input(setup.services->inputRaster(0), setup.services.get(), false, true),
          output(setup.services->outputRaster(), setup.services.get(), false, true) {
        in().fillRandom(seed);
    }
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
    float sx = float(std::sin(double(float(y) * step))) * amount + float(x);
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

// Frames narrower and wider than the stage's column blocks, one pixel, one column; the
// output's alpha (what earlier stages left) survives, its colour does not.
TYPED_TEST(Displacement, MatchesTheStepsAndKeepsAlpha) {
    using Tag = TypeParam;
    for (const auto& [w, h] : {std::pair{13u, 7u}, std::pair{300u, 41u}, std::pair{1u, 1u}, std::pair{2u, 300u}})
        for (float amount : {0.5f, 1.7f, 5.0f}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " amount " << amount);
            StageFrame f(kLayout<Tag>, w, h, w + h);
            f.out().fillRandom(77);
            Image before(f.out().spec());
            before.fillRandom(77);
            ASSERT_EQ(f.displace<Tag>(amount), STATUS_OK);
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x) {
                    ASSERT_EQ(f.out().channel(x, y, 0), before.channel(x, y, 0));
                    for (int c = 1; c < 4; ++c)
                        ASSERT_EQ(f.out().channel(x, y, c), warped(f.in(), x, y, c, amount)) << x << "," << y;
                }
            EXPECT_TRUE(f.out().guardsIntact());
        }
}

// At (0, 0) the shifts are 0 sideways and +0.5 down: the mean of the pixel and the one below,
// rounded down. Half a period on, column 64 moves up by 0.5, which from row 0 is above the
// frame and so reads row 0 itself.
TYPED_TEST(Displacement, WorkedExamples) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 80, 30, 4);
    ASSERT_EQ(f.displace<Tag>(0.5f), STATUS_OK);
    for (int c = 1; c < 4; ++c) {
        EXPECT_EQ(f.out().channel(0, 0, c), (f.in().channel(0, 0, c) + f.in().channel(0, 1, c)) / 2);
        EXPECT_EQ(f.out().channel(64, 0, c), f.in().channel(64, 0, c));
    }
}

// Rows and columns 128 apart get the same shift, so on a picture that repeats every 128
// pixels, pixels 128 apart come out alike. Not always identical: the positions are single
// precision, and one near 300 keeps less of its fraction than one near 170 (a few 1e-5 of a
// pixel); that moves a mix by at most that much of white (about 1 level in 16-bit, 0.01 in
// 8-bit) plus one level where a truncation flips.
TYPED_TEST(Displacement, RepeatsEvery128Pixels) {
    using Tag = TypeParam;
    const uint32_t w = 400, h = 300;
    StageFrame f(kLayout<Tag>, w, h, 0);
    Image tile(ImageSpec{128, 128, kLayout<Tag>});
    tile.fillRandom(9);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                f.in().setChannel(x, y, c, tile.channel(x % 128, y % 128, c));
    ASSERT_EQ(f.displace<Tag>(3.0f), STATUS_OK);
    const int tolerance = kIs16Bit<Tag> ? 2 : 1;
    int compared = 0, identical = 0;
    for (uint32_t y = 8; y + 136 < h; ++y)
        for (uint32_t x = 8; x + 136 < w; ++x)
            for (const auto& [ox, oy] : {std::pair{128u, 0u}, std::pair{0u, 128u}})
                for (int c = 1; c < 4; ++c) {
                    const int a = int(f.out().channel(x, y, c)), b = int(f.out().channel(x + ox, y + oy, c));
                    ASSERT_LE(std::abs(a - b), tolerance) << x << "," << y << " and +" << ox << ",+" << oy;
                    ++compared;
                    identical += a == b;
                }
    EXPECT_GT(identical, compared * 95 / 100);
}

// Row 32 is a quarter period: every pixel moves right by 5 (sin rounds to 1 in single
// precision), so the last five columns reach the right edge and sample column 0 (white here), not the last column (black).
TYPED_TEST(Displacement, PastTheRightEdgeSamplesColumnZero) {
    using Tag = TypeParam;
    const uint32_t w = 50, h = 70, W = Tag::white;
    StageFrame f(kLayout<Tag>, w, h, 0);
    f.in().fill(W, 0, 0, 0);
    for (uint32_t y = 0; y < h; ++y)
        for (int c = 1; c < 4; ++c)
            f.in().setChannel(0, y, c, W);
    ASSERT_EQ(f.displace<Tag>(5.0f), STATUS_OK);
    for (uint32_t x = 1; x < w; ++x)
        EXPECT_EQ(f.out().channel(x, 32, 2), x >= w - 5 ? W : 0u) << "column " << x;
}

// Another frame number, another generator state and a host that refuses all memory change
// nothing: the warp is fixed and needs no memory.
TYPED_TEST(Displacement, NothingFromTimeDrawsOrMemory) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 33, 21, 6), g(kLayout<Tag>, 33, 21, 6);
    ASSERT_EQ(f.displace<Tag>(2.5f), STATUS_OK);
    g.setup.services->mFrameNumber = 4711;
    rng::threadState() = 31337;
    const int64_t allocations = g.hostComponent->memory().totalAllocations();
    faults().reset();
    faults().failAllocationAt = 1;
    faults().failAllAllocationsAfter = true;
    const Status status = g.displace<Tag>(2.5f);
    faults().reset();
    ASSERT_EQ(status, STATUS_OK);
    EXPECT_TRUE(g.out().samePixels(f.out()));
    EXPECT_EQ(rng::threadState(), 31337u);
    EXPECT_EQ(g.hostComponent->memory().totalAllocations(), allocations);
}

// Undefined or infinite positions fall back to 0: every pixel reads (0, 0) (row 0, which does
// not move sideways, gets 0 x inf there). A source of
// another depth than the output is not read at all.
TYPED_TEST(Displacement, ForeignAmountsAndSources) {
    using Tag = TypeParam;
    const float inf = std::numeric_limits<float>::infinity();
    for (float amount : {std::numeric_limits<float>::quiet_NaN(), inf, -inf}) {
        StageFrame f(kLayout<Tag>, 9, 8, 1);
        ASSERT_EQ(f.displace<Tag>(amount), STATUS_OK);
        for (uint32_t i = 0; i < 72; ++i)
            for (int c = 1; c < 4; ++c)
                ASSERT_EQ(f.out().channel(i % 9, i / 9, c), f.in().channel(0, 0, c)) << amount;
    }
    StageFrame f(kLayout<Tag>, 6, 4, 3);
    std::vector<uint8_t> other(6 * 4 * 16, 200);
    RasterDesc desc{other.data(), 0, 6, 4, kIs16Bit<Tag> ? 24 : 48, kIs16Bit<Tag> ? 4u : 8u};
    RasterHolder source(f.setup.services->wrapRaster(desc), f.setup.services.get(), false, true);
    EXPECT_EQ(DisplacementStage<Tag>(::FrameContext{}, *f.setup.services, source, f.output, 1.0f), STATUS_UNSUPPORTED);
    EXPECT_EQ(f.out().channel(2, 2, 1), 0u) << "the output is left as it was";
}

// The same picture in 8 and 16 bits. Each depth truncates twice (a row mix, then the column
// mix), losing up to one level of its own each time; the 16-bit picture is the 8-bit one to
// within 1/128 of an 8-bit level. So the 8-bit result lies up to 2 levels below the 16-bit
// one scaled to 8 bits, and rounding that scaled value adds half a level: within 2.
TEST(DisplacementDepth, EightAndSixteenBitsLookTheSame) {
    const uint32_t w = 60, h = 45;
    StageFrame narrow(PixelLayout::ARGB8, w, h, 14), wide(PixelLayout::ARGB16, w, h, 0);
    for (uint32_t i = 0; i < w * h; ++i)
        for (int c = 0; c < 4; ++c)
            wide.in().setChannel(i % w, i / w, c, uint32_t(std::lround(narrow.in().channel(i % w, i / w, c) * 16384.0 / 255.0)));
    ASSERT_EQ(narrow.displace<PIXEL_ARGB8>(3.3f), STATUS_OK);
    ASSERT_EQ(wide.displace<PIXEL_ARGB14>(3.3f), STATUS_OK);
    for (uint32_t i = 0; i < w * h; ++i)
        for (int c = 1; c < 4; ++c) {
            const long d = std::lround(wide.out().channel(i % w, i / w, c) * 255.0 / 16384.0) -
                           long(narrow.out().channel(i % w, i / w, c));
            EXPECT_GE(d, -1L) << "8-bit truncation only loses";
            EXPECT_LE(d, 2L);
        }
}

// In the chain the warp reads the source frame: with fading on as well, the colours are the
// displaced source without the fade.
TEST(DisplacementDriver, TheChainShowsTheDisplacedSource) {
    for (PixelLayout layout : kAllLayouts) {
        RegisteredEffect reg;
        auto values = reg.defaults();
        FrameSetup f(reg.host.get(), ImageSpec{21, 13, layout, 12}, values);
        InstanceData data;
        ASSERT_EQ(createInstanceData(*f.services, data), 0);
        f.services->setInstanceData(&data);
        for (auto [slot, v] : {std::pair{0, 1.0}, std::pair{2, 40.0}, std::pair{32, 1.0}})  // fading 40, displacement
            values->set(*slotIdentifier(slot), values->track(*slotIdentifier(slot))->type, v);
        f.input->fillRandom(19);
        ASSERT_EQ(RenderFrame(*f.services), STATUS_OK);
        for (uint32_t i = 0; i < 21 * 13; ++i)
            for (int c = 1; c < 4; ++c)
                ASSERT_EQ(f.output->channel(i % 21, i / 21, c), warped(*f.input.get(), i % 21, i / 21, c, 0.5f));
        destroyInstanceData(*f.services, data);
    }
}
