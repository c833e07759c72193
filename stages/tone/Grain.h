// Shaped, softened noise laid over the frame in hard light.
#pragma once

#include "pipeline/StageTable.h"

template <class Tag>
Status GrainStage(TX_STAGE_ARGS, bool colorNoise, float amount, float red, float green, float blue, float softnessRed, float softnessGreen, float softnessBlue, float suppressBlack, float suppressWhite);
