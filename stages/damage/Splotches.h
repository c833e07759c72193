// Large stains flashing onto single frames: splotch textures scaled, turned, placed and
// multiplied onto the picture.
#pragma once

#include "lib/Common/StageTypes.h"

// Reseeds from the frame number and draws `number` splotches at `scale` of the render scale,
// multiplied at `opacity`. 1 when a raster could not be made or a texture was missing.
template <class Tag>
Status SplotchesStage(TX_STAGE_ARGS, int32_t number, float scale, float opacity);
