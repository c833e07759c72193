// Displacement: a fixed sine ripple. Every column moves up or down and every row left or
// right by up to the amount, with a period of 128 pixels, sampled bilinearly from the source.
#include "stages/tone/Displacement.h"

#include <algorithm>
#include <cstring>

#include "lib/Common/FloatMath.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/simd/LaneWidths.h"

namespace {

using V = simd::Sse2Lanes;

constexpr float kRipple = 0.049087387f;  // radians per pixel: 2 pi / 128
// Columns whose vertical shifts are worked out together, so no memory is needed per frame.
constexpr int32_t kColumnBlock = 256;

// Where one output pixel samples the source, in single precision. A position at or past
// either edge (or not a number) falls back to 0: past the right edge samples column 0.
struct SamplePoint {
    int32_t x0, x1, y0, y1;
    float fx, fy;
};

inline SamplePoint samplePoint(float sx, float sy, int32_t width, int32_t height) {
    if (!(sx > 0.0f && sx < float(width)))
        sx = 0.0f;
    if (!(sy > 0.0f && sy < float(height)))
        sy = 0.0f;
    SamplePoint p;
    p.x0 = int32_t(sx);  // sx >= 0 here, so this is its floor
    p.y0 = int32_t(sy);
    p.fx = sx - float(p.x0);
    p.fy = sy - float(p.y0);
    p.x1 = std::min(p.x0 + 1, width - 1);
    p.y1 = std::min(p.y0 + 1, height - 1);
    return p;
}

// The four samples of a pixel, in memory order, as floats.
template <class Tag>
inline V::F samplesOf(const typename Tag::Channel* px) {
    return V::toFloat(V::loadPixel32<Tag>(px));
}

// trunc(s x ws + t x wt), kept to the channel's width, back as floats. The same single-
// precision products and sum as one channel at a time, for all four channels at once.
template <class Tag>
inline V::I mixed(V::F s, V::F ws, V::F t, V::F wt) {
    const V::I mask = V::set32(kIs16Bit<Tag> ? 0xFFFF : 0xFF);
    return V::bitAnd(V::truncate(V::addFloat(V::mulFloat(s, ws), V::mulFloat(t, wt))), mask);
}

// R, G and B of the output pixel from the four neighbours: each row pair mixed and truncated
// to the channel, then the two rows mixed and truncated. Alpha is left as it is.
template <class Tag>
inline void sampleColour(const typename Tag::Channel* top, const typename Tag::Channel* bottom, const SamplePoint& p,
                         typename Tag::Channel* out) {
    using Channel = typename Tag::Channel;
    using F = typename Tag::FORMAT;
    const V::F fx = V::setFloat(p.fx), gx = V::setFloat(1.0f - p.fx);
    const V::F fy = V::setFloat(p.fy), gy = V::setFloat(1.0f - p.fy);
    const V::I upper = mixed<Tag>(samplesOf<Tag>(top + 4 * p.x0), gx, samplesOf<Tag>(top + 4 * p.x1), fx);
    const V::I lower = mixed<Tag>(samplesOf<Tag>(bottom + 4 * p.x0), gx, samplesOf<Tag>(bottom + 4 * p.x1), fx);
    alignas(16) int32_t lanes[4];
    V::store32(lanes, mixed<Tag>(V::toFloat(lower), fy, V::toFloat(upper), gy));
    out[F::R] = Channel(lanes[F::R]);
    out[F::G] = Channel(lanes[F::G]);
    out[F::B] = Channel(lanes[F::B]);
}

}  // namespace

template <class Tag>
Status DisplacementStage(TX_STAGE_ARGS, float amount) {
    using Channel = typename Tag::Channel;
    (void)frame;
    (void)host;
    const RasterDesc src = source.describe();
    const RasterDesc out = output.describe();
    // The source is read in the output's format; a source of another depth is not read.
    if (src.bytesPerPixel != uint32_t(Tag::bytesPerPixel))
        return STATUS_UNSUPPORTED;
    if (!src.pixels || !out.pixels)
        return STATUS_OK;
    const int32_t width = src.width, height = src.height;
    const int32_t columns = std::min(width, out.width), rows = std::min(height, out.height);

    float rise[kColumnBlock];  // cos(x step) * A for the columns of one block
    for (int32_t left = 0; left < columns; left += kColumnBlock) {
        const int32_t count = std::min(kColumnBlock, columns - left);
        for (int32_t i = 0; i < count; ++i)
            rise[i] = fm::cosF(float(left + i) * kRipple) * amount;
        for (int32_t y = 0; y < rows; ++y) {
            const float sway = fm::sinF(float(y) * kRipple) * amount;
            const float row = float(y);
            Channel* px = rowOf<Tag>(out, y) + 4 * left;
            for (int32_t i = 0; i < count; ++i, px += 4) {
                const SamplePoint p = samplePoint(sway + float(left + i), rise[i] + row, width, height);
                sampleColour<Tag>(rowOf<Tag>(src, p.y0), rowOf<Tag>(src, p.y1), p, px);
            }
        }
    }
    return STATUS_OK;
}

template Status DisplacementStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status DisplacementStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status DisplacementStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status DisplacementStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
