// The noise pass in AVX2 lanes, eight pixels a group, and the checks that the lanes' forms give
// the curves and weights of the tables; AVX-512's sixteen-pixel groups where the processor has
// them.
#include "stages/tone/grain/GrainNoiseLanes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/simd/Cpu.h"
#include "lib/Common/simd/LaneWidths.h"
#include "lib/Common/simd/TargetAvx2.h"
#include "lib/Common/FloatMath.h"
#include "pipeline/Random.h"

TX_BEGIN_AVX2

namespace grain_noise {
namespace {

using V = simd::Avx2Lanes;

#include "stages/tone/grain/GrainNoiseGroups.inc"

// Every entry of channel c's curve inside the ends, as the lanes make it.
template <class Tag, CurveForm Form>
bool curvesMatch(const Lanes<Tag>& lanes, const typename Tag::Channel* const curves[3]) {
    alignas(32) int32_t entries[8];
    for (int c = 0; c < 3; ++c)
        for (int32_t t = 1; t < Tag::white; t += 8) {
            const V::I index = V::add32(V::set32(t), V::laneNumbers32());
            V::store32(entries, V::truncate(lanes.template mapped<Form>(c, index)));
            for (int32_t i = 0; i < 8 && t + i < Tag::white; ++i)
                if (entries[i] != int32_t(curves[c][t + i]))
                    return false;
        }
    return true;
}

// Fixed-point constants for each channel's entries inside the ends: for a slope within two
// steps of the double slope, the intercepts that give every entry are an interval (each entry
// bounds it from both sides); the smallest one is taken. False when no slope has one, or the
// 8-bit sums would not stay within 32 bits.
template <class Tag>
bool fitFixed(LaneConstants& k, const typename Tag::Channel* const curves[3]) {
    constexpr int shift = kFixedShift<Tag>;
    constexpr int64_t one = int64_t(1) << shift;
    constexpr int64_t sumLimit = kIs16Bit<Tag> ? INT64_MAX : int64_t(1) << 32;
    for (int c = 0; c < 3; ++c) {
        const double nearest = std::nearbyint(k.slopeD[c] * double(one));
        if (!(nearest >= 0.0 && nearest < 4294967296.0))
            return false;
        bool fitted = false;
        for (const int64_t step : {0, -1, 1, -2, 2}) {
            const int64_t slope = int64_t(nearest) + step;
            if (slope < 0 || slope > int64_t(UINT32_MAX))
                continue;
            int64_t low = 0, high = INT64_MAX;
            for (int32_t t = 1; t < Tag::white; ++t) {
                const int64_t entry = curves[c][t];
                low = std::max(low, entry * one - t * slope);
                high = std::min(high, (entry + 1) * one - 1 - t * slope);
            }
            if (low <= high && int64_t(Tag::white - 1) * slope + low < sumLimit) {
                k.fixedSlope[c] = uint32_t(slope), k.fixedIntercept[c] = uint64_t(low);
                fitted = true;
                break;
            }
        }
        if (!fitted)
            return false;
    }
    return true;
}

}  // namespace

template <class Tag>
bool prepareLanes(LaneConstants& k, int32_t amplitude, const Shaping& shaping, const typename Tag::Channel* const curves[3],
                  const float* weights) {
    using L = Lanes<Tag>;
    constexpr int32_t white = Tag::white;
    // Indices and the curves' float steps stay exact within 2^24.
    if (amplitude < -(1 << 24) || amplitude > (1 << 24))
        return false;
    const int64_t m = 2 * int64_t(amplitude) + 1;
    const uint32_t modulus = uint32_t(m < 0 ? -m : m);
    k.toIndex = L::neutral - amplitude;
    if (modulus <= 32767) {
        // magic = ceil(2^(15 + l) / m), l = ceil(log2 m): floor(v * magic / 2^(15 + l)) is
        // floor(v / m) for every v < 2^15, and v * magic stays below 2^31.
        int l = 0;
        while ((uint32_t(1) << l) < modulus)
            ++l;
        k.modulus = modulus;
        k.magic = uint32_t(((uint64_t(1) << (15 + l)) + modulus - 1) / modulus);
        k.shift = 15 + l;
    } else {
        k.modulus = 0, k.magic = 0, k.shift = 0;  // every draw is its own remainder
    }

    // The curves as their builder makes them: f = W/2 - s W/2, the output range f .. W - f.
    for (int c = 0; c < 3; ++c) {
        const double half = double(white) / 2.0;
        const double f = half - double(shaping.strengths[c] / 100.0f) * half;
        const double slope = (double(white) - f) / double(white) - f / double(white);
        k.slopeD[c] = slope;
        k.slope[c] = float(slope), k.intercept[c] = float(f + 0.5);
        k.lowEnd[c] = float(curves[c][0]), k.highEnd[c] = float(curves[c][white]);
    }
    const int64_t black = truncToInt32(shaping.suppressBlack), fadeFrom = truncToInt32(shaping.suppressWhite);
    k.black = int32_t(std::clamp<int64_t>(black, -1, white + 1));
    k.fadeFrom = int32_t(std::clamp<int64_t>(fadeFrom, -1, white + 1));
    k.blackSpan = float(black);
    k.whiteSpan = float(int64_t(white) - fadeFrom);

    // Every weight as the lanes make it, then the curves in the cheaper form where it serves.
    const L lanes(k);
    alignas(32) float w[8];
    for (int32_t p = 0; p <= white; p += 8) {
        const V::I values = V::add32(V::set32(p), V::laneNumbers32());
        V::storeFloat(w, lanes.weight(V::min32(values, V::set32(white))));
        for (int32_t i = 0; i < 8 && p + i <= white; ++i)
            if (std::memcmp(&w[i], &weights[p + i], sizeof(float)) != 0)
                return false;
    }
    k.curveForm = CurveForm::Float;
    if (curvesMatch<Tag, CurveForm::Float>(lanes, curves))
        return true;
    k.curveForm = CurveForm::Fixed;
    return fitFixed<Tag>(k, curves) && curvesMatch<Tag, CurveForm::Fixed>(L(k), curves);
}

template <class Tag>
void laneRows(const LaneConstants& k, bool colorNoise, uint32_t& state, const RasterDesc& picture,
              const RasterDesc& layer, int32_t width, int32_t first, int32_t end) {
    if (cpu::hasAvx512()) {
        laneRowsAvx512<Tag>(k, colorNoise, state, picture, layer, width, first, end);
        return;
    }
    rowsIn<Tag>(k, colorNoise, state, picture, layer, width, first, end);
}

#define GRAIN_NOISE_LANES(Tag)                                                                                      \
    template bool prepareLanes<Tag>(LaneConstants&, int32_t, const Shaping&, const Tag::Channel* const[3],           \
                                    const float*);                                                                  \
    template void laneRows<Tag>(const LaneConstants&, bool, uint32_t&, const RasterDesc&, const RasterDesc&, int32_t, \
                                int32_t, int32_t);
GRAIN_NOISE_LANES(PIXEL_ARGB8)
GRAIN_NOISE_LANES(PIXEL_BGRA8)
GRAIN_NOISE_LANES(PIXEL_ARGB14)
GRAIN_NOISE_LANES(PIXEL_BGRA14)
#undef GRAIN_NOISE_LANES

}  // namespace grain_noise

TX_END_AVX2
