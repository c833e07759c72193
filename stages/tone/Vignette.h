// Darkens towards the edges and corners with a distance-driven gamma.
#pragma once

#include "lib/Common/ChannelTables.h"
#include "lib/Common/StageTypes.h"

template <class Tag>
Status VignetteStage(TX_STAGE_ARGS, float size, float intensity);

// The stage with the tables a stage before handed over applied first, in the same pass over
// the frame: the frame the tables and then the stage give, with the stage's statuses (the
// tables applied even where the stage then fails or does nothing).
template <class Tag>
Status VignetteAfter(TX_STAGE_ARGS, float size, float intensity, const HandedTables& before);
