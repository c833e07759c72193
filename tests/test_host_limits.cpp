// Limits of the host services and of the process-wide data, in-process: rasters the host
// cannot or should not make, numbers that do not fit an integer, shared data given back at
// shut-down (test_instance_data), and the C++ heap running out anywhere in an instance's life.
#include <utility>
#include <atomic>
#include <cstdlib>
#include <new>

#include "testing/HostileHost.h"
#include "TestSupport.h"
#include "lib/Common/PluginRaster_API.h"
#include "lib/Common/FloatMath.h"
#include "pipeline/PostContrast.h"
#include "pipeline/Random.h"

using namespace refhost;
using namespace testing_support;

// The C++ heap of this test program can be told to refuse its Nth allocation from now. Every
// form of new and delete is replaced, so that a sanitizer's own forms never pair with ours.
namespace {
std::atomic<long> gRefuseNewIn{0};  // 0: never; n: the nth allocation from now fails
std::atomic<long> gAllocations{0};  // made so far

void* allocateOrNull(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    long left = gRefuseNewIn.load(std::memory_order_relaxed);
    while (left > 0 && !gRefuseNewIn.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1) return nullptr;
    return std::malloc(size ? size : 1);
}
void* allocateOrThrow(std::size_t size) {
    if (void* block = allocateOrNull(size)) return block;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
// GCC takes the malloc in the replaced operator new for a mismatch with these frees.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

// Runs `f` while the heap refuses its `at`th allocation from now; true when it did.
template <class F>
bool refusingNew(long at, F f) {
    struct Reset {
        ~Reset() { gRefuseNewIn = 0; }
    } reset;
    gRefuseNewIn = at;
    f();
    return gRefuseNewIn.load() == 0;
}

class HostLimits : public InProcessEffect {};

}  // namespace

// Sizes past a 16-bit rectangle, byte counts past the memory service's signed 32-bit size
// (whose products would overflow 64 bits on the way) and negative sizes: refused with the
// out-of-memory status, nothing taken from the host. An empty raster is made: a frame under
// four rows high has an empty microscratch mask.
TEST_F(HostLimits, RastersTheHostCannotOrShouldNotMake) {
    for (PixelLayout layout : {PixelLayout::BGRA8, PixelLayout::ARGB16}) {
        FrameSetup f(reg.host.get(), ImageSpec{4, 4, layout});
        const int64_t asked = reg.host->memory().totalAllocations();
        const struct {
            int32_t width, height;
        } refused[] = {{INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}, {INT32_MAX, 1}, {1, INT32_MAX},
                       {32768, 1},             {1, 32768},             {32767, 32767}, {30000, 20000},
                       {-1, 5},                {5, -1},
                       {-2, -2},               {INT32_MIN, 1}};
        for (const auto& size : refused) {
            int32_t status = 12345;
            PluginRaster_API* raster = f.services->allocateRaster(size.width, size.height, DEPTH_8BIT, &status);
            EXPECT_EQ(raster, nullptr) << size.width << "x" << size.height;
            EXPECT_EQ(status, ACF_E_OUTOFMEMORY) << size.width << "x" << size.height;
            if (raster) f.services->releaseRaster(raster);
        }
        EXPECT_EQ(reg.host->memory().totalAllocations(), asked) << "nothing was asked of the memory service";

        for (const auto& [width, height] : {std::pair{0, 5}, std::pair{5, 0}}) {
            int32_t status = 12345;
            PluginRaster_API* empty = f.services->allocateRaster(width, height, DEPTH_8BIT, &status);
            ASSERT_NE(empty, nullptr);
            EXPECT_EQ(status, ACF_OK);
            EXPECT_EQ(empty->width() * empty->height(), 0);
            f.services->releaseRaster(empty);
        }

        // The largest sides still addressable, when the host has the memory for them.
        int32_t status = 12345;
        PluginRaster_API* line = f.services->allocateRaster(32767, 1, DEPTH_8BIT, &status);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(status, ACF_OK);
        EXPECT_EQ(line->width(), 32767);
        f.services->releaseRaster(line);

        // A size the host itself refuses is the same failed allocation.
        reg.host->memory().maxBlock = 1 << 20;
        status = 12345;
        EXPECT_EQ(f.services->allocateRaster(1024, 1024, DEPTH_8BIT, &status), nullptr);
        EXPECT_EQ(status, ACF_E_OUTOFMEMORY);
        EXPECT_EQ(f.services->allocate(INT32_MIN), nullptr) << "the magnitude of INT32_MIN, refused by the host";
        reg.host->memory().maxBlock = uint64_t(1) << 34;
    }
}

// The C++ heap refuses each allocation in turn while an instance is made: the object, its block
// (the memory service answers null) or the shared data, all refused as out of memory, nothing kept.
TEST_F(HostLimits, HeapRunningOutWhileAnInstanceIsMade) {
    // The vignette table is made once per process and may be refused without failing the
    // instance (each block then works it out): made first, so every refusal falls on the instance.
    AcfPtr<IAVXEffect> first;
    ASSERT_EQ(makeEffect(first), ACF_OK);
    first.reset();
    for (long at = 1;; ++at) {
        releaseIdleGlobalData();  // so that the shared data is made afresh each time
        AcfPtr<IAVXEffect> effect;
        ACFRESULT r;
        const bool refused = refusingNew(at, [&] { r = makeEffect(effect); });
        if (refused) {
            EXPECT_EQ(r, ACF_E_OUTOFMEMORY) << "allocation " << at;
            EXPECT_EQ(effect.get(), nullptr);
        } else {
            EXPECT_EQ(r, ACF_OK);
        }
        effect.reset();
        ASSERT_EQ(reg.host->memory().liveBlocks(), 0) << "allocation " << at;
        ASSERT_EQ(CACFUnknown::liveObjects(), 0) << "allocation " << at;
        if (!refused) break;
    }
}

// The C++ heap refuses each allocation in turn while a frame renders with every stage on: before
// the stages (the allocations a frame with every stage off makes) the frame fails as unexpected,
// inside a stage it ends there and the entry succeeds. Every host object and byte comes back.
TEST_F(HostLimits, HeapRunningOutWhileAFrameRenders) {
    auto idle = reg.defaults(), values = reg.defaults();
    hostile::everyStageOn(*reg.effect.get(), *values);
    AcfPtr<IAVXEffect> effect;
    ASSERT_EQ(makeEffect(effect), ACF_OK);
    for (PixelLayout layout : {PixelLayout::ARGB8, PixelLayout::BGRA16}) {
        AcfPtr<Image> input(new Image(ImageSpec{21, 13, layout})), output(new Image(ImageSpec{21, 13, layout}));
        input->fillRandom(3);
        RenderCallObjects idleCall(idle, input.get(), output.get(), RenderCall{1, 1.0});
        const long before = gAllocations.load();
        ASSERT_EQ(idleCall.process(effect.get()), ACF_OK);
        const long setUp = gAllocations.load() - before;
        // A first busy frame makes the shared funk raster, which stays for the frames after it.
        RenderCallObjects busyCall(values, input.get(), output.get(), RenderCall{0, 1.0});
        ASSERT_EQ(busyCall.process(effect.get()), ACF_OK);
        const int64_t blocks = reg.host->memory().liveBlocks();
        const long objects = liveObjects();
        for (long at = 1;; ++at) {
            ACFRESULT r;
            bool refused;
            {
                RenderCallObjects call(values, input.get(), output.get(), RenderCall{int32_t(at), 1.0});
                refused = refusingNew(at, [&] { r = call.process(effect.get()); });
            }
            EXPECT_EQ(r, refused && at <= setUp ? ACF_E_UNEXPECTED : ACF_OK) << "allocation " << at;
            EXPECT_TRUE(input->guardsIntact() && output->guardsIntact());
            ASSERT_EQ(reg.host->memory().liveBlocks(), blocks) << "allocation " << at;
            ASSERT_EQ(liveObjects(), objects) << "allocation " << at;
            if (!refused) break;
        }
    }
}

// Numbers a host hands over that do not fit an integer convert to defined values: the
// effect number saturates (NaN gives 0), a curve value truncates as x86 does (NaN and
// out-of-range give INT32_MIN), and the random seed is the magnitude of INT32_MIN.
TEST_F(HostLimits, NumbersThatDoNotFitAnInteger) {
    FrameSetup f(reg.host.get(), ImageSpec{2, 2});
    const double nan = hostile::kNaN, inf = hostile::kInf;
    const struct {
        double given;
        int32_t effectNumber, truncated;
    } numbers[] = {{nan, 0, INT32_MIN},           {inf, INT32_MAX, INT32_MIN},           {-inf, INT32_MIN, INT32_MIN},
                   {3e9, INT32_MAX, INT32_MIN},    {-3e9, INT32_MIN, INT32_MIN},          {2147483648.0, INT32_MAX, INT32_MIN},
                   {-2147483648.9, INT32_MIN, INT32_MIN}, {2147483647.9, INT32_MAX, INT32_MAX}, {-2147483648.0, INT32_MIN, INT32_MIN},
                   {-7.9, -7, -7},                 {7.9, 7, 7},                           {-5.5, -5, -5}};
    for (const auto& n : numbers) {
        f.effectContext->effectNumber = n.given;
        EXPECT_EQ(f.services->effectNumber(), n.effectNumber) << n.given;
        EXPECT_EQ(truncToInt32(n.given), n.truncated) << n.given;
    }
    EXPECT_EQ(rng::seedFromFrameNumber(INT32_MIN), 2147483648u);
    EXPECT_EQ(rng::seedFromFrameNumber(INT32_MIN + 1), 2147483647u);
    EXPECT_EQ(rng::seedFromFrameNumber(-1), 1u);
}
