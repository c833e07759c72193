// Instance blocks and the shared data: tables as defined, separation between instances, and
// every byte given back to the host's memory service (checked after each test).
#include <cmath>
#include <cstring>

#include "TestSupport.h"
#include "lib/Common/PluginRaster_API.h"
#include "refhost/Faults.h"

using namespace refhost;
using namespace testing_support;

namespace {

class InstanceDataTest : public InProcessEffect {
protected:
    FrameSetup f{reg.host.get(), ImageSpec{2, 2}};
    MemoryService& memory() { return reg.host->memory(); }
};

}  // namespace

// The vignette table is worked out once per process and copied into each block: every entry
// of every block, the first and later ones, is the defined value, and that value is the curve.
TEST_F(InstanceDataTest, EveryBlockHoldsTheVignetteGammaTableAsDefined) {
    InstanceData data, second;
    ASSERT_EQ(createInstanceData(*f.services, data), 0);
    ASSERT_EQ(createInstanceData(*f.services, second), 0);
    for (int v = 0; v < kVignetteLevels; ++v)
        for (int k = 0; k < kVignetteSteps; ++k) {
            const float expected = vignetteGammaEntry(v, k);
            ASSERT_EQ(std::memcmp(&data.block->vignetteGammaTable[v][k], &expected, sizeof expected), 0) << v << ", " << k;
            ASSERT_EQ(std::memcmp(&second.block->vignetteGammaTable[v][k], &expected, sizeof expected), 0) << v << ", " << k;
        }
    const auto& table = data.block->vignetteGammaTable;
    for (int k = 0; k < kVignetteSteps; ++k) {
        ASSERT_EQ(table[0][k], 0.0f) << k;
        ASSERT_EQ(table[255][k], 255.0f) << k;
    }
    for (int v = 0; v < 256; ++v) ASSERT_EQ(table[v][999], float(v)) << "g = 1 is the identity";
    // g = 0.5 squares: 128 -> 255 (128/255)^2.
    EXPECT_NEAR(table[128][499], 255.0 * std::pow(128.0 / 255.0, 2.0), 1e-4);
    // The curve darkens more as g falls.
    for (int k = 1; k < kVignetteSteps; k += 37) ASSERT_GE(table[100][k], table[100][k - 1]);
    // Every other byte starts at zero.
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < kCurveTableEntries; i += 101) ASSERT_EQ(data.block->curveTables[c][i], 0);
    EXPECT_TRUE(data.block->deepScratches.entries.empty());
    EXPECT_TRUE(data.block->basicScratches.entries.empty());
    destroyInstanceData(*f.services, data);
    destroyInstanceData(*f.services, second);
}

TEST_F(InstanceDataTest, InstancesShareGlobalDataAndOwnTheirBlocks) {
    InstanceData a, b;
    ASSERT_EQ(createInstanceData(*f.services, a), 0);
    ASSERT_EQ(createInstanceData(*f.services, b), 0);
    EXPECT_EQ(a.global, b.global);
    EXPECT_EQ(currentGlobalData(), a.global);
    EXPECT_NE(a.block, b.block);
    a.block->curveTables[1][7] = 1234;
    a.block->grainSuppressionWeights[3] = 0.5f;
    EXPECT_EQ(b.block->curveTables[1][7], 0);
    EXPECT_EQ(b.block->grainSuppressionWeights[3], 0.0f);

    // A funk raster in the shared data is freed by the instance that ends last.
    int32_t status = 0;
    a.global->funkRaster = f.services->allocateRaster(16, 16, 0, &status);
    ASSERT_NE(a.global->funkRaster, nullptr);
    EXPECT_EQ(memory().liveBlocks(), 3);
    destroyInstanceData(*f.services, a);
    EXPECT_EQ(memory().liveBlocks(), 2) << "the first to end leaves the funk raster";
    EXPECT_NE(currentGlobalData(), nullptr);
    destroyInstanceData(*f.services, b);
    EXPECT_EQ(memory().liveBytes(), 0);
    EXPECT_EQ(currentGlobalData(), nullptr);
}

// Shared data without a raster stays for the next instance when the last one ends; unloading
// the library must not leave it behind: shut-down frees it once no instance references it.
TEST_F(InstanceDataTest, UnreferencedSharedDataStaysForTheNextUntilShutDown) {
    InstanceData a, b;
    ASSERT_EQ(createInstanceData(*f.services, a), 0);
    GlobalData* shared = a.global;
    releaseIdleGlobalData();
    EXPECT_EQ(currentGlobalData(), shared) << "an instance still uses it";
    destroyInstanceData(*f.services, a);
    EXPECT_EQ(currentGlobalData(), shared);
    EXPECT_TRUE(shared->IsUnreferenced());
    ASSERT_EQ(createInstanceData(*f.services, b), 0);
    EXPECT_EQ(b.global, shared);
    destroyInstanceData(*f.services, b);
    EXPECT_NE(currentGlobalData(), nullptr) << "it stays for the next instance";
    releaseIdleGlobalData();
    EXPECT_EQ(currentGlobalData(), nullptr);
}

TEST_F(InstanceDataTest, RefusedBlockIsAnOutOfMemoryStatus) {
    faults().reset();
    faults().failAllocationAt = 1;
    InstanceData data;
    EXPECT_EQ(createInstanceData(*f.services, data), int32_t(0x80000002u));
    faults().reset();
    EXPECT_EQ(data.block, nullptr);
}
