// The integer window's kernels, and both windows' passes at the SSE2 width that every x86-64
// processor has.
#include "stages/tone/GrainBlurWindow.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "lib/Common/LaneWidths.h"

namespace grain_blur {

std::optional<FixedScale> FixedScale::find(float m, int32_t limit, int shift) {
    const int64_t one = int64_t(1) << (16 + shift);
    int64_t lo = 0, hi = 2 * one;
    for (int32_t x = 1; x <= limit && lo <= hi; ++x) {
        const int64_t f = int64_t(float(x) * m);
        // f <= x M / 2^s < f + 1
        lo = std::max(lo, (f * one + x - 1) / x);
        hi = std::min(hi, ((f + 1) * one + x - 1) / x - 1);
    }
    if (lo > hi || int64_t(limit) * ((lo >> 16) + 1) > 65535)
        return std::nullopt;
    return FixedScale{int32_t(lo >> 16), int32_t(lo & 0xFFFF)};
}

template <class Tag>
std::optional<FixedKernels<Tag>> FixedKernels<Tag>::find(const ChannelKernel (&kernels)[3]) {
    using F = typename Tag::FORMAT;
    constexpr int channelOf[3] = {F::R, F::G, F::B};
    constexpr int32_t white = Tag::white;
    FixedKernels k;
    // Each step's range of x: samples for the terms; for the sums two side terms, a centre
    // and the line's offset.
    int32_t sumLimits[3];
    for (int c = 0; c < 3; ++c) {
        const ChannelKernel& kernel = kernels[c];
        const bool hasSides = kernel.hasSides();
        int32_t largestOffset = 0;
        for (int32_t p = 0; p <= white; ++p) {
            const int32_t o = int32_t(kernel.outer(p));
            const int32_t offset = int32_t(kernel.start(p)) - (2 * (hasSides ? o : 0) + o + int32_t(kernel.rest(p)));
            k.offsets[c][p] = int16_t(offset);
            largestOffset = std::max(largestOffset, offset);
        }
        sumLimits[c] = int32_t(kernel.outer(white)) * (hasSides ? 3 : 1) + int32_t(kernel.rest(white)) + largestOffset;
        for (int lane = channelOf[c]; lane < 8; lane += 4) k.sides[lane] = int16_t(hasSides ? -1 : 0);
        k.floatNorm[channelOf[c]] = kernel.norm;
    }
    // One shift per vector, so the three channels' scales share it: the finest all take.
    const auto scale = [&](auto factor, auto limit) -> std::optional<LanePattern> {
        for (int shift = 8; shift >= 0; --shift) {
            LanePattern pattern;
            pattern.shift = shift;
            bool all = true;
            for (int c = 0; c < 3 && all; ++c) {
                const auto found = FixedScale::find(factor(kernels[c]), limit(c), shift);
                all = found.has_value();
                for (int lane = channelOf[c]; all && lane < 8; lane += 4) {
                    pattern.high[lane] = int16_t(found->high);
                    pattern.low[lane] = int16_t(found->low);
                }
            }
            if (all)
                return pattern;
        }
        return std::nullopt;
    };
    const auto samples = [](int) { return white; };
    const auto edge = scale([](const ChannelKernel& kernel) { return kernel.edge; }, samples);
    const auto inner = scale([](const ChannelKernel& kernel) { return kernel.inner; }, samples);
    if (!edge || !inner)
        return std::nullopt;
    k.edge = *edge;
    k.inner = *inner;
    k.norm = scale([](const ChannelKernel& kernel) { return kernel.norm; }, [&](int c) { return sumLimits[c]; });
    return k;
}

template struct FixedKernels<PIXEL_ARGB8>;
template struct FixedKernels<PIXEL_BGRA8>;

namespace {

// The blur's own steps at this width: two pixels per vector.
struct V : lane_widths::Sse2Lanes {
    using F = __m128;
    static __m128 floatPattern(const float (&lanes)[4]) { return _mm_loadu_ps(lanes); }

    // Every pixel of the vector set to its first, or last, pixel.
    static I broadcastFirst(I v) { return _mm_unpacklo_epi64(v, v); }
    static I broadcastLast(I v) { return _mm_unpackhi_epi64(v, v); }
    // The pixels one step before those of v (the first from prev's last), and one step after.
    static I before(I prev, I v) { return _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(prev), _mm_castsi128_pd(v), 1)); }
    static I after(I v, I next) { return _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(v), _mm_castsi128_pd(next), 1)); }

    // trunc(sum * k) per pixel in single precision, packed back to 16-bit lanes.
    static I scaleFloat(I sum, __m128 norm) {
        const __m128i first = _mm_srai_epi32(_mm_unpacklo_epi16(sum, sum), 16);
        const __m128i second = _mm_srai_epi32(_mm_unpackhi_epi16(sum, sum), 16);
        return _mm_packs_epi32(_mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(first), norm)),
                               _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(second), norm)));
    }
    // Runs of pixels in 32-bit lanes, one pixel per vector: run j of a block, and two runs back
    // to 16-bit lanes (signed saturation).
    static I widen(Block b, int j) {
        const __m128i half = j < 2 ? b.low : b.high;
        return j % 2 == 0 ? _mm_unpacklo_epi16(half, _mm_setzero_si128()) : _mm_unpackhi_epi16(half, _mm_setzero_si128());
    }
    static I narrowPair(I a, I b) { return _mm_packs_epi32(a, b); }
    template <class Tag>
    static I narrowHeld(I a, I b) { return heldToWhite<Tag>(narrowPair(a, b)); }
    static I firstPixel32(I v) { return v; }
    static I lastPixel32(I v) { return v; }
    static I before32(I prev, I) { return prev; }
    static I after32(I, I next) { return next; }
    static I pattern32(const int32_t (&lanes)[4]) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)); }
    static I load32(const int32_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
    static void store32(int32_t* at, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); }
    static I add32(I a, I b) { return _mm_add_epi32(a, b); }
    static I sub32(I a, I b) { return _mm_sub_epi32(a, b); }
    static F toFloat(I v) { return _mm_cvtepi32_ps(v); }
    static I truncate(F v) { return _mm_cvttps_epi32(v); }
    static F mulFloat(F a, F b) { return _mm_mul_ps(a, b); }
    static F addFloat(F a, F b) { return _mm_add_ps(a, b); }
    static F minFloat(F a, F b) { return _mm_min_ps(a, b); }
    static F setFloat(float v) { return _mm_set1_ps(v); }
};

#include "stages/tone/GrainBlurFixedPass.inc"
#include "stages/tone/GrainBlurFloatPass.inc"

}  // namespace

#define GRAIN_BLUR_WIDTH(name) name##Sse2
#include "stages/tone/GrainBlurEntries.inc"
#undef GRAIN_BLUR_WIDTH

}  // namespace grain_blur
