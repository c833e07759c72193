// Rotate-and-scale placement of a texture, centred in the destination, with a five-tap cross
// filter: RotateScaleCopy on rasters and TransformResample on 16-bit ImageBuffers share it.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lib/Common/FloatMath.h"
#include "lib/Common/ImageBuffer.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PlainBlend.h"
#include "lib/Common/simd/Cpu.h"
#include "lib/Common/simd/RotatedTaps.h"

namespace {

// trunc(x) as an integer, held far inside 32 bits so that neighbours and differences of the
// result cannot overflow (a zero scale divides to infinity); NaN gives 0.
int32_t truncatedCoordinate(double x) {
    constexpr double kLimit = 1 << 30;
    if (!(x > -kLimit))
        return x != x ? 0 : -(1 << 30);
    return x < kLimit ? int32_t(x) : (1 << 30);
}

struct PixelGrid {
    uint8_t* pixels;
    int64_t stride;  // bytes per row
    int32_t width;
    int32_t height;
};

// Pixels of the destination that may be written: a rectangle, right and bottom exclusive.
struct Window {
    int32_t left, top, right, bottom;
};

// The source pixel of destination pixels i .. i + 3 of a row, four at a time with the scalar
// form's float steps in the same order (every step in float, the + 0.5 too: 0.5 - 2^-25 + 0.5
// rounds to 1), so the same coordinates; lanes far out of range or NaN take the scalar form.
void sourceCoordinates(int32_t i, float cx, float cy, float c, float s, float Ys, float Yc, float sx, float sy,
                       int32_t* us, int32_t* vs) {
    const __m128 X = _mm_sub_ps(_mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(i), _mm_setr_epi32(0, 1, 2, 3))), _mm_set1_ps(cx));
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 u = _mm_add_ps(
        _mm_div_ps(_mm_add_ps(_mm_sub_ps(_mm_mul_ps(X, _mm_set1_ps(c)), _mm_set1_ps(Ys)), _mm_set1_ps(cx)), _mm_set1_ps(sx)), half);
    const __m128 v = _mm_add_ps(
        _mm_div_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(X, _mm_set1_ps(s)), _mm_set1_ps(Yc)), _mm_set1_ps(cy)), _mm_set1_ps(sy)), half);
    const __m128 low = _mm_set1_ps(-1073741824.0f), high = _mm_set1_ps(1073741824.0f);
    const __m128 inside = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(u, low), _mm_cmplt_ps(u, high)),
                                     _mm_and_ps(_mm_cmpgt_ps(v, low), _mm_cmplt_ps(v, high)));
    if (_mm_movemask_ps(inside) == 0xF) {
        _mm_store_si128(reinterpret_cast<__m128i*>(us), _mm_cvttps_epi32(u));
        _mm_store_si128(reinterpret_cast<__m128i*>(vs), _mm_cvttps_epi32(v));
        return;
    }
    alignas(16) float uf[4], vf[4];
    _mm_store_ps(uf, u);
    _mm_store_ps(vf, v);
    for (int k = 0; k < 4; ++k) {
        us[k] = truncatedCoordinate(uf[k]);
        vs[k] = truncatedCoordinate(vf[k]);
    }
}

// A five-tap sum as a sample. The placements take it as trunc(sum x 0.2) or trunc(sum / 5.0),
// in double; for sums of whole samples (below 2^19) both are the integer quotient by 5, as a
// fifth of a whole number is 0 or at least 0.2 past a whole number, far beyond the rounding.
inline int32_t average(int32_t sum) { return sum / 5; }

// The five taps of an 8-bit pixel at once, as 16-bit lanes: a fifth of each sum (at most
// 5 x 255) is its high product with 52429 shifted down 2, which errs by under 0.001; alpha is
// the centre's.
inline void fiveTapsInLanes(uint8_t* out, const uint8_t* centre, const uint8_t* left, const uint8_t* right,
                            const uint8_t* up, const uint8_t* down, uint32_t alphaMask) {
    const auto widened = [](const uint8_t* at) {
        int32_t bytes;
        std::memcpy(&bytes, at, 4);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), _mm_setzero_si128());
    };
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(widened(centre), widened(left)), widened(right)),
                                      _mm_add_epi16(widened(up), widened(down)));
    const __m128i fifths = _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(int16_t(52429))), 2);
    const auto colours = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(fifths, fifths)));
    uint32_t middle;
    std::memcpy(&middle, centre, 4);
    const uint32_t pixel = (colours & ~alphaMask) | (middle & alphaMask);
    std::memcpy(out, &pixel, 4);
}

