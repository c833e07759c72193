// The per-frame dispatcher and the pipeline driver of each pixel format.
#pragma once

#include "lib/Common/StageTypes.h"

// Captures the settings, picks the driver for the output's pixel format and runs it.
// 1 for a format that is not rendered (the output is not written).
Status RenderFrame(PluginHost_API& host);

template <class Tag>
Status RunPipeline(const FrameContext& frame, PluginHost_API& host);
