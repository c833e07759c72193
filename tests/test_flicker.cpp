// Flicker: the gamma lift over every level against the curve written out from its definition,
// black, white and alpha fixed, the stage's own draw, the heap tables refused, foreign values
// and amounts, 8-bit and 16-bit alike, and the stage as the driver runs it.
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

// The program's heap, counted, and able to refuse the non-throwing forms that the stage uses
// for its tables.
namespace {
std::atomic<long> gHeapBlocks{0};
std::atomic<bool> gRefuseNothrow{false};

void* heapAllocate(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (block)
        ++gHeapBlocks;
    return block;
}
void heapFree(void* block) noexcept {
    if (!block)
        return;
    --gHeapBlocks;
    std::free(block);
}
}  // namespace

void* operator new(std::size_t size) {
    if (void* block = heapAllocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* block = heapAllocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return gRefuseNothrow ? nullptr : heapAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return gRefuseNothrow ? nullptr : heapAllocate(size);
}
void operator delete(void* block) noexcept { heapFree(block); }
void operator delete[](void* block) noexcept { heapFree(block); }
void operator delete(void* block, std::size_t) noexcept { heapFree(block); }
void operator delete[](void* block, std::size_t) noexcept { heapFree(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { heapFree(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { heapFree(block); }

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

// One frame as the driver hands it to a stage: input and output holders around host images.
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
    // The driver copies the input into the output before the first stage.
    void start() { setup.services->copyInputToOutput(); }
    template <class Tag>
    Status flicker(float amount) {
        return FlickerStage<Tag>(::FrameContext{}, *setup.services, input, output, amount);
    }
};

// The lift written out: white (v / white)^(1 / gamma) + 0.5, truncated, gamma = 1 + amount / 100
// with the quotient in single precision.
uint32_t lifted(uint32_t v, float amount, uint32_t white) {
    const double gamma = double(float(double(amount) / 100.0)) + 1.0;
    const double x = std::trunc(double(white) * std::pow(double(v) / double(white), 1.0 / gamma) + 0.5);
    return uint32_t(std::clamp(x, 0.0, double(white)));
}

uint32_t advance(uint32_t state, int draws) {
    for (int i = 0; i < draws; ++i)
        state = uint32_t(uint64_t(state) * 214013u + 2531011u);
    return state;
}

}  // namespace

template <class Tag>
class Flicker : public ::testing::Test {};
using AllFormats = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;
TYPED_TEST_SUITE(Flicker, AllFormats);

TYPED_TEST(Flicker, WorkedExampleWithBlackWhiteAndAlphaFixed) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 5, 3);
    const uint32_t W = f.in().white();
    // Amount 100 is gamma 2, a square root: 64 -> trunc(255 sqrt(64/255) + 0.5) = 128 in
    // 8-bit, and a quarter of white becomes half of it in 16-bit.
    const uint32_t quarter = kIs16Bit<Tag> ? 4096 : 64, half = kIs16Bit<Tag> ? 8192 : 128;
    f.in().fillRandom(3);
    for (uint32_t x = 0; x < 5; ++x) {
        f.in().setChannel(x, 0, 1, quarter);
        f.in().setChannel(x, 0, 2, 0);
        f.in().setChannel(x, 0, 3, W);
    }
    f.start();
    ASSERT_EQ(f.flicker<Tag>(100.0f), STATUS_OK);
    for (uint32_t x = 0; x < 5; ++x) {
        EXPECT_EQ(f.out().channel(x, 0, 1), half);
        EXPECT_EQ(f.out().channel(x, 0, 2), 0u);
        EXPECT_EQ(f.out().channel(x, 0, 3), W);
    }
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(f.out().channel(x, y, 0), f.in().channel(x, y, 0)) << "alpha is never touched";
    EXPECT_TRUE(f.out().guardsIntact());
}

TYPED_TEST(Flicker, EveryLevelFollowsTheLift) {
    using Tag = TypeParam;
    const uint32_t levels = Tag::white + 1;
    const uint32_t w = kIs16Bit<Tag> ? 131 : 17, h = (levels + w - 1) / w;
    for (float amount : {1.0f, 10.0f, 37.0f, 100.0f}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, w, h);
        // R walks every level, G and B the same levels in other places.
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint32_t x = i % w, y = i / w, v = i % levels;
            f.in().setChannel(x, y, 0, (v * 7) % levels);
            f.in().setChannel(x, y, 1, v);
            f.in().setChannel(x, y, 2, (v + 5000) % levels);
            f.in().setChannel(x, y, 3, Tag::white - v);
        }
        f.start();
        ASSERT_EQ(f.flicker<Tag>(amount), STATUS_OK);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                ASSERT_EQ(f.out().channel(x, y, 0), f.in().channel(x, y, 0));
                for (int c = 1; c < 4; ++c) {
                    const uint32_t v = f.in().channel(x, y, c), o = f.out().channel(x, y, c);
                    ASSERT_EQ(o, lifted(v, amount, Tag::white)) << "level " << v;
                    ASSERT_GE(o, v) << "a flicker only brightens";
                }
            }
    }
}

