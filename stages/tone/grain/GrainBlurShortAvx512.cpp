// The 16-bit-lane window at the AVX-512 width: eight pixels a vector, the same steps as the
// AVX2 groups. GrainBlur calls these only where the processor has AVX-512.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/LaneWidths512.h"
#include "stages/tone/grain/GrainBlurWindow.h"

TX_BEGIN_AVX512

namespace grain_blur {

using V = simd::Avx512Lanes;
#define GRAIN_BLUR_WIDTH(name) name##Avx512
#include "stages/tone/grain/GrainBlurShort.inc"
#undef GRAIN_BLUR_WIDTH

}  // namespace grain_blur

TX_END_AVX2
