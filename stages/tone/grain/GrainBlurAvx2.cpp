// The window's passes at the AVX2 width: four pixels per vector. Only the functions
// defined below the target switch use AVX2; GrainBlur calls them where the processor has it.
#include <cstddef>
#include <cstring>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/LaneWidths.h"
#include "lib/Common/simd/TargetAvx2.h"
#include "stages/tone/grain/GrainBlurWindow.h"

TX_BEGIN_AVX2

namespace grain_blur {
namespace {

// Four pixels per vector.
using V = simd::Avx2Lanes;

#include "stages/tone/grain/GrainBlurFloatPass.inc"

}  // namespace

#define GRAIN_BLUR_WIDTH(name) name##Avx2
#include "stages/tone/grain/GrainBlurEntries.inc"
#undef GRAIN_BLUR_WIDTH

}  // namespace grain_blur

TX_END_AVX2
