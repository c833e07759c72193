#include <immintrin.h>

#include "lib/Common/simd/RotatedTaps.h"
#include "lib/Common/simd/TargetAvx2.h"

TX_BEGIN_AVX2

namespace rotated_taps {

namespace {

__m256i widenLow(__m256i v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
__m256i widenHigh(__m256i v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }

// A fifth of each 16-bit sum (at most 5 x 255): its high product with 52429, shifted down 2,
// as the one-pixel form takes it.
__m256i fifths(__m256i sums) { return _mm256_srli_epi16(_mm256_mulhi_epu16(sums, _mm256_set1_epi16(int16_t(52429))), 2); }

}  // namespace

int32_t placeRowAvx2(const Source& source, const RowMapping& m, int32_t i, int32_t end, uint8_t* out, int alphaByte) {
    const __m256 c = _mm256_set1_ps(m.c), s = _mm256_set1_ps(m.s), Ys = _mm256_set1_ps(m.Ys), Yc = _mm256_set1_ps(m.Yc);
    const __m256 cx = _mm256_set1_ps(m.cx), cy = _mm256_set1_ps(m.cy), sx = _mm256_set1_ps(m.sx), sy = _mm256_set1_ps(m.sy);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), one = _mm256_set1_epi32(1);
    const __m256i lastColumn = _mm256_set1_epi32(source.lastColumn), lastRow = _mm256_set1_epi32(source.lastRow);
    const __m256i stride = _mm256_set1_epi32(source.stride);
    const __m256i alpha = _mm256_set1_epi32(int32_t(0xFFu << (8 * alphaByte)));
    const auto* centre = reinterpret_cast<const int*>(source.pixels);
    const auto* left = reinterpret_cast<const int*>(source.pixels - 4);
    const auto* right = reinterpret_cast<const int*>(source.pixels + 4);
    const auto* up = reinterpret_cast<const int*>(source.pixels - source.stride);
    const auto* down = reinterpret_cast<const int*>(source.pixels + source.stride);
    for (; end - i >= 8; i += 8, out += 32) {
        const __m256 X = _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(i), lanes)), cx);
        const __m256 uf = _mm256_add_ps(_mm256_div_ps(_mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(X, c), Ys), cx), sx), half);
        const __m256 vf = _mm256_add_ps(_mm256_div_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(X, s), Yc), cy), sy), half);
        // Out of range and NaN convert to the lowest integer, which fails the first test.
        const __m256i u = _mm256_cvttps_epi32(uf), v = _mm256_cvttps_epi32(vf);
        const __m256i outside = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpgt_epi32(one, u), _mm256_cmpgt_epi32(one, v)),
            _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_add_epi32(u, one), lastColumn),
                            _mm256_cmpgt_epi32(_mm256_add_epi32(v, one), lastRow)));
        if (!_mm256_testz_si256(outside, outside))
            break;
        const __m256i at = _mm256_add_epi32(_mm256_mullo_epi32(v, stride), _mm256_slli_epi32(u, 2));
        const __m256i taps[5] = {_mm256_i32gather_epi32(centre, at, 1), _mm256_i32gather_epi32(left, at, 1),
                                 _mm256_i32gather_epi32(right, at, 1), _mm256_i32gather_epi32(up, at, 1),
                                 _mm256_i32gather_epi32(down, at, 1)};
        __m256i low = widenLow(taps[0]), high = widenHigh(taps[0]);
        for (int k = 1; k < 5; ++k) {
            low = _mm256_add_epi16(low, widenLow(taps[k]));
            high = _mm256_add_epi16(high, widenHigh(taps[k]));
        }
        const __m256i averages = _mm256_packus_epi16(fifths(low), fifths(high));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_blendv_epi8(averages, taps[0], alpha));
    }
    return i;
}

}  // namespace rotated_taps

TX_END_AVX2
