// Moving-average passes of radius r: each output sample is trunc(sum * (1.0 / (2r + 1))) over
// the 2r + 1 samples centred on it, coordinates beyond the edges taken at the edge. The sums
// run: the sample entering the window is added and the one leaving it removed, so the cost
// does not grow with the radius.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PlainBlend.h"

namespace {

// The widest window whose sum of full-scale samples still fits 32 bits; wider ones (only
// from radii far beyond any frame) sum in 64 bits.
template <class Tag>
bool fitsNarrowSum(int64_t window) {
    return window <= int64_t(std::numeric_limits<int32_t>::max()) / std::numeric_limits<typename Tag::Channel>::max();
}

// Sum of one channel over the window centred on pixel 0 of a row of n pixels: r + 1 copies
// of the first pixel, then pixels 1..r, those past the end taken at the end.
template <class Sum, class Channel>
Sum leadingSum(const Channel* channel, int32_t n, int64_t radius) {
    const int32_t inside = int32_t(std::min<int64_t>(radius, n - 1));
    Sum sum = Sum(channel[0]) * Sum(radius + 1);
    for (int32_t i = 1; i <= inside; ++i)
        sum += channel[4 * i];
    return sum + Sum(channel[4 * (n - 1)]) * Sum(radius - inside);
}

template <class Tag, class Sum>
void horizontalPass(const RasterDesc& from, const RasterDesc& to, int32_t width, int32_t height, int64_t radius) {
    using Channel = typename Tag::Channel;
    const double reciprocal = 1.0 / double(2 * radius + 1);
    // Indices are clamped to the line anyway, so a radius beyond the width walks the same.
    const int32_t reach = int32_t(std::min<int64_t>(radius, width));
    for (int32_t y = 0; y < height; ++y) {
        const Channel* in = rowOf<Tag>(from, y);
        Channel* out = rowOf<Tag>(to, y);
        Sum sum[4];
        for (int c = 0; c < 4; ++c)
            sum[c] = leadingSum<Sum>(in + c, width, radius);
        for (int32_t x = 0; x < width; ++x) {
            const Channel* entering = in + 4 * std::min(x + reach + 1, width - 1);
            const Channel* leaving = in + 4 * std::max(x - reach, 0);
            for (int c = 0; c < 4; ++c) {
                out[4 * x + c] = Channel(double(sum[c]) * reciprocal);
                sum[c] += Sum(entering[c]) - Sum(leaving[c]);
            }
        }
    }
}

// The four samples of a pixel, widened to 32-bit lanes.
template <class Tag>
__m128i pixelLanes(const typename Tag::Channel* pixel) {
    if constexpr (kIs16Bit<Tag>) {
        return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel)), _mm_setzero_si128());
    } else {
        int32_t bytes;
        std::memcpy(&bytes, pixel, 4);
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), _mm_setzero_si128()), _mm_setzero_si128());
    }
}

// The horizontal pass with a pixel's four sums in one vector: the same double products and
// truncations as the plain pass, sample for sample, so the same bytes.
template <class Tag>
void horizontalPassInLanes(const RasterDesc& from, const RasterDesc& to, int32_t width, int32_t height, int64_t radius) {
    using Channel = typename Tag::Channel;
    const __m128d reciprocal = _mm_set1_pd(1.0 / double(2 * radius + 1));
    const int32_t reach = int32_t(std::min<int64_t>(radius, width));
    for (int32_t y = 0; y < height; ++y) {
        const Channel* in = rowOf<Tag>(from, y);
        Channel* out = rowOf<Tag>(to, y);
        alignas(16) int32_t start[4];
        for (int c = 0; c < 4; ++c)
            start[c] = leadingSum<int32_t>(in + c, width, radius);
        __m128i sum = _mm_load_si128(reinterpret_cast<const __m128i*>(start));
        for (int32_t x = 0; x < width; ++x) {
            const __m128i low = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(sum), reciprocal));
            const __m128i high = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(sum, 0xEE)), reciprocal));
            const __m128i averages = _mm_unpacklo_epi64(low, high);
            if constexpr (kIs16Bit<Tag>) {
                // Up to 65535 (samples past white): packed signed from 32768 down, then moved back.
                const __m128i bias = _mm_set1_epi32(32768);
                const __m128i words = _mm_packs_epi32(_mm_sub_epi32(averages, bias), _mm_setzero_si128());
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * x), _mm_xor_si128(words, _mm_set1_epi16(-32768)));
            } else {
                const __m128i words = _mm_packs_epi32(averages, _mm_setzero_si128());
                const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
                std::memcpy(out + 4 * x, &bytes, 4);
            }
            const __m128i entering = pixelLanes<Tag>(in + 4 * std::min(x + reach + 1, width - 1));
            const __m128i leaving = pixelLanes<Tag>(in + 4 * std::max(x - reach, 0));
            sum = _mm_add_epi32(sum, _mm_sub_epi32(entering, leaving));
        }
    }
}

