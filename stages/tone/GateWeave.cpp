#include "stages/tone/GateWeave.h"

#include "lib/Common/PixelFormats.h"

template <class Tag>
Status GateWeaveStage(TX_STAGE_ARGS, float frequency, float amplitude, float noiseFrequency) {
    return STATUS_OK;  // not written yet
}

template Status GateWeaveStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float, float);
template Status GateWeaveStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float, float);
template Status GateWeaveStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float, float);
template Status GateWeaveStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float, float);
