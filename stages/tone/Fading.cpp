#include "stages/tone/Fading.h"

#include "lib/Common/PixelFormats.h"

template <class Tag>
Status FadingStage(TX_STAGE_ARGS, float amount) {
    return STATUS_OK;  // not written yet
}

template Status FadingStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
