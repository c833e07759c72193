// Swings the picture sideways by whole pixels, with random jolts.
#pragma once

#include "lib/Common/StageTypes.h"

// Moves the output by A cos(2 pi F n / 24) pixels for frame n, plus, on frames other than 0
// and with a chance of `noiseFrequency` percent, a jolt drawn from the thread's generator;
// the uncovered strip is opaque black. Status 4 when the copy raster cannot be made (the
// output and the generator are then untouched), else the composite's status.
template <class Tag>
Status GateWeaveStage(TX_STAGE_ARGS, float frequency, float amplitude, float noiseFrequency);
