// A frame-sized window of the large grime texture laid over the picture, at a new place in
// every frame.
#pragma once

#include "lib/Common/StageTypes.h"

// Driver side: makes sure the shared funk raster holds the grime texture in the output's
// depth kind, rebuilding it when the depth kind changed. Status 4 when it cannot be made.
template <class Tag>
Status PrepareFunkRaster(PluginHost_API& host, RasterHolder& output);

// Overlays the window of `funkRaster` chosen by the frame number onto the output at `opacity`.
template <class Tag>
Status FunkStage(TX_STAGE_ARGS, PluginRaster_API* funkRaster, float opacity);
