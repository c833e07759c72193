#include "stages/tone/Funk.h"

#include <cmath>
#include <cstring>

#include "lib/Common/FloatMath.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/ProcessLock.h"
#include "lib/Common/TextureLibrary.h"
#include "pipeline/Random.h"

namespace {

constexpr int32_t kFunkSize = 2048;

// The window's corner along one axis: round(u (2048 - extent)), one step back from the edge
// when it is not already at it.
int16_t windowStart(double u, int32_t extent) {
    const int32_t start = truncToInt32(std::floor(u * (kFunkSize - extent) + 0.0 + 0.5));
    return int16_t(start >= 1 ? start - 1 : start);
}

}  // namespace

template <class Tag>
Status PrepareFunkRaster(PluginHost_API& host, RasterHolder& output) {
    InstanceData* data = host.instanceData();
    if (!data || !data->global) return STATUS_OK;
    // Instances share the raster: one builds it while the others wait.
    ProcessLock lock;
    PluginRaster_API*& funk = data->global->funkRaster;
    const int32_t depthKind = output.raster->depthKind();
    if (funk) {
        funk->bindHost(&host);
        if (funk->depthKind() == depthKind) return STATUS_OK;
        host.freeRasterMemory(funk);
        funk->destroy();
        funk = nullptr;
    }
    int32_t status = 0;
    PluginRaster_API* made = host.allocateRaster(kFunkSize, kFunkSize, depthKind, &status);
    if (!made) return STATUS_NO_RASTER;
    // Kept only once filled: a host failure on the way gives it back.
    try {
        RasterDesc desc;
        host.describeRaster(made, &desc);
        if (const uint8_t* texels = LoadFunkTexture(host, 1)) {
            CopyTexture<Tag>(texels, kFunkSize, kFunkSize, desc.pixels, desc.rowBytes);
        } else {
            // No texture to be had: a clear raster, which lays nothing over the picture.
            for (int32_t y = 0; y < desc.height; ++y)
                std::memset(desc.pixels + ptrdiff_t(y) * desc.rowBytes, 0, size_t(desc.width) * desc.bytesPerPixel);
        }
    } catch (...) {
        host.releaseRaster(made);
        throw;
    }
    funk = made;
    return STATUS_OK;
}

template <class Tag>
Status FunkStage(TX_STAGE_ARGS, PluginRaster_API* funkRaster, float opacity) {
    (void)frame;
    (void)source;
    const RasterDesc out = output.describe();
    rng::SeedFromFrame(host);
    const double u1 = rng::RandomUnit();
    const int16_t left = windowStart(u1, out.width);
    const double u2 = rng::RandomUnit();
    const int16_t top = windowStart(u2, out.height);
    const Rect16 window{top, left, int16_t(top + out.height), int16_t(left + out.width)};
    const Rect16 whole{0, 0, int16_t(out.height), int16_t(out.width)};
    RasterDesc funk;
    host.describeRaster(funkRaster, &funk);
    return CompositeRect<Tag>(&host, BLEND_OVERLAY, funk, out, window, whole, double(opacity));
}

template Status PrepareFunkRaster<PIXEL_ARGB8>(PluginHost_API&, RasterHolder&);
template Status PrepareFunkRaster<PIXEL_BGRA8>(PluginHost_API&, RasterHolder&);
template Status PrepareFunkRaster<PIXEL_ARGB14>(PluginHost_API&, RasterHolder&);
template Status PrepareFunkRaster<PIXEL_BGRA14>(PluginHost_API&, RasterHolder&);
template Status FunkStage<PIXEL_ARGB8>(TX_STAGE_ARGS, PluginRaster_API*, float);
template Status FunkStage<PIXEL_BGRA8>(TX_STAGE_ARGS, PluginRaster_API*, float);
template Status FunkStage<PIXEL_ARGB14>(TX_STAGE_ARGS, PluginRaster_API*, float);
template Status FunkStage<PIXEL_BGRA14>(TX_STAGE_ARGS, PluginRaster_API*, float);