// Column sums for a whole row at once, so rows are read and written in memory order. False,
// with nothing written, when the heap refuses the sums.
template <class Tag, class Sum>
bool verticalPass(const RasterDesc& from, const RasterDesc& to, int32_t width, int32_t height, int64_t radius) {
    using Channel = typename Tag::Channel;
    const double reciprocal = 1.0 / double(2 * radius + 1);
    const int32_t reach = int32_t(std::min<int64_t>(radius, height));
    const int32_t samples = 4 * width;
    CallBuffer<Sum> sums(static_cast<size_t>(samples));
    if (!sums)
        return false;
    // The window centred on row 0: r + 1 copies of row 0, then rows 1..r, clamped at the bottom.
    const int32_t inside = int32_t(std::min<int64_t>(radius, height - 1));
    const Channel* first = rowOf<Tag>(from, 0);
    for (int32_t i = 0; i < samples; ++i)
        sums[size_t(i)] = Sum(first[i]) * Sum(radius + 1);
    for (int32_t y = 1; y <= inside; ++y) {
        const Channel* row = rowOf<Tag>(from, y);
        for (int32_t i = 0; i < samples; ++i)
            sums[size_t(i)] += row[i];
    }
    const Channel* last = rowOf<Tag>(from, height - 1);
    for (int32_t i = 0; i < samples; ++i)
        sums[size_t(i)] += Sum(last[i]) * Sum(radius - inside);
    Sum* sum = sums.data();
    for (int32_t y = 0; y < height; ++y) {
        Channel* out = rowOf<Tag>(to, y);
        const Channel* entering = rowOf<Tag>(from, std::min(y + reach + 1, height - 1));
        const Channel* leaving = rowOf<Tag>(from, std::max(y - reach, 0));
        for (int32_t i = 0; i < samples; ++i) {
            out[i] = Channel(double(sum[i]) * reciprocal);
            sum[i] += Sum(entering[i]) - Sum(leaving[i]);
        }
    }
    return true;
}

}  // namespace

namespace {

template <class Tag>
void boxBlurHorizontal(const RasterDesc& from, const RasterDesc& to, int32_t radius, bool lanes) {
    const int32_t width = std::min(from.width, to.width);
    const int32_t height = std::min(from.height, to.height);
    if (radius < 1 || width <= 0 || height <= 0)
        return;
    if (!fitsNarrowSum<Tag>(2 * int64_t(radius) + 1))
        horizontalPass<Tag, int64_t>(from, to, width, height, radius);
    else if (lanes)
        horizontalPassInLanes<Tag>(from, to, width, height, radius);
    else
        horizontalPass<Tag, int32_t>(from, to, width, height, radius);
}

}  // namespace

template <class Tag>
void BoxBlurHorizontal(const RasterDesc& from, const RasterDesc& to, int32_t radius) {
    boxBlurHorizontal<Tag>(from, to, radius, true);
}

template <class Tag>
void BoxBlurHorizontalPlain(const RasterDesc& from, const RasterDesc& to, int32_t radius) {
    boxBlurHorizontal<Tag>(from, to, radius, false);
}

template <class Tag>
Status BoxBlurVertical(const RasterDesc& from, const RasterDesc& to, int32_t radius) {
    const int32_t width = std::min(from.width, to.width);
    const int32_t height = std::min(from.height, to.height);
    if (radius < 1 || width <= 0 || height <= 0)
        return STATUS_OK;
    const bool done = fitsNarrowSum<Tag>(2 * int64_t(radius) + 1)
                          ? verticalPass<Tag, int32_t>(from, to, width, height, radius)
                          : verticalPass<Tag, int64_t>(from, to, width, height, radius);
    return done ? STATUS_OK : STATUS_NO_RASTER;
}

template void BoxBlurHorizontal<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontal<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontal<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontal<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontalPlain<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontalPlain<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontalPlain<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontalPlain<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVertical<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVertical<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVertical<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVertical<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, int32_t);
