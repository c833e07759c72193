// Darkens towards the edges and corners with a distance-driven gamma.
#pragma once

#include "lib/Common/StageTypes.h"

template <class Tag>
Status VignetteStage(TX_STAGE_ARGS, float size, float intensity);
