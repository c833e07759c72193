// Brightens the whole frame with one gamma lift.
#pragma once

#include "lib/Common/StageTypes.h"

template <class Tag>
Status FlickerStage(TX_STAGE_ARGS, float amount);
