#include "stages/tone/Displacement.h"

#include "lib/Common/PixelFormats.h"

template <class Tag>
Status DisplacementStage(TX_STAGE_ARGS, float amount) {
    return STATUS_OK;  // not written yet
}

template Status DisplacementStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status DisplacementStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status DisplacementStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status DisplacementStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
