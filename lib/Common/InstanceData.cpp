#include "lib/Common/InstanceData.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "lib/Common/PluginHost_API.h"
#include "lib/Common/PluginRaster_API.h"
#include "lib/Common/ProcessLock.h"
#include "sdk/acf_base.h"

namespace {
GlobalData* gGlobalData = nullptr;
// Finding, creating and dropping the shared data: instances made and destroyed on several
// threads must neither create two nor free one twice.
std::mutex gGlobalDataLock;

// The vignette table is the same in every block: worked out once per process (1.28 million
// powers) and copied into each new block.
using VignetteTable = float[kVignetteLevels][kVignetteSteps];
std::mutex gVignetteLock;
std::unique_ptr<VignetteTable[]> gVignetteTable;
}  // namespace

void RCObject::AddRef() {
    ProcessLock lock;
    ++mCount;
}

void RCObject::Release() {
    ProcessLock lock;
    --mCount;
}

bool RCObject::IsUnreferenced() {
    ProcessLock lock;
    return mCount == 0;
}

GlobalData* currentGlobalData() { return gGlobalData; }

float vignetteGammaEntry(int v, int k) {
    const float g = float(k + 1) / 1000.0f;
    return float(255.0 * std::pow(double(v) / 255.0, 1.0 / double(g)));
}

namespace {

void fillVignetteTable(VignetteTable& table) {
    for (int v = 0; v < kVignetteLevels; ++v)
        for (int k = 0; k < kVignetteSteps; ++k) table[v][k] = vignetteGammaEntry(v, k);
}

// Null when the heap cannot hold it; the next instance tries again.
const VignetteTable* sharedVignetteTable() {
    std::lock_guard<std::mutex> guard(gVignetteLock);
    if (!gVignetteTable) {
        gVignetteTable.reset(new (std::nothrow) VignetteTable[1]);
        if (gVignetteTable) fillVignetteTable(gVignetteTable[0]);
    }
    return gVignetteTable.get();
}

}  // namespace

int32_t createInstanceData(PluginHost_API& host, InstanceData& data) {
    data = InstanceData{};
    void* memory = host.allocate(int32_t(sizeof(InstanceBlock)));
    if (!memory) return ACF_E_OUTOFMEMORY;
    InstanceBlock* block = static_cast<InstanceBlock*>(memory);
    // Every byte but the vignette table's starts cleared; the table, most of the block, is
    // written whole just below, so clearing it first would only double the traffic.
    char* const start = static_cast<char*>(memory);
    char* const table = reinterpret_cast<char*>(block->vignetteGammaTable);
    char* const tableEnd = table + sizeof block->vignetteGammaTable;
    std::memset(start, 0, size_t(table - start));
    std::memset(tableEnd, 0, size_t(start + sizeof(InstanceBlock) - tableEnd));
    new (&block->deepScratches) ScratchList();
    new (&block->basicScratches) ScratchList();
    if (const VignetteTable* shared = sharedVignetteTable())
        std::memcpy(block->vignetteGammaTable, shared, sizeof(VignetteTable));
    else
        fillVignetteTable(block->vignetteGammaTable);

    std::lock_guard<std::mutex> guard(gGlobalDataLock);
    if (!gGlobalData) gGlobalData = new (std::nothrow) GlobalData;
    if (!gGlobalData) {
        host.release(block);
        return ACF_E_OUTOFMEMORY;
    }
    gGlobalData->AddRef();
    data.block = block;
    data.global = gGlobalData;
    return ACF_OK;
}

void destroyInstanceData(PluginHost_API& host, InstanceData& data) {
    if (GlobalData* global = data.global) {
        std::lock_guard<std::mutex> guard(gGlobalDataLock);
        global->Release();
        // Without a funk raster the shared data stays for the next instance.
        if (global->IsUnreferenced() && global->funkRaster) {
            host.freeRasterMemory(global->funkRaster);
            global->funkRaster->destroy();
            global->funkRaster = nullptr;
            if (gGlobalData == global) gGlobalData = nullptr;
            delete global;
        }
    }
    if (InstanceBlock* block = data.block) {
        block->deepScratches.destroyAll();
        block->basicScratches.destroyAll();
        host.release(block);
    }
    data = InstanceData{};
}

void releaseIdleGlobalData() {
    std::lock_guard<std::mutex> guard(gGlobalDataLock);
    // One still referenced belongs to a live instance; one with a raster cannot be unreferenced.
    if (gGlobalData && gGlobalData->IsUnreferenced() && !gGlobalData->funkRaster) {
        delete gGlobalData;
        gGlobalData = nullptr;
    }
}
