// The grain noise pass eight or sixteen samples at a time, with AVX2 or AVX-512: the generator
// run in lanes that jump to their draws, and each sample's offset, curve entry and weight
// worked out rather than looked up (the processor cannot look up a vector's table entries at
// once at any useful speed).
// Made only where the worked-out forms give every entry of the tables the pass was handed.
#pragma once

#include <cstdint>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/RasterDesc.h"

namespace grain_noise {

// The noise formula's mid grey as the fill hands it over (128, or 8224 once widened to 16
// bits) and its 1/W, for the per-sample form and the lanes alike.
template <class Tag>
constexpr int32_t kGrey = fromByte<Tag>(128);
template <class Tag>
constexpr float kInvWhite = kIs16Bit<Tag> ? 1.0f / 16384.0f : 0.003921569f;

// The settings the curves and weights were built from.
struct Shaping {
    float strengths[3];  // percent, R G B
    float suppressBlack, suppressWhite;
};

enum class CurveForm : uint8_t { Float, Fixed };

// The binary point of the fixed-point curves: 8-bit sums stay within 32 bits, 16-bit ones are
// worked in 64; either way a slope of 1 fits its 32 bits.
template <class Tag>
constexpr int kFixedShift = kIs16Bit<Tag> ? 31 : 23;

// Everything the lanes need, fixed for a call.
struct LaneConstants {
    // A draw's curve index v mod m - n + grey, its quotient by m taken as (v * magic) >> shift
    // (exact for 15-bit draws); magic 0 where m exceeds every draw.
    uint32_t modulus, magic;
    int32_t shift, toIndex;
    // Curve entries inside the ends: trunc(t * slope + intercept) in single precision; where
    // that misses an entry, (t * fixedSlope + fixedIntercept) >> kFixedShift, with constants
    // fitted to the entries around the slope in double.
    CurveForm curveForm;
    float slope[3], intercept[3];
    double slopeD[3];
    uint32_t fixedSlope[3] = {};
    uint64_t fixedIntercept[3] = {};
    float lowEnd[3], highEnd[3];  // the entries at 0 and white
    // Weights: p < black: p / blackSpan; p > fadeFrom: (white - p) / whiteSpan; else 1.
    int32_t black, fadeFrom;
    float blackSpan, whiteSpan;
};

// Both only after cpu::hasAvx2().

// Fills `k` and reports whether the lanes reproduce `curves` and `weights` exactly; false
// also when the amplitude is beyond what the lanes hold.
template <class Tag>
bool prepareLanes(LaneConstants& k, int32_t amplitude, const Shaping& shaping,
                  const typename Tag::Channel* const curves[3], const float* weights);

// Rows first..end-1 of the layer, `width` pixels each, from the generator at `state`, which
// is left after the rows' draws; in AVX-512's lanes where cpu::hasAvx512().
template <class Tag>
void laneRows(const LaneConstants& k, bool colorNoise, uint32_t& state, const RasterDesc& picture,
              const RasterDesc& layer, int32_t width, int32_t first, int32_t end);
// The same in AVX-512's lanes, only after cpu::hasAvx512().
template <class Tag>
void laneRowsAvx512(const LaneConstants& k, bool colorNoise, uint32_t& state, const RasterDesc& picture,
                    const RasterDesc& layer, int32_t width, int32_t first, int32_t end);

}  // namespace grain_noise
