// Darkens towards the edges and corners with a distance-driven gamma.
#pragma once

#include "pipeline/StageTable.h"

template <class Tag>
Status VignetteStage(TX_STAGE_ARGS, float size, float intensity);
