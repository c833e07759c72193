// Flicker: every level against the lift from its definition, its own draw, refused tables,
// foreign values, both depths, the chain.
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>

#include "StageTestSupport.h"
#include "pipeline/Random.h"
#include "stages/tone/Flicker.h"

// The program's heap, counted, and able to refuse the non-throwing forms the stage uses.
namespace {
std::atomic<long> gHeapBlocks{0};
std::atomic<bool> gRefuseNothrow{false};
void* heapAllocate(std::size_t size, bool nothrow) {
    void* block = nothrow && gRefuseNothrow ? nullptr : std::malloc(size ? size : 1);
    gHeapBlocks += block != nullptr;
    if (!block && !nothrow) throw std::bad_alloc();
    return block;
}
void heapFree(void* block) noexcept {
    gHeapBlocks -= block != nullptr;
    std::free(block);
}
}  // namespace
void* operator new(std::size_t size) { return heapAllocate(size, false); }
void* operator new[](std::size_t size) { return heapAllocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return heapAllocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return heapAllocate(size, true); }
void operator delete(void* block) noexcept { heapFree(block); }
void operator delete[](void* block) noexcept { heapFree(block); }
void operator delete(void* block, std::size_t) noexcept { heapFree(block); }
void operator delete[](void* block, std::size_t) noexcept { heapFree(block); }

using namespace stage_support;

namespace {

// The lift written out: trunc(white (v / white)^(1 / gamma) + 0.5), gamma = 1 + amount / 100
// with the quotient in single precision.
uint32_t lifted(uint32_t v, float amount, uint32_t white) {
    const double gamma = double(float(double(amount) / 100.0)) + 1.0;
    return uint32_t(std::trunc(white * std::pow(double(v) / white, 1.0 / gamma) + 0.5));
}

void expectLifted(Image& in, Image& out, float amount) {
    for (uint32_t y = 0; y < in.shape().height; ++y)
        for (uint32_t x = 0; x < in.shape().width; ++x) {
            ASSERT_EQ(out.channel(x, y, 0), in.channel(x, y, 0));
            for (int c = 1; c < 4; ++c) ASSERT_EQ(out.channel(x, y, c), lifted(in.channel(x, y, c), amount, in.white()));
        }
    EXPECT_TRUE(out.guardsIntact());
}

}  // namespace

template <class Tag>
class Flicker : public ::testing::Test {};
TYPED_TEST_SUITE(Flicker, AllFormats);

// Every level in every colour channel, alpha kept; amount 100 is gamma 2, a square root:
// 64 -> 128 in 8-bit, a quarter of white to a half in 16-bit; black and white stay.
TYPED_TEST(Flicker, EveryLevelLiftedAlphaKept) {
    using Tag = TypeParam;
    const uint32_t W = Tag::white, w = kIs16Bit<Tag> ? 131 : 17, h = (W + w) / w;
    for (float amount : {1.0f, 10.0f, 37.0f, 100.0f}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, w, h);
        for (uint32_t i = 0; i < w * h; ++i)
            for (int c = 1; c < 4; ++c) f.in().setChannel(i % w, i / w, c, (i + 5000 * uint32_t(c - 1)) % (W + 1));
        f.start();
        ASSERT_EQ(f.run(&FlickerStage<Tag>, amount), STATUS_OK);
        expectLifted(f.in(), f.out(), amount);
        if (amount == 100.0f) {
            const uint32_t quarter = kIs16Bit<Tag> ? 4096 : 64, half = kIs16Bit<Tag> ? 8192 : 128;
            EXPECT_EQ(f.out().channel(quarter % w, quarter / w, 1), half);
            EXPECT_EQ(f.out().channel(0, 0, 1), 0u);
            EXPECT_EQ(f.out().channel(W % w, W / w, 1), W);
        }
    }
}