TYPED_TEST(Flicker, DrawsOneNumberOfItsOwn) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 4, 4);
    f.in().fillRandom(8);
    f.start();
    rng::threadState() = 4242;
    ASSERT_EQ(f.flicker<Tag>(50.0f), STATUS_OK);
    EXPECT_EQ(rng::threadState(), advance(4242, 1));
}

TYPED_TEST(Flicker, RefusedTablesLeaveTheFrame) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 6, 5);
    f.in().fillRandom(21);
    f.start();
    const long heapBefore = gHeapBlocks;
    const int64_t hostBefore = f.hostComponent->memory().liveBlocks();
    rng::threadState() = 99;
    gRefuseNothrow = true;
    const Status status = f.flicker<Tag>(100.0f);
    gRefuseNothrow = false;
    EXPECT_EQ(status, STATUS_NO_RASTER);
    EXPECT_TRUE(f.out().samePixels(f.in())) << "the frame is left as it came";
    EXPECT_EQ(gHeapBlocks, heapBefore);
    EXPECT_EQ(f.hostComponent->memory().liveBlocks(), hostBefore);
    EXPECT_EQ(rng::threadState(), advance(99, 1)) << "the draw comes before the tables";

    // And when they are granted, they are given back.
    ASSERT_EQ(f.flicker<Tag>(100.0f), STATUS_OK);
    EXPECT_EQ(gHeapBlocks, heapBefore);
}

TYPED_TEST(Flicker, ForeignValuesAndAmounts) {
    using Tag = TypeParam;
    const float inf = std::numeric_limits<float>::infinity();
    for (float amount : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, -100.0f, -250.0f, 1e30f, 3e38f}) {
        SCOPED_TRACE(amount);
        StageFrame f(kLayout<Tag>, 7, 4);
        f.in().fillRandom(5);
        if (kIs16Bit<Tag>) {
            f.in().setChannel(2, 1, 1, 65535);  // beyond white: reads the last entry
            f.in().setChannel(3, 1, 3, 16385);
        }
        f.start();
        ASSERT_EQ(f.flicker<Tag>(amount), STATUS_OK);
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 7; ++x) {
                EXPECT_EQ(f.out().channel(x, y, 0), f.in().channel(x, y, 0));
                for (int c = 1; c < 4; ++c)
                    EXPECT_LE(f.out().channel(x, y, c), uint32_t(Tag::white));
            }
        EXPECT_TRUE(f.out().guardsIntact());
    }
    if (kIs16Bit<Tag>) {
        StageFrame f(kLayout<Tag>, 2, 1);
        f.in().setChannel(0, 0, 1, 65535);
        f.in().setChannel(1, 0, 2, 20000);
        f.start();
        ASSERT_EQ(f.flicker<Tag>(40.0f), STATUS_OK);
        EXPECT_EQ(f.out().channel(0, 0, 1), 16384u);
        EXPECT_EQ(f.out().channel(1, 0, 2), 16384u);
    }
}

