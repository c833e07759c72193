// Flicker: every level against the lift written out from its definition, black, white and
// alpha fixed, its own draw, refused heap tables, foreign values, 8-bit and 16-bit alike.
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>

#include "TestSupport.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Pipeline.h"
#include "pipeline/Random.h"
#include "stages/tone/Flicker.h"

// The program's heap, counted, and able to refuse the non-throwing forms the stage uses.
namespace {
std::atomic<long> gHeapBlocks{0};
std::atomic<bool> gRefuseNothrow{false};
void* heapAllocate(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    gHeapBlocks += block != nullptr;
    return block;
}
void heapFree(void* block) noexcept {
    gHeapBlocks -= block != nullptr;
    std::free(block);
}
void* heapOrThrow(std::size_t size) {
    if (void* block = heapAllocate(size))
        return block;
    throw std::bad_alloc();
}
}  // namespace
void* operator new(std::size_t size) { return heapOrThrow(size); }
void* operator new[](std::size_t size) { return heapOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return gRefuseNothrow ? nullptr : heapAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return gRefuseNothrow ? nullptr : heapAllocate(size); }
void operator delete(void* block) noexcept { heapFree(block); }
void operator delete[](void* block) noexcept { heapFree(block); }
void operator delete(void* block, std::size_t) noexcept { heapFree(block); }
void operator delete[](void* block, std::size_t) noexcept { heapFree(block); }

using namespace refhost;
using namespace testing_support;

namespace {

template <class Tag>
constexpr PixelLayout kLayout = kIs16Bit<Tag> ? (Tag::FORMAT::A == 0 ? PixelLayout::ARGB16 : PixelLayout::BGRA16)
                                              : (Tag::FORMAT::A == 0 ? PixelLayout::ARGB8 : PixelLayout::BGRA8);

// One frame as the driver hands it to a stage, the input already copied into the output.
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
    Status flicker(float amount) {
        setup.services->copyInputToOutput();
        return FlickerStage<Tag>(::FrameContext{}, *setup.services, input, output, amount);
    }
};

// The lift written out: trunc(white (v / white)^(1 / gamma) + 0.5), gamma = 1 + amount / 100
// with the quotient in single precision.
uint32_t lifted(uint32_t v, float amount, uint32_t white) {
    const double gamma = double(float(double(amount) / 100.0)) + 1.0;
    return uint32_t(std::trunc(white * std::pow(double(v) / white, 1.0 / gamma) + 0.5));
}

uint32_t advance(uint32_t state, int draws) {
    for (int i = 0; i < draws; ++i)
        state = state * 214013u + 2531011u;
    return state;
}

}  // namespace

template <class Tag>
class Flicker : public ::testing::Test {};
using AllFormats = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;
TYPED_TEST_SUITE(Flicker, AllFormats);

// Every level in every colour channel, alpha left as it was; amount 100 is gamma 2, a square
// root: 64 -> trunc(255 sqrt(64 / 255) + 0.5) = 128 in 8-bit, a quarter of white to a half in
// 16-bit; black and white stay.
TYPED_TEST(Flicker, EveryLevelLiftedAlphaKept) {
    using Tag = TypeParam;
    const uint32_t W = Tag::white, w = kIs16Bit<Tag> ? 131 : 17, h = (W + w) / w;
    for (float amount : {1.0f, 10.0f, 37.0f, 100.0f}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, w, h, 1);
        for (uint32_t i = 0; i < w * h; ++i)
            for (int c = 1; c < 4; ++c)
                f.in().setChannel(i % w, i / w, c, (i + 5000 * uint32_t(c - 1)) % (W + 1));
        ASSERT_EQ(f.flicker<Tag>(amount), STATUS_OK);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                ASSERT_EQ(f.out().channel(x, y, 0), f.in().channel(x, y, 0));
                for (int c = 1; c < 4; ++c)
                    ASSERT_EQ(f.out().channel(x, y, c), lifted(f.in().channel(x, y, c), amount, W));
            }
        if (amount == 100.0f) {
            const uint32_t quarter = kIs16Bit<Tag> ? 4096 : 64, half = kIs16Bit<Tag> ? 8192 : 128;
            EXPECT_EQ(lifted(quarter, amount, W), half);
            EXPECT_EQ(f.out().channel(quarter % w, quarter / w, 1), half);
            EXPECT_EQ(f.out().channel(0, 0, 1), 0u);
            EXPECT_EQ(f.out().channel(W % w, W / w, 1), W);
        }
        EXPECT_TRUE(f.out().guardsIntact());
    }
}

