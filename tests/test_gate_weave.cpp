// Gate weave: the swing, the jolts and their draws, the black strip, wide amplitudes,
// translucent pictures, tall frames, the refused copy, both depths, the driver's settings.
#include <limits>

#include "StageTestSupport.h"
#include "pipeline/Random.h"
#include "stages/tone/GateWeave.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PlainBlend.h"

using namespace stage_support;

namespace {

// An opaque sample over the opaque black fill. The 16-bit fill's alpha is 16383, so the blend
// keeps v except that 8192 becomes 8193.
uint32_t overFill(uint32_t v, bool wide) { return wide ? ((v + 8192) >> 14) + ((v * 16383 + 8192) >> 14) : v; }

// A 21 x H frame, opaque unless asked; in 16-bit column 3's green is 8192, which the fill moves.
template <class Tag, uint32_t H = 6>
struct Weave : StageFrame {
    static constexpr uint32_t w = 21, h = H;
    std::vector<uint32_t> before;
    explicit Weave(uint32_t seed = 3, bool opaque = true) : StageFrame(kLayout<Tag>, w, h, seed) {
        if (opaque) makeOpaque(in());
        for (uint32_t y = 0; y < h && kIs16Bit<Tag>; ++y) in().setChannel(3, y, 2, 8192);
        start();
        before = snapshot(out());
    }
    Status weave(int32_t frame, float F, float A, float N) {
        setup.services->mFrameNumber = frame;
        return run(&GateWeaveStage<Tag>, F, A, N);
    }
    // The output is the picture moved by s over opaque black (all black from |s| >= w on).
    void expectShifted(int64_t s) {
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const int64_t from = int64_t(x) - s;
                const bool picture = from >= 0 && from < int64_t(w);
                for (int c = 0; c < 4; ++c) {
                    const uint32_t v = before[size_t((y * w + (picture ? from : 0)) * 4 + c)];
                    const uint32_t want = !picture ? (c == 0 ? fromByte<Tag>(255) : 0) : c == 0 ? v : overFill(v, kIs16Bit<Tag>);
                    ASSERT_EQ(out().channel(x, y, c), want) << "shift " << s << " at " << x << "," << y << " channel " << c;
                }
            }
        EXPECT_TRUE(out().guardsIntact());
    }
};

}  // namespace

template <class Tag>
class GateWeave : public ::testing::Test {};
TYPED_TEST_SUITE(GateWeave, AllFormats);

// The swing is A cos(2 pi F n / 24), rounded: at F 0.25 frame 0 moves right by A, 48 left,
// 24 not at all. Every frame draws once; a frame other than 0 draws again for a jolt when the
// noise frequency beats the first draw. Amplitudes of the width or more leave black; NaN moves
// nothing.
TYPED_TEST(GateWeave, SwingJoltsAndTheirDraws) {
    const float W = 21, inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        int32_t frame;
        float amplitude, noise;
        int64_t shift;
        int draws;
    } cases[] = {{0, 5, 100, 5, 1},   {0, 5, 0, 5, 1},     {48, 5, 0, -5, 1},   {24, 5, 0, 0, 1},
                 {0, 0, 100, 0, 1},   {7, 0, 100, 0, 2},   {48, 0, 100, 0, 2},  {7, 0, 0, 0, 1},
                 {0, W, 0, 99, 1},    {0, -W, 0, 99, 1},   {0, 3 * W, 0, 99, 1}, {0, 1e30f, 0, 99, 1},
                 {0, inf, 0, 99, 1},  {0, -inf, 0, 99, 1}, {3, nan, 100, 0, 2}};
    for (const auto& k : cases) {
        SCOPED_TRACE(::testing::Message() << "frame " << k.frame << " amplitude " << k.amplitude << " noise " << k.noise);
        Weave<TypeParam> f;
        rng::threadState() = 777;
        ASSERT_EQ(f.weave(k.frame, 0.25f, k.amplitude, k.noise), STATUS_OK);
        f.expectShifted(k.shift);
        EXPECT_EQ(rng::threadState(), advance(777, k.draws));
    }
}

// The jolt u2 (2A) - A for draws u1, u2: A = 8 and 4096 jolt by -5.99994 (8 -> 2, -8 -> -14),
// 28000 by +5.67229. Narrowed to float before the sum: A = 17.140625 and 16727 give
// 17.49999905, 17.5 in float, so 18. The gate: 32767 never beats 100, and u1 x 100 is narrowed
// before the test (16383 does not beat its own float value).
TYPED_TEST(GateWeave, JoltSizeSignAndPrecision) {
    const float threshold = float(16383 / 32767.0 * 100.0);
    ASSERT_GT(double(threshold), 16383 / 32767.0 * 100.0);
    const struct {
        int32_t frame;
        float frequency, amplitude, noise;
        uint32_t u1, u2;
        int64_t shift;
    } cases[] = {
        {7, 0, 8, 100, 0, 4096, 2},       {7, 0, 8, 100, 32766, 28000, 14}, {7, 0, 8, 100, 5, 0, 0},
        {7, 0, 8, 100, 5, 32767, 16},     {48, 0.25f, 8, 100, 5, 4096, -14}, {48, 0.25f, 8, 100, 5, 28000, -2},
        {5, 0, 17.140625f, 100, 5, 16727, 18}, {7, 0, 8, 100, 32767, 32767, 8}, {7, 0, 8, threshold, 16383, 32767, 8},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(::testing::Message() << "frame " << k.frame << " amplitude " << k.amplitude << " draws " << k.u1 << " " << k.u2);
        Weave<TypeParam> f;
        const uint32_t start = stateBefore(k.u1, int32_t(k.u2));
        rng::threadState() = start;
        ASSERT_EQ(f.weave(k.frame, k.frequency, k.amplitude, k.noise), STATUS_OK);
        f.expectShifted(k.shift);
        EXPECT_EQ(rng::threadState(), advance(start, k.shift == 8 ? 1 : 2));  // only the unjolted stay at 8
    }
}

