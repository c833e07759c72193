// The integer window's passes at the AVX2 width: four pixels per vector. Only the functions
// defined below the target switch use AVX2; GrainBlur calls them where the processor has it.
#include <immintrin.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "stages/tone/GrainBlurFixed.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace grain_blur {
namespace {

struct V {
    using I = __m256i;
    using F = __m256;
    static constexpr int kLanes = 16, kBlockPixels = 8;
    struct Block {
        I low, high;
    };

    static I loadLanes(const int16_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }
    static void storeLanes(int16_t* at, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v); }
    static I pattern(const int16_t (&lanes)[8]) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)));
    }
    static F floatPattern(const float (&lanes)[4]) {
        const __m128 four = _mm_loadu_ps(lanes);
        return _mm256_insertf128_ps(_mm256_castps128_ps256(four), four, 1);
    }
    static I alphaMask(int a) {
        alignas(32) int16_t lanes[16];
        for (int i = 0; i < 16; ++i) lanes[i] = int16_t(i % 4 == a ? -1 : 0);
        return loadLanes(lanes);
    }

    static Block loadBlock(const uint8_t* at) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16));
        return {_mm256_cvtepu8_epi16(first), _mm256_cvtepu8_epi16(second)};
    }
    // Saturating to 0..255; the pack works within 128-bit halves, the permute restores the order.
    static void storeBlock(uint8_t* at, Block b) {
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(b.low, b.high), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), packed);
    }

    static I add(I a, I b) { return _mm256_add_epi16(a, b); }
    static I bitAnd(I a, I b) { return _mm256_and_si256(a, b); }
    static I mulLow(I a, I b) { return _mm256_mullo_epi16(a, b); }
    static I mulHigh(I a, I b) { return _mm256_mulhi_epu16(a, b); }
    static I shiftRight(I a, __m128i count) { return _mm256_srl_epi16(a, count); }
    static I atLeastZero(I a) { return _mm256_max_epi16(a, _mm256_setzero_si256()); }
    static I withAlpha(I colours, I alphas, I mask) { return _mm256_blendv_epi8(colours, alphas, mask); }

    // Every pixel (64 bits) of the vector set to its first, or last, pixel.
    static I broadcastFirst(I v) { return _mm256_permute4x64_epi64(v, 0x00); }
    static I broadcastLast(I v) { return _mm256_permute4x64_epi64(v, 0xFF); }
    // [p3 | v0 v1 v2] and [v1 v2 v3 | n0]: the middle pair crosses the 128-bit halves.
    static I before(I prev, I v) { return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(prev, v, 0x21), 8); }
    static I after(I v, I next) { return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, next, 0x21), v, 8); }

    // trunc(sum * k) per pixel in single precision; unpack and pack both work within halves,
    // so the pixels come back in place.
    static I scaleFloat(I sum, F norm) {
        const __m256i first = _mm256_srai_epi32(_mm256_unpacklo_epi16(sum, sum), 16);
        const __m256i second = _mm256_srai_epi32(_mm256_unpackhi_epi16(sum, sum), 16);
        return _mm256_packs_epi32(_mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(first), norm)),
                                  _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(second), norm)));
    }
};

#include "stages/tone/GrainBlurFixedPass.inc"

}  // namespace

template <class Tag, bool FixedNorm>
void fixedPassAvx2(const FixedKernels<Tag>& kernels, bool vertical, const RasterDesc& source,
                   const RasterDesc& destination, int32_t width, int32_t height) {
    fixedPass<Tag, FixedNorm>(kernels, vertical, source, destination, width, height);
}

template void fixedPassAvx2<PIXEL_ARGB8, true>(const FixedKernels<PIXEL_ARGB8>&, bool, const RasterDesc&,
                                               const RasterDesc&, int32_t, int32_t);
template void fixedPassAvx2<PIXEL_ARGB8, false>(const FixedKernels<PIXEL_ARGB8>&, bool, const RasterDesc&,
                                                const RasterDesc&, int32_t, int32_t);
template void fixedPassAvx2<PIXEL_BGRA8, true>(const FixedKernels<PIXEL_BGRA8>&, bool, const RasterDesc&,
                                               const RasterDesc&, int32_t, int32_t);
template void fixedPassAvx2<PIXEL_BGRA8, false>(const FixedKernels<PIXEL_BGRA8>&, bool, const RasterDesc&,
                                                const RasterDesc&, int32_t, int32_t);

}  // namespace grain_blur

#pragma GCC pop_options
