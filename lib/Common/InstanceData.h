// What outlives a frame: the per-instance block (scratch lists and lookup tables) and the
// process-wide shared data (the funk raster), reached by stages through the host services.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "lib/Common/ScratchList.h"
#include "lib/Common/Status.h"

class PluginHost_API;
class PluginRaster_API;

constexpr int32_t kCurveTableEntries = 32769;  // the widest value range (white 32768) plus one
constexpr int32_t kGrainWeightEntries = 16385;
constexpr int32_t kVignetteLevels = 256;
constexpr int32_t kVignetteSteps = 5000;

struct InstanceBlock {
    ScratchList deepScratches;
    ScratchList basicScratches;
    // Red, green and blue tables one after another. 8-bit users store 256 one-byte
    // entries at the start of each table instead.
    uint16_t curveTables[3][kCurveTableEntries];
    float grainSuppressionWeights[kGrainWeightEntries];
    // [v][k] = 255 (v / 255)^(1 / g_k), g_k = (k + 1) / 1000.
    float vignetteGammaTable[kVignetteLevels][kVignetteSteps];

    uint8_t* curveTable8(int channel) { return reinterpret_cast<uint8_t*>(curveTables[channel]); }
};

// A reference count changed only under the process-wide lock. Release never deletes.
class RCObject {
public:
    virtual void AddRef();
    virtual void Release();
    virtual bool IsUnreferenced();
    virtual ~RCObject() = default;

private:
    int32_t mCount = 0;
};

class GlobalData : public RCObject {
public:
    PluginRaster_API* funkRaster = nullptr;
};

// Work a stage keeps from one frame of an instance to the next, so that a frame whose inputs
// repeat the last one's skips it. It lives on the process heap, outside the host's accounts,
// and goes with the instance. `inUse` is taken for the length of a render: a frame that finds
// it taken (the same instance rendering on another thread) works without the memo.
struct StageMemo {
    std::atomic_flag inUse = ATOMIC_FLAG_INIT;
    virtual ~StageMemo() = default;
};

// The pair a render reaches through the host services, and the stages' memos.
struct InstanceData {
    InstanceBlock* block = nullptr;
    GlobalData* global = nullptr;
    std::unique_ptr<StageMemo> vignetteMemo;
};

// The process's shared data, or null before the first instance and after the last.
GlobalData* currentGlobalData();

// Allocates and fills the block through the host's memory service, then takes a reference
// on the shared data (creating it when the process has none). 0x80000002 when the block
// cannot be had; `data` is then left empty.
int32_t createInstanceData(PluginHost_API& host, InstanceData& data);
// Releases the shared data (freeing it with its funk raster when this was the last user),
// destroys the scratch lists and gives the block back.
void destroyInstanceData(PluginHost_API& host, InstanceData& data);

// At shut-down: frees the shared data when no instance references it, so that unloading the
// library leaves nothing behind.
void releaseIdleGlobalData();

// Entry [v][k] of the vignette table, computed as the table is filled.
float vignetteGammaEntry(int v, int k);
