// The noise pass in AVX-512 lanes: sixteen pixels a group, the same steps as the AVX2 groups.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/simd/LaneWidths512.h"
#include "pipeline/Random.h"
#include "stages/tone/grain/GrainNoiseLanes.h"

TX_BEGIN_AVX512

namespace grain_noise {
namespace {

using V = simd::Avx512Lanes;
#include "stages/tone/grain/GrainNoiseGroups.inc"

}  // namespace

template <class Tag>
void laneRowsAvx512(const LaneConstants& k, bool colorNoise, uint32_t& state, const RasterDesc& picture,
                    const RasterDesc& layer, int32_t width, int32_t first, int32_t end) {
    rowsIn<Tag>(k, colorNoise, state, picture, layer, width, first, end);
}

#define GRAIN_NOISE_LANES(Tag)                                                                                      \
    template void laneRowsAvx512<Tag>(const LaneConstants&, bool, uint32_t&, const RasterDesc&, const RasterDesc&, \
                                      int32_t, int32_t, int32_t);
GRAIN_NOISE_LANES(PIXEL_ARGB8)
GRAIN_NOISE_LANES(PIXEL_BGRA8)
GRAIN_NOISE_LANES(PIXEL_ARGB14)
GRAIN_NOISE_LANES(PIXEL_BGRA14)
#undef GRAIN_NOISE_LANES

}  // namespace grain_noise

TX_END_AVX2
