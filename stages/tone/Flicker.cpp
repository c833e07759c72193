#include "stages/tone/Flicker.h"

#include "lib/Common/PixelFormats.h"

template <class Tag>
Status FlickerStage(TX_STAGE_ARGS, float amount) {
    return STATUS_OK;  // not written yet
}

template Status FlickerStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
