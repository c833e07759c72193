// The integer window's kernels, and both windows' passes at the SSE2 width that every x86-64
// processor has.
#include "stages/tone/grain/GrainBlurWindow.h"

#include <cstddef>
#include <cstring>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/LaneWidths.h"

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

// Two pixels per vector.
using V = simd::Sse2Lanes;

#include "stages/tone/grain/GrainBlurFixedPass.inc"
#include "stages/tone/grain/GrainBlurFloatPass.inc"

}  // namespace

#define GRAIN_BLUR_WIDTH(name) name##Sse2
#include "stages/tone/grain/GrainBlurEntries.inc"
#undef GRAIN_BLUR_WIDTH

}  // namespace grain_blur
