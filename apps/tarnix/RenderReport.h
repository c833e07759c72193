// How a `tarnix render` ended, told once: the failure that explains it (causes before their
// consequences), or the summary line of a finished render.
#pragma once

#include <optional>
#include <string>

#include "apps/tarnix/Failure.h"
#include "apps/tarnix/FramePipeline.h"
#include "apps/tarnix/RenderPlan.h"

namespace tarnix {

struct RenderEnding {
    PipelineEnd pipeline;
    int decoderStatus = 0;
    std::string decoderReason;  // its last words on one line
    int encoderStatus = 0;
    std::string encoderErrors, encoderReason;
};

// Nothing when the render succeeded.
std::optional<Failure> renderFailure(const RenderOptions& options, const RenderPlan& plan, const RenderEnding& ending);

// "wrote OUTPUT: 100 frames of 1920x1080 at 25 fps, 8-bit, in 4.0 s (25.0 fps; the plug-in alone
// 180.0 fps; waiting on ffmpeg 80% of the time)"
std::string renderSummary(const RenderOptions& options, const RenderPlan& plan, const Rational& rate,
                          const PipelineEnd& pipeline);

}  // namespace tarnix