// Places `source` centred in an area of areaWidth x areaHeight whose corner is (areaLeft,
// areaTop) in the destination grid; only pixels inside `writable` change. `Lanes`: 8-bit
// pixels' taps summed in vector lanes.
template <class Tag, bool Lanes = true>
void placeRotated(const PixelGrid& source, const PixelGrid& destination, int32_t areaLeft, int32_t areaTop,
                  int32_t areaWidth, int32_t areaHeight, const Window& writable, float sx, float sy, float angle) {
    using Channel = typename Tag::Channel;
    using F = typename Tag::FORMAT;
    constexpr int64_t kPixelBytes = 4 * sizeof(Channel);
    if (source.width <= 0 || source.height <= 0)
        return;

    // The margins are kept as 16-bit values.
    const int16_t x0 = int16_t((int64_t(areaWidth) - truncatedCoordinate(float(source.width) * sx)) / 2);
    const int16_t y0 = int16_t((int64_t(areaHeight) - truncatedCoordinate(float(source.height) * sy)) / 2);
    const int32_t x1 = areaWidth - x0;
    const int32_t y1 = areaHeight - y0;
    if (y0 >= y1)
        return;
    const float cx = float((x1 - x0) * 0.5);
    const float cy = float((y1 - y0) * 0.5);
    const float theta = float(double(angle) * 0.017453292519943295);
    const float c = fm::cosF(theta);
    const float s = fm::sinF(theta);

    const int32_t lastColumn = source.width - 1;
    const int32_t lastRow = source.height - 1;
    const auto pixel = [&](int32_t u, int32_t v) {
        u = std::clamp(u, 0, lastColumn);
        v = std::clamp(v, 0, lastRow);
        return reinterpret_cast<const Channel*>(source.pixels + v * source.stride + u * kPixelBytes);
    };

    const int32_t firstI = std::max(0, writable.left - (areaLeft + x0));
    const int32_t endI = std::min(x1 - x0, writable.right - (areaLeft + x0));
    const int32_t firstJ = std::max(0, writable.top - (areaTop + y0));
    const int32_t endJ = std::min(y1 - y0, writable.bottom - (areaTop + y0));
    // 8-bit taps are gathered eight pixels at a time where the source's offsets fit the lanes.
    bool wide = false;
    if constexpr (Lanes && !kIs16Bit<Tag>)
        wide = cpu::hasAvx2() && source.stride > 0 && source.stride * source.height < (int64_t(1) << 31);
    const rotated_taps::Source taps{source.pixels, int32_t(source.stride), lastColumn, lastRow};
    alignas(16) int32_t us[4], vs[4];
    for (int32_t j = firstJ; j < endJ; ++j) {
        const float Y = float(j) - cy;
        const float Ys = Y * s, Yc = Y * c;
        auto* out = reinterpret_cast<Channel*>(destination.pixels + int64_t(areaTop + y0 + j) * destination.stride +
                                               int64_t(areaLeft + x0 + firstI) * kPixelBytes);
        for (int32_t i = firstI; i < endI;) {
            // A stretch one pixel at a time: the whole row, or with the lanes the group of eight
            // they left (a tap outside the source) or the row's last pixels.
            int32_t stop = endI;
            if (wide) {
                const int32_t next = rotated_taps::placeRowAvx2(taps, {cx, cy, c, s, Ys, Yc, sx, sy}, i, endI,
                                                                reinterpret_cast<uint8_t*>(out), F::A);
                out += 4 * (next - i);
                i = next;
                stop = std::min(endI, i + 8);
            }
            for (int32_t n = 0; i < stop; ++i, ++n, out += 4) {
                const int lane = n & 3;
                if (lane == 0)
                    sourceCoordinates(i, cx, cy, c, s, Ys, Yc, sx, sy, us, vs);
                const int32_t u = us[lane], v = vs[lane];
                const Channel *centre, *left, *right, *up, *down;
                if (u >= 1 && u < lastColumn && v >= 1 && v < lastRow) {
                    // Every tap inside the source: its neighbours by their offsets.
                    const uint8_t* at = source.pixels + v * source.stride + u * kPixelBytes;
                    centre = reinterpret_cast<const Channel*>(at);
                    left = reinterpret_cast<const Channel*>(at - kPixelBytes);
                    right = reinterpret_cast<const Channel*>(at + kPixelBytes);
                    up = reinterpret_cast<const Channel*>(at - source.stride);
                    down = reinterpret_cast<const Channel*>(at + source.stride);
                } else {
                    centre = pixel(u, v), left = pixel(u - 1, v), right = pixel(u + 1, v);
                    up = pixel(u, v - 1), down = pixel(u, v + 1);
                }
                if constexpr (Lanes && !kIs16Bit<Tag>) {
                    fiveTapsInLanes(out, centre, left, right, up, down, uint32_t(0xFF) << (8 * F::A));
                } else {
                    for (int k : {F::R, F::G, F::B})
                        out[k] = Channel(average(int32_t(centre[k]) + left[k] + right[k] + up[k] + down[k]));
                    out[F::A] = centre[F::A];
                }
            }
        }
    }
}

}  // namespace

