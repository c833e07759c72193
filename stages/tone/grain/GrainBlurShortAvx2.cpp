// The 16-bit-lane window at the AVX2 width: four pixels a vector. Only the functions below the
// target switch use AVX2; GrainBlur calls them where the processor has it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/LaneWidths.h"
#include "lib/Common/simd/TargetAvx2.h"
#include "stages/tone/grain/GrainBlurWindow.h"

#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
TX_BEGIN_AVX2

namespace grain_blur {

using V = simd::Avx2Lanes;
#define GRAIN_BLUR_WIDTH(name) name##Avx2
#include "stages/tone/grain/GrainBlurShort.inc"
#undef GRAIN_BLUR_WIDTH

}  // namespace grain_blur

TX_END_AVX2
