// Brightens the whole frame with one gamma lift.
#pragma once

#include "pipeline/StageTable.h"

template <class Tag>
Status FlickerStage(TX_STAGE_ARGS, float amount);