template <class Tag>
void RotateScaleCopy(const RasterDesc& source, const RasterDesc& destination, float sx, float sy, float angle) {
    const PixelGrid from{source.pixels, source.rowBytes, source.width, source.height};
    const PixelGrid to{destination.pixels, destination.rowBytes, destination.width, destination.height};
    const Window whole{0, 0, destination.width, destination.height};
    placeRotated<Tag>(from, to, 0, 0, destination.width, destination.height, whole, sx, sy, angle);
}

template <class Tag>
void RotateScaleCopyPlain(const RasterDesc& source, const RasterDesc& destination, float sx, float sy, float angle) {
    const PixelGrid from{source.pixels, source.rowBytes, source.width, source.height};
    const PixelGrid to{destination.pixels, destination.rowBytes, destination.width, destination.height};
    const Window whole{0, 0, destination.width, destination.height};
    placeRotated<Tag, false>(from, to, 0, 0, destination.width, destination.height, whole, sx, sy, angle);
}

template <class Tag>
void RotateScaleCopyWindow(const RasterDesc& source, const RasterDesc& destination, float sx, float sy, float angle,
                           const Rect16& window) {
    const PixelGrid from{source.pixels, source.rowBytes, source.width, source.height};
    const PixelGrid to{destination.pixels, destination.rowBytes, destination.width, destination.height};
    const Window part{std::max<int32_t>(window.left, 0), std::max<int32_t>(window.top, 0),
                      std::min<int32_t>(window.right, destination.width),
                      std::min<int32_t>(window.bottom, destination.height)};
    placeRotated<Tag>(from, to, 0, 0, destination.width, destination.height, part, sx, sy, angle);
}

template <class Tag>
void TransformResample(const ImageBuffer& source, const ImageBuffer& destination, float sx, float sy, float angle) {
    const PixelGrid from{source.pixels, source.stride, int32_t(source.mWidth), source.mHeight};
    const PixelGrid to{destination.pixels, destination.stride, int32_t(destination.mWidth), destination.mHeight};
    // The region of interest, and never past the buffer.
    const Window writable{std::max(destination.roiLeft, 0), std::max(destination.roiTop, 0),
                          std::min(destination.roiRight, int32_t(destination.mWidth)),
                          std::min(destination.roiBottom, destination.mHeight)};
    placeRotated<Tag>(from, to, destination.roiLeft, destination.roiTop, destination.roiRight - destination.roiLeft,
                      destination.roiBottom - destination.roiTop, writable, sx, sy, angle);
}

template void RotateScaleCopy<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, float, float, float);
template void RotateScaleCopy<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, float, float, float);
template void RotateScaleCopy<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, float, float, float);
template void RotateScaleCopy<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, float, float, float);
template void RotateScaleCopyPlain<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, float, float, float);
template void RotateScaleCopyPlain<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, float, float, float);
template void RotateScaleCopyPlain<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, float, float, float);
template void RotateScaleCopyPlain<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, float, float, float);

template void RotateScaleCopyWindow<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, float, float, float, const Rect16&);
template void RotateScaleCopyWindow<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, float, float, float, const Rect16&);
template void RotateScaleCopyWindow<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, float, float, float, const Rect16&);
template void RotateScaleCopyWindow<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, float, float, float, const Rect16&);

template void TransformResample<PIXEL_ARGB14>(const ImageBuffer&, const ImageBuffer&, float, float, float);
template void TransformResample<PIXEL_BGRA14>(const ImageBuffer&, const ImageBuffer&, float, float, float);
