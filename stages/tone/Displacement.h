// A fixed sine ripple sampled bilinearly from the source frame.
#pragma once

#include "lib/Common/StageTypes.h"

template <class Tag>
Status DisplacementStage(TX_STAGE_ARGS, float amount);
