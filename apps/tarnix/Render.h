// `tarnix render`: INPUT decoded by one ffmpeg, every frame rendered in order by one effect
// instance, the result encoded by a second ffmpeg; the three overlap. The plan (RenderPlan.h)
// decides what is done, the frame pipeline (FramePipeline.h) moves the frames, the report
// (RenderReport.h) tells how it ended.
#pragma once

#include <vector>

#include "apps/tarnix/Parameters.h"
#include "apps/tarnix/RenderPlan.h"

namespace tarnix {

// The settings a look resolves to, in the order to apply them.
std::vector<Setting> resolveLook(const ParameterCatalog& catalog, const std::vector<LookStep>& look);

void runRender(const RenderOptions& options);

}  // namespace tarnix