// One draw of its own, before its tables; refused tables are status 4 with the frame as it
// was; granted ones go back to the heap.
TYPED_TEST(Flicker, OwnDrawAndRefusedTables) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 6, 5, 21);
    const long heapBefore = gHeapBlocks;
    const int64_t hostBefore = f.hostComponent->memory().liveBlocks();
    rng::threadState() = 99;
    gRefuseNothrow = true;
    const Status status = f.flicker<Tag>(100.0f);
    gRefuseNothrow = false;
    EXPECT_EQ(status, STATUS_NO_RASTER);
    EXPECT_TRUE(f.out().samePixels(f.in()));
    EXPECT_EQ(gHeapBlocks, heapBefore);
    EXPECT_EQ(f.hostComponent->memory().liveBlocks(), hostBefore);
    EXPECT_EQ(rng::threadState(), advance(99, 1));
    ASSERT_EQ(f.flicker<Tag>(100.0f), STATUS_OK);
    EXPECT_EQ(gHeapBlocks, heapBefore);
    EXPECT_EQ(rng::threadState(), advance(99, 2));
}

// Amounts no host should send stay in range; 16-bit samples beyond white read the last entry.
TYPED_TEST(Flicker, ForeignValuesAndAmounts) {
    using Tag = TypeParam;
    const float inf = std::numeric_limits<float>::infinity();
    for (float amount : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, -100.0f, -250.0f, 3e38f, 40.0f}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, 7, 4, 5);
        if (kIs16Bit<Tag>)
            f.in().setChannel(2, 1, 1, 65535);
        ASSERT_EQ(f.flicker<Tag>(amount), STATUS_OK);
        for (uint32_t i = 0; i < 28; ++i)
            for (int c = 1; c < 4; ++c)
                EXPECT_LE(f.out().channel(i % 7, i / 7, c), uint32_t(Tag::white));
        if (kIs16Bit<Tag> && amount == 40.0f) {
            EXPECT_EQ(f.out().channel(2, 1, 1), 16384u);
        }
    }
}

TEST(FlickerDepth, AnotherDepthIsRefusedUntouched) {
    StageFrame f(PixelLayout::ARGB16, 4, 3, 2);  // 8 bytes per pixel have no 8-bit value range
    EXPECT_EQ(f.flicker<PIXEL_ARGB8>(100.0f), STATUS_UNSUPPORTED);
    EXPECT_TRUE(f.out().samePixels(f.in()));
}

// The same picture in 8 and 16 bits. Each depth rounds the curve to its own levels; the 16-bit
// picture is the 8-bit one to within 1/128 of an 8-bit level, which the steepest part of the
// curve met (gamma 2 at level 1) stretches to 0.06 of a level. So the 16-bit result scaled to
// 8 bits lies within 0.5 + 0.5 + 0.06 of the 8-bit one: after rounding, within 1.
TEST(FlickerDepth, EightAndSixteenBitsLookTheSame) {
    for (float amount : {25.0f, 60.0f, 100.0f}) {
        StageFrame narrow(PixelLayout::BGRA8, 16, 16, 3), wide(PixelLayout::BGRA16, 16, 16, 3);
        for (uint32_t i = 0; i < 256; ++i)
            for (int c = 1; c < 4; ++c) {
                narrow.in().setChannel(i % 16, i / 16, c, (i + 37 * uint32_t(c)) % 256);
                wide.in().setChannel(i % 16, i / 16, c, uint32_t(std::lround((i + 37 * c) % 256 * 16384.0 / 255.0)));
            }
        ASSERT_EQ(narrow.flicker<PIXEL_BGRA8>(amount), STATUS_OK);
        ASSERT_EQ(wide.flicker<PIXEL_BGRA14>(amount), STATUS_OK);
        for (uint32_t i = 0; i < 256; ++i)
            for (int c = 1; c < 4; ++c)
                EXPECT_LE(std::labs(std::lround(wide.out().channel(i % 16, i / 16, c) * 255.0 / 16384.0) -
                                    long(narrow.out().channel(i % 16, i / 16, c))),
                          1L);
    }
}

// Through the driver: its gate draws once, the stage once more, and the frame is lifted.
TEST(FlickerDriver, AFlickeringFrameThroughTheChain) {
    for (PixelLayout layout : kAllLayouts) {
        RegisteredEffect reg;
        auto values = reg.defaults();
        FrameSetup f(reg.host.get(), ImageSpec{9, 6, layout, 12}, values);
        InstanceData data;
        ASSERT_EQ(createInstanceData(*f.services, data), 0);
        f.services->setInstanceData(&data);
        for (auto [slot, v] : {std::pair{22, 1.0}, std::pair{24, 1.0}, std::pair{25, 100.0}})  // on, always, amount
            values->set(*slotIdentifier(slot), values->track(*slotIdentifier(slot))->type, v);
        f.input->fillRandom(12);
        rng::threadState() = 1;
        ASSERT_EQ(RenderFrame(*f.services), STATUS_OK);
        EXPECT_EQ(rng::threadState(), advance(1, 2));
        for (uint32_t i = 0; i < 54; ++i)
            for (int c = 1; c < 4; ++c)
                ASSERT_EQ(f.output->channel(i % 9, i / 9, c), lifted(f.input->channel(i % 9, i / 9, c), 100.0f, f.input->white()));
        destroyInstanceData(*f.services, data);
    }
}
