// Limits of the host services in-process: rasters the host cannot or should not make, numbers
// that do not fit an integer, the C++ heap running out anywhere in an instance's life, and a
// stage's working memory refused.
#include <utility>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#include "testing/HostileHost.h"
#include "StageTestSupport.h"
#include "TestSupport.h"
#include "lib/Common/PluginRaster_API.h"
#include "lib/Common/FloatMath.h"
#include "lib/Common/simd/Cpu.h"
#include "pipeline/PostContrast.h"
#include "pipeline/Random.h"
#include "stages/damage/Microscratches.h"
#include "stages/tone/Fading.h"
#include "stages/tone/Flicker.h"
#include "stages/tone/Vignette.h"
#include "stages/tone/grain/Grain.h"

using namespace refhost;
using namespace testing_support;

// This program's heap can refuse its Nth allocation from now, or only its Nth non-throwing one
// (working memory's form) and every later one; it counts the blocks it holds. Every form of
// new and delete is replaced, so a sanitizer's own forms never pair with ours.
namespace {
std::atomic<long> gRefuseNewIn{0};  // 0: never; n: the nth allocation from now fails
std::atomic<long> gAllocations{0};  // made so far
std::atomic<long> gNothrowAsked{0};          // non-throwing requests so far
std::atomic<long> gRefuseNothrowAt{0};       // 0: never; n: that request fails
std::atomic<bool> gRefuseNothrowOnward{false};  // and every one after it
std::atomic<long> gHeapBlocks{0};            // held now

void* allocateOrNull(std::size_t size, bool nothrow = true) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    long left = gRefuseNewIn.load(std::memory_order_relaxed);
    while (left > 0 && !gRefuseNewIn.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1) return nullptr;
    if (nothrow) {
        const long n = ++gNothrowAsked, at = gRefuseNothrowAt;
        if (at != 0 && (n == at || (gRefuseNothrowOnward && n > at))) return nullptr;
    }
    void* block = std::malloc(size ? size : 1);
    if (block) ++gHeapBlocks;
    return block;
}
void* allocateOrThrow(std::size_t size) {
    if (void* block = allocateOrNull(size, false)) return block;
    throw std::bad_alloc();
}
void release(void* block) noexcept {
    if (block) --gHeapBlocks;
    std::free(block);
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
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }

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

// Sizes past a 16-bit rectangle, byte counts past a signed 32-bit size (whose products would
// overflow on the way) and negative sizes: refused as out of memory, nothing asked of the host.
// An empty raster is made (a frame under four rows has an empty microscratch mask).
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

