// Specks of dust thrown anew on every frame: dark ones multiplied onto the picture, light
// ones added to it.
#pragma once

#include "lib/Common/StageTypes.h"

// Reseeds from the frame number, then runs the dark pass (when `black`) and the light pass
// (when `white`). The status of the last pass that ran: 1 when a raster could not be made or
// a speck texture was missing, else 0.
template <class Tag>
Status DustStage(TX_STAGE_ARGS, bool black, bool white, float opacity, int32_t blackNumber, int32_t whiteNumber);