// Translucent pixels end up opaque over black, their colour scaled by their alpha (8-bit one
// level off at most; 16-bit up to 2 from the fill's alpha).
TYPED_TEST(GateWeave, TranslucentPicturesAreLaidOverBlack) {
    Weave<TypeParam> f(9, false);
    ASSERT_EQ(f.weave(5, 0.25f, 0, 0), STATUS_OK);
    const double W = f.out().white();
    for (uint32_t y = 0; y < f.h; ++y)
        for (uint32_t x = 0; x < f.w; ++x) {
            const size_t i = (y * f.w + x) * 4;
            EXPECT_GE(f.out().channel(x, y, 0), W - 1);
            for (int c = 1; c < 4; ++c)
                EXPECT_NEAR(f.out().channel(x, y, c), f.before[i + size_t(c)] * (f.before[i] / W), kIs16Bit<TypeParam> ? 3 : 2)
                    << x << "," << y << " alpha " << f.before[i];
        }
}

// Frames taller than a band: every row as in a whole-frame copy laid over black.
TYPED_TEST(GateWeave, TallFramesMoveAsAWhole) {
    using Tag = TypeParam;
    for (const int64_t shift : {5, -5, 0}) {
        Weave<Tag, 45> f(11, false);
        const int32_t frame = shift > 0 ? 0 : shift < 0 ? 48 : 24;
        ASSERT_EQ(f.weave(frame, 0.25f, 5, 0), STATUS_OK);

        Weave<Tag, 45> plain(11, false);
        RasterDesc moved = descOf(plain.out()), copy = moved;
        std::vector<uint8_t> held(size_t(moved.rowBytes) * moved.height);
        copy.pixels = held.data();
        CopyRows(moved, copy);
        FillRaster<Tag>(moved, 0, 0, 0, 255);
        const int16_t w = int16_t(f.w), h = int16_t(f.h), s = int16_t(shift);
        const Rect16 from{0, int16_t(s < 0 ? -s : 0), h, int16_t(s > 0 ? w - s : w)};
        const Rect16 to{0, int16_t(s > 0 ? s : 0), h, int16_t(s < 0 ? w + s : w)};
        ASSERT_EQ(CompositeRectPlain<Tag>(nullptr, BLEND_NORMAL, copy, moved, from, to, 1.0), STATUS_OK);
        EXPECT_EQ(snapshot(f.out()), snapshot(plain.out())) << "shift " << shift;
        EXPECT_TRUE(f.out().guardsIntact());
    }
}

TYPED_TEST(GateWeave, ARefusedCopyRasterChangesNothing) {
    Weave<TypeParam> f;
    rng::threadState() = 5;
    expectRefusalLeavesTheFrame(f, 1, [&] { return f.weave(0, 0.25f, 5, 5); });
    EXPECT_EQ(rng::threadState(), advance(5, 1)) << "no draw before the raster exists, one when granted";
}

TEST(GateWeaveDepths, EightAndSixteenBitFramesShiftAlike) {
    for (uint32_t start : {1u, 99u, 4242u}) {
        Weave<PIXEL_BGRA8> eight(start);
        Weave<PIXEL_ARGB14> sixteen(start);
        for (uint32_t y = 0; y < eight.h; ++y)
            for (uint32_t x = 0; x < eight.w; ++x)
                for (int c = 0; c < 4; ++c)
                    sixteen.out().setChannel(x, y, c, c == 0 ? 16384 : widen8to16(uint8_t(eight.out().channel(x, y, c))));
        for (int32_t frame = 1; frame < 40; ++frame) {
            rng::threadState() = start;
            ASSERT_EQ(eight.weave(frame, 0.5f, 6, 60), STATUS_OK);
            rng::threadState() = start;
            ASSERT_EQ(sixteen.weave(frame, 0.5f, 6, 60), STATUS_OK);
            for (uint32_t y = 0; y < eight.h; ++y)
                for (uint32_t x = 0; x < eight.w; ++x)
                    for (int c = 1; c < 4; ++c)
                        ASSERT_EQ(sixteen.out().channel(x, y, c), overFill(widen8to16(uint8_t(eight.out().channel(x, y, c))), true))
                            << "frame " << frame << " at " << x << "," << y;
        }
    }
}

TYPED_TEST(GateWeave, TheDriverPassesTheSettings) {
    using Tag = TypeParam;
    ChainFrame chain(kLayout<Tag>, 21, 6, 4, {{"DoGateweave", 1}, {"Frequency", 0.5}, {"Amplitude", 7}, {"NoiseFrequency", 100}});
    rng::threadState() = 31;
    ASSERT_EQ(chain.render(13), STATUS_OK);
    StageFrame direct(kLayout<Tag>, 21, 6, 4);
    direct.setup.services->mFrameNumber = 13;
    rng::threadState() = 31;
    ASSERT_EQ(direct.run(&GateWeaveStage<Tag>, 0.5f, 7.0f, 100.0f), STATUS_OK);
    EXPECT_EQ(snapshot(chain.out()), snapshot(direct.out()));
}
