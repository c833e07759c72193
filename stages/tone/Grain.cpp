#include "stages/tone/Grain.h"

#include "lib/Common/PixelFormats.h"

template <class Tag>
Status GrainStage(TX_STAGE_ARGS, bool colorNoise, float amount, float red, float green, float blue, float softnessRed, float softnessGreen, float softnessBlue, float suppressBlack, float suppressWhite) {
    return STATUS_OK;  // not written yet
}

template Status GrainStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool, float, float, float, float, float, float, float, float, float);
template Status GrainStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool, float, float, float, float, float, float, float, float, float);
template Status GrainStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool, float, float, float, float, float, float, float, float, float);
template Status GrainStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool, float, float, float, float, float, float, float, float, float);
