// Lays a heavily blurred copy of the frame over it at 30 % to 70 %.
#pragma once

#include "lib/Common/StageTypes.h"

template <class Tag>
Status FadingStage(TX_STAGE_ARGS, float amount);
