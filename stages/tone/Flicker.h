// Brightens the whole frame with one gamma lift.
#pragma once

#include "lib/Common/ChannelTables.h"
#include "lib/Common/StageTypes.h"

template <class Tag>
Status FlickerStage(TX_STAGE_ARGS, float amount);

// The same stage with its tables handed on rather than applied, for a caller that applies them
// in a later pass over the frame: the same draw and statuses, `tables` filled on success.
template <class Tag>
Status FlickerTables(TX_STAGE_ARGS, float amount, HandedTables& tables);