// The heap refuses each allocation in turn while an instance is made: out of memory, nothing kept.
TEST_F(HostLimits, HeapRunningOutWhileAnInstanceIsMade) {
    // The process-wide vignette table may be refused without failing the instance: made first.
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

// The heap refuses each allocation in turn while a frame renders with every stage on: before
// the stages the frame fails as unexpected, inside one it ends there with success. Every host
// object and byte comes back.
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

namespace {

// Counts the non-throwing requests while it lives, refusing the `at`th (0: none) and, with
// `onward`, every later one.
struct NothrowPlan {
    NothrowPlan(long at, bool onward) {
        gNothrowAsked = 0;
        gRefuseNothrowOnward = onward;
        gRefuseNothrowAt = at;
    }
    ~NothrowPlan() { gRefuseNothrowAt = 0; }
    long asked() const { return gNothrowAsked; }
};

// One stage call whose working memory is refused in turn: `essential` requests must end the
// stage, `timeSavers` only save time (-1: depends on the processor).
struct RefusedCall {
    const char* stage;
    std::function<Status(stage_support::StageFrame&)> render;
    int essential, timeSavers;
    uint32_t width = 48, height = 27;
    bool withInstance = true;
};

// Each request refused alone, then with every later one: the stage answers 4 with the frame as
// it came, or 0 with its usual frame; nothing throws, and every block comes back.
void expectRefusalsClean(stage_support::PixelLayout layout, const RefusedCall& call) {
    SCOPED_TRACE(call.stage);
    stage_support::StageFrame f(layout, call.width, call.height, 17, call.withInstance);
    // The instance's memo is dropped after each call, so each call asks for all its memory.
    const auto render = [&] {
        f.start();
        rng::threadState() = 5;
        const Status status = call.render(f);
        f.data.vignetteMemo.reset();
        return status;
    };
    long requests;
    {
        NothrowPlan counted(0, false);
        ASSERT_EQ(render(), STATUS_OK);
        requests = counted.asked();
    }
    const std::vector<uint32_t> rendered = stage_support::snapshot(f.out());
    ASSERT_GT(requests, 0) << "its working memory comes from the non-throwing heap";
    for (bool onward : {false, true}) {
        int ended = 0, withoutIt = 0;
        for (long at = 1; at <= requests; ++at) {
            SCOPED_TRACE(::testing::Message() << "request " << at << (onward ? " and later" : " alone") << " refused");
            f.start();
            const std::vector<uint32_t> before = stage_support::snapshot(f.out());
            const long heap = gHeapBlocks;
            const int64_t host = f.liveBlocks();
            Status status = -1;
            {
                NothrowPlan refusing(at, onward);
                EXPECT_NO_THROW(status = render());
            }
            EXPECT_EQ(gHeapBlocks, heap);
            EXPECT_EQ(f.liveBlocks(), host);
            EXPECT_TRUE(f.out().guardsIntact());
            if (status == STATUS_OK) {
                ++withoutIt;
                EXPECT_EQ(stage_support::snapshot(f.out()), rendered);
            } else {
                ++ended;
                EXPECT_EQ(status, STATUS_NO_RASTER);
                EXPECT_EQ(stage_support::snapshot(f.out()), before);
            }
            if (onward && at == 1) {
                EXPECT_EQ(status, STATUS_NO_RASTER) << "no working memory at all";
            }
        }
        if (!onward) {
            EXPECT_TRUE(call.essential < 0 || ended == call.essential) << ended << " requests end the stage";
            EXPECT_TRUE(call.timeSavers < 0 || withoutIt == call.timeSavers) << withoutIt << " requests saved time only";
        }
    }
}

template <class Tag>
std::vector<RefusedCall> refusedCalls() {
    using stage_support::StageFrame;
    const auto grain = [](float amount, float softness) {
        return [=](StageFrame& f) {
            return f.run(&GrainStage<Tag>, true, amount, 28.22f, 35.54f, 100.0f, softness, softness, softness, 20.0f, 10.0f);
        };
    };
    // The final composite's table of scaled alphas (8-bit) only saves time.
    constexpr int composite = kIs16Bit<Tag> ? 0 : 1;
    return {
        {"flicker: its three tables", [](StageFrame& f) { return f.run(&FlickerStage<Tag>, 40.0f); }, 1, 0},
        // The instance's memo of them only saves time, and so does the 16-bit frames' row of powers.
        {"vignette: its map and its curves", [](StageFrame& f) { return f.run(&VignetteStage<Tag>, 40.0f, 0.7f); }, 2,
         kIs16Bit<Tag> ? 2 : 1},
        // With AVX2 the composite goes a row at a time, too few pixels for the table.
        {"fading: the box blur's column sums", [](StageFrame& f) { return f.run(&FadingStage<Tag>, 150.0f); }, 1,
         cpu::hasAvx2() ? 0 : composite},
        {"microscratches: the box blur's column sums",
         [](StageFrame& f) { return f.run(&MicroscratchesStage<Tag>, 60, 1.0f); }, 1, composite},
        // Radius 1.65: both passes of the blur over the whole layer, each with its term tables.
        {"grain: the blur's term tables", grain(0.75f, 3.3f), 2, composite},
        {"grain without the instance's tables", grain(0.75f, 3.3f), 3, composite, 48, 27, false},
        // Radii up to 1: the rows softened in the processor's lanes, or the blur's passes by rows.
        {"grain: the softened rows", grain(0.75f, 0.4f), -1, -1},
        // An amplitude beyond the lanes, on more samples than the noise tables have entries.
        {"grain: the noise tables and the columns", grain(1e5f, 0.4f), -1, kIs16Bit<Tag> ? 1 : 2, 200, 170},
    };
}

}  // namespace

// Working memory refused: the stage ends with 4 and its frame as given, or reaches the same
// frame the slower way.
TEST(HeapRefusingWorkingMemory, EachStageEndsCleanlyOrRendersTheSame) {
    for (const RefusedCall& call : refusedCalls<PIXEL_ARGB8>()) expectRefusalsClean(PixelLayout::ARGB8, call);
    for (const RefusedCall& call : refusedCalls<PIXEL_BGRA14>()) expectRefusalsClean(PixelLayout::BGRA16, call);
}

// Numbers that do not fit an integer: the effect number saturates (NaN gives 0), a curve value
// truncates as x86 does (NaN and out-of-range give INT32_MIN), the seed of INT32_MIN is its
// magnitude.
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
