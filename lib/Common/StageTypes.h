// What every stage receives: the frame context, the host services and the holders of the
// source and output rasters; and a scratch raster that gives itself back on every path.
#pragma once

#include <cstdint>

#include "lib/Common/PluginHost_API.h"
#include "lib/Common/PluginRaster_API.h"
#include "lib/Common/RasterDesc.h"
#include "lib/Common/Status.h"

// Every stage entry takes these first, in this order.
#define TX_STAGE_ARGS const FrameContext &frame, PluginHost_API &host, RasterHolder &source, RasterHolder &output

// Handed unchanged from the dispatcher to every stage; all zero in this system.
struct FrameContext {
    uint8_t flag0 = 0;
    uint8_t flag1 = 0;
    int32_t value0 = 0;
    int32_t value1 = 0;
};

struct RasterHolder {
    PluginRaster_API* raster = nullptr;
    PluginHost_API* host = nullptr;
    bool releaseNeeded = false;  // give the pixel memory back at the end
    bool owned = true;           // destroy the raster object at the end

    RasterHolder() = default;
    RasterHolder(PluginRaster_API* r, PluginHost_API* h, bool release, bool own)
        : raster(r), host(h), releaseNeeded(release), owned(own) {}
    RasterHolder(const RasterHolder&) = delete;
    RasterHolder& operator=(const RasterHolder&) = delete;
    ~RasterHolder() { reset(); }

    void reset() {
        if (raster) {
            if (releaseNeeded) host->freeRasterMemory(raster);
            if (owned) raster->destroy();
        }
        raster = nullptr;
    }
    RasterDesc describe() const {
        RasterDesc d;
        host->describeRaster(raster, &d);
        return d;
    }
};

// A working raster of a stage, made through the host and released when it goes out of scope.
class ScratchRaster {
public:
    // Same size and depth as `like`.
    ScratchRaster(PluginHost_API& host, PluginRaster_API* like)
        : ScratchRaster(host, like->width(), like->height(), like->depthKind()) {}
    ScratchRaster(PluginHost_API& host, int32_t width, int32_t height, int32_t depthKind) : mHost(host) {
        int32_t status = 0;
        mRaster = host.allocateRaster(width, height, depthKind, &status);
        if (mRaster) host.describeRaster(mRaster, &mDesc);
    }
    ScratchRaster(const ScratchRaster&) = delete;
    ScratchRaster& operator=(const ScratchRaster&) = delete;
    ~ScratchRaster() { release(); }

    // Gives the raster back before the end of the scope.
    void release() {
        if (mRaster) mHost.releaseRaster(mRaster);
        mRaster = nullptr;
    }

    explicit operator bool() const { return mRaster != nullptr; }
    PluginRaster_API* raster() const { return mRaster; }
    const RasterDesc& desc() const { return mDesc; }

private:
    PluginHost_API& mHost;
    PluginRaster_API* mRaster = nullptr;
    RasterDesc mDesc;
};
