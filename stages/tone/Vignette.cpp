#include "stages/tone/Vignette.h"

#include "lib/Common/PixelFormats.h"

template <class Tag>
Status VignetteStage(TX_STAGE_ARGS, float size, float intensity) {
    return STATUS_OK;  // not written yet
}

template Status VignetteStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