TEST(FlickerDepth, AnotherDepthIsRefusedUntouched) {
    // An 8-bit stage handed a raster of 8 bytes per pixel has no value range for it.
    StageFrame f(PixelLayout::ARGB16, 4, 3);
    f.in().fillRandom(2);
    f.start();
    EXPECT_EQ(f.flicker<PIXEL_ARGB8>(100.0f), STATUS_UNSUPPORTED);
    EXPECT_TRUE(f.out().samePixels(f.in()));
}

// The same picture in 8 and 16 bits. Each depth rounds its own curve to the nearest level; the
// 16-bit picture is the 8-bit one to within 1/128 of an 8-bit level, and the steepest part of
// the curve met (gamma 2 at level 1) stretches that to 0.06 of a level. So the 16-bit result
// scaled to 8 bits lies within 0.5 + 0.5 + 0.06 of the 8-bit one: after rounding, within 1.
TEST(FlickerDepth, EightAndSixteenBitsLookTheSame) {
    for (float amount : {25.0f, 60.0f, 100.0f}) {
        SCOPED_TRACE(amount);
        StageFrame narrow(PixelLayout::BGRA8, 16, 16), wide(PixelLayout::BGRA16, 16, 16);
        for (uint32_t i = 0; i < 256; ++i)
            for (int c = 0; c < 4; ++c) {
                const uint32_t v = (i + 37 * uint32_t(c)) % 256;
                narrow.in().setChannel(i % 16, i / 16, c, v);
                wide.in().setChannel(i % 16, i / 16, c, uint32_t(std::lround(v * 16384.0 / 255.0)));
            }
        narrow.start();
        wide.start();
        ASSERT_EQ(narrow.flicker<PIXEL_BGRA8>(amount), STATUS_OK);
        ASSERT_EQ(wide.flicker<PIXEL_BGRA14>(amount), STATUS_OK);
        for (uint32_t y = 0; y < 16; ++y)
            for (uint32_t x = 0; x < 16; ++x)
                for (int c = 1; c < 4; ++c) {
                    const long scaled = std::lround(wide.out().channel(x, y, c) * 255.0 / 16384.0);
                    EXPECT_LE(std::labs(scaled - long(narrow.out().channel(x, y, c))), 1L) << x << "," << y;
                }
    }
}

// Through the driver: its gate draws once, the stage once more, and the frame is lifted.
TEST(FlickerDriver, AFlickeringFrameThroughTheChain) {
    for (PixelLayout layout : kAllLayouts) {
        RegisteredEffect reg;
        auto values = reg.defaults();
        FrameSetup f(reg.host.get(), specOf(layout, 9, 6), values);
        InstanceData data;
        ASSERT_EQ(createInstanceData(*f.services, data), 0);
        f.services->setInstanceData(&data);
        auto set = [&](int slot, double v) {
            const acfUID& id = *slotIdentifier(slot);
            values->set(id, values->track(id)->type, v);
        };
        set(22, 1);    // doFlicker
        set(24, 1.0);  // flickerFreq: every frame whose draw is below 1
        set(25, 100);  // flickerAmount
        f.input->fillRandom(12);
        rng::threadState() = 1;
        ASSERT_EQ(RenderFrame(*f.services), STATUS_OK);
        EXPECT_EQ(rng::threadState(), advance(1, 2));
        const uint32_t W = f.input->white();
        for (uint32_t y = 0; y < 6; ++y)
            for (uint32_t x = 0; x < 9; ++x) {
                EXPECT_EQ(f.output->channel(x, y, 0), f.input->channel(x, y, 0));
                for (int c = 1; c < 4; ++c)
                    ASSERT_EQ(f.output->channel(x, y, c), lifted(f.input->channel(x, y, c), 100.0f, W));
            }
        destroyInstanceData(*f.services, data);
    }
}
