#include "lib/Common/PowerOfTwo.h"

#include <immintrin.h>

#include <cmath>

#include "lib/Common/simd/Cpu.h"
#include "lib/Common/simd/TargetAvx2.h"

TX_BEGIN_AVX2
namespace {

// 2^x = 2^k sqrt(2) e^g with k = floor(x) and g = (x - k - 1/2) ln 2, |g| < 0.347, where
// thirteen terms of e^g's series leave less than 2e-16.
__m256d exp2Lanes(__m256d x) {
    x = _mm256_max_pd(x, _mm256_set1_pd(-1100.0));  // minus infinity too
    const __m256d k = _mm256_floor_pd(x);
    const __m256d g = _mm256_mul_pd(_mm256_sub_pd(_mm256_sub_pd(x, k), _mm256_set1_pd(0.5)),
                                    _mm256_set1_pd(0.6931471805599453094));
    static constexpr double kInverseFactorials[] = {
        1.0 / 479001600.0, 1.0 / 39916800.0, 1.0 / 3628800.0, 1.0 / 362880.0, 1.0 / 40320.0, 1.0 / 5040.0, 1.0 / 720.0,
        1.0 / 120.0,       1.0 / 24.0,       1.0 / 6.0,       0.5,            1.0,          1.0};
    __m256d series = _mm256_set1_pd(kInverseFactorials[0]);
    for (int j = 1; j < 13; ++j)
        series = _mm256_add_pd(_mm256_mul_pd(series, g), _mm256_set1_pd(kInverseFactorials[j]));
    const __m256d mantissa = _mm256_mul_pd(series, _mm256_set1_pd(1.4142135623730950488));
    // 2^k from its exponent bits; k below -1022 gives 0.
    const __m256i biased = _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_cvttpd_epi32(k)), _mm256_set1_epi64x(1023));
    const __m256d scaled = _mm256_mul_pd(mantissa, _mm256_castsi256_pd(_mm256_slli_epi64(biased, 52)));
    return _mm256_andnot_pd(_mm256_cmp_pd(k, _mm256_set1_pd(-1022.0), _CMP_LT_OQ), scaled);
}

void exp2InLanes(const double* x, double* out, int32_t count) {
    int32_t k = 0;
    for (; k + 4 <= count; k += 4)
        _mm256_storeu_pd(out + k, exp2Lanes(_mm256_loadu_pd(x + k)));
    if (k < count) {
        alignas(32) double last[4] = {0.0, 0.0, 0.0, 0.0};
        for (int32_t i = k; i < count; ++i)
            last[i - k] = x[i];
        _mm256_store_pd(last, exp2Lanes(_mm256_load_pd(last)));
        for (int32_t i = k; i < count; ++i)
            out[i] = last[i - k];
    }
}

}  // namespace
TX_END_AVX2

void Exp2Near(const double* x, double* out, int32_t count) {
    if (cpu::hasAvx2()) {
        exp2InLanes(x, out, count);
        return;
    }
    for (int32_t k = 0; k < count; ++k)
        out[k] = std::exp2(x[k]);
}
