// Swings the picture sideways by whole pixels, with random jolts.
#pragma once

#include "pipeline/StageTable.h"

template <class Tag>
Status GateWeaveStage(TX_STAGE_ARGS, float frequency, float amplitude, float noiseFrequency);