// One draw of its own, before its tables; refused tables give 4 and the frame as it was.
// Foreign amounts stay in range; 16-bit samples past white read the last entry.
TYPED_TEST(Flicker, OwnDrawRefusedTablesAndForeignValues) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 6, 5, 21);
    const long heapBefore = gHeapBlocks;
    const int64_t hostBefore = f.liveBlocks();
    rng::threadState() = 99;
    gRefuseNothrow = true;
    const Status status = f.run(&FlickerStage<Tag>, 100.0f);
    gRefuseNothrow = false;
    EXPECT_EQ(status, STATUS_NO_RASTER);
    EXPECT_TRUE(f.out().samePixels(f.in()));
    EXPECT_EQ(gHeapBlocks, heapBefore);
    EXPECT_EQ(f.liveBlocks(), hostBefore);
    EXPECT_EQ(rng::threadState(), advance(99, 1));
    ASSERT_EQ(f.run(&FlickerStage<Tag>, 100.0f), STATUS_OK);
    EXPECT_EQ(gHeapBlocks, heapBefore);
    EXPECT_EQ(rng::threadState(), advance(99, 2));

    const float inf = std::numeric_limits<float>::infinity();
    for (float amount : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, -100.0f, -250.0f, 3e38f, 40.0f}) {
        SCOPED_TRACE(amount);
        StageFrame g(kLayout<Tag>, 7, 4, 5);
        if (kIs16Bit<Tag>) g.out().setChannel(2, 1, 1, 65535);
        ASSERT_EQ(g.run(&FlickerStage<Tag>, amount), STATUS_OK);
        expectInRange(g.out());
        if (kIs16Bit<Tag> && amount == 40.0f) {
            EXPECT_EQ(g.out().channel(2, 1, 1), 16384u);
        }
    }
}

TEST(FlickerDepth, AnotherDepthIsRefusedUntouched) {
    StageFrame f(PixelLayout::ARGB16, 4, 3, 2);  // 8 bytes per pixel have no 8-bit value range
    EXPECT_EQ(f.run(&FlickerStage<PIXEL_ARGB8>, 100.0f), STATUS_UNSUPPORTED);
    EXPECT_TRUE(f.out().samePixels(f.in()));
}

// Each depth rounds the curve to its own levels; the 16-bit input differs by 1/128 of a level,
// stretched to 0.06 by the steepest part: within 1 after rounding.
TEST(FlickerDepth, EightAndSixteenBitsLookTheSame) {
    for (float amount : {25.0f, 60.0f, 100.0f}) {
        StageFrame narrow(PixelLayout::BGRA8, 16, 16), wide(PixelLayout::BGRA16, 16, 16);
        for (uint32_t i = 0; i < 256; ++i)
            for (int c = 1; c < 4; ++c) narrow.in().setChannel(i % 16, i / 16, c, (i + 37 * uint32_t(c)) % 256);
        sameInputInSixteenBits(narrow, wide);
        ASSERT_EQ(narrow.run(&FlickerStage<PIXEL_BGRA8>, amount), STATUS_OK);
        ASSERT_EQ(wide.run(&FlickerStage<PIXEL_BGRA14>, amount), STATUS_OK);
        const DepthGap gap = depthGap(narrow.out(), wide.out());
        EXPECT_GE(gap.low, -1L);
        EXPECT_LE(gap.high, 1L);
    }
}

// Through the driver: its gate draws once, the stage once more, and the frame is lifted.
TYPED_TEST(Flicker, AFlickeringFrameThroughTheChain) {
    ChainFrame chain(kLayout<TypeParam>, 9, 6, 12, {{"DoFlicker", 1}, {"FlickerFreq", 1}, {"FlickerAmount", 100}});
    rng::threadState() = 1;
    ASSERT_EQ(chain.render(), STATUS_OK);
    EXPECT_EQ(rng::threadState(), advance(1, 2));
    expectLifted(chain.in(), chain.out(), 100.0f);
}
