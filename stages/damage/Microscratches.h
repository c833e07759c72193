// Microscratches: a fine rain of faint vertical streaks, new on every frame. Dots on a white
// mask a quarter of the frame high are smeared downwards, stretched to the frame's height and
// multiplied onto the source frame, so what earlier stages did to the output is replaced.
#pragma once

#include "lib/Common/StageTypes.h"

// 4 when a working raster cannot be made, else the status of the crop copy or the blend.
template <class Tag>
Status MicroscratchesStage(TX_STAGE_ARGS, int32_t number, float opacity);
