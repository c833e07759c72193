// The window's passes at the SSE2 width that every x86-64 processor has.
#include "stages/tone/grain/GrainBlurWindow.h"

#include <cstddef>
#include <cstring>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/LaneWidths.h"

namespace grain_blur {

namespace {

// Two pixels per vector.
using V = simd::Sse2Lanes;

#include "stages/tone/grain/GrainBlurFloatPass.inc"

}  // namespace

#define GRAIN_BLUR_WIDTH(name) name##Sse2
#include "stages/tone/grain/GrainBlurEntries.inc"
#undef GRAIN_BLUR_WIDTH

}  // namespace grain_blur
