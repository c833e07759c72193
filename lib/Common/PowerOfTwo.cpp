#include "lib/Common/PowerOfTwo.h"

#include <immintrin.h>

#include <cmath>
#include <initializer_list>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/simd/Cpu.h"
#include "lib/Common/simd/TargetAvx2.h"

namespace {

// A power within this of a rounding boundary, scaled to levels, is settled by pow itself; the
// powers of two here miss by far less (3e-10 relative, 5e-6 at white).
constexpr double kMargin = 1e-5;

// Samples above white (a host out of range) count as white.
template <class Tag>
uint32_t heldSample(typename Tag::Channel v) {
    return v < Tag::white ? uint32_t(v) : uint32_t(Tag::white);
}

// The level of x = white * power + 0.5, truncated, unless x lies within the margin of a whole
// number: then the level pow gives for sample i.
template <class Tag>
typename Tag::Channel exactLevel(int32_t n, double fraction, uint32_t i, double exponent) {
    constexpr double white = Tag::white;
    if (fraction < kMargin || fraction > 1.0 - kMargin)
        n = int32_t(white * std::pow(double(i) / white, exponent) + 0.5);
    return typename Tag::Channel(n < Tag::white ? n : Tag::white);
}

// The channel tables a stage before handed over, or none.
template <class Tag>
struct Before {
    using Channel = typename Tag::Channel;
    const Channel* const* tables;
    uint32_t last;

    // Sample v of channel c (0 R, 1 G, 2 B) through its table.
    Channel operator()(int c, Channel v) const { return tables ? tables[c][v < last ? v : last] : v; }
};

template <class Tag>
void raisePlain(typename Tag::Channel* px, const double* exponents, const double* logs, int32_t count,
                const Before<Tag>& before) {
    using F = typename Tag::FORMAT;
    constexpr int channels[3] = {F::R, F::G, F::B};
    for (int32_t x = 0; x < count; ++x, px += 4) {
        const double e = exponents[x];
        for (int c = 0; c < 3; ++c)
            px[channels[c]] = before(c, px[channels[c]]);
        if (e == 0.0)
            continue;
        for (int k : channels) {
            const uint32_t i = heldSample<Tag>(px[k]);
            // x lies in 0.5 .. white + 0.5, so the conversions are plain truncations.
            const double level = double(Tag::white) * std::exp2(logs[i] * e) + 0.5;
            const int32_t n = int32_t(level);
            px[k] = exactLevel<Tag>(n, level - double(n), i, e);
        }
    }
}

}  // namespace

TX_BEGIN_AVX2_FMA
namespace {

// x[n] = 2^x[n] for the N vectors at once, their steps interleaved so that the series of one
// runs while another's waits on its last step. 2^x = 2^k sqrt(2) e^g with k = floor(x) and
// g = (x - k - 1/2) ln 2, |g| < 0.347, where nine terms of e^g's series leave less than
// 3e-10. For x <= 0 (minus infinity included); below -1022 the result is 0. Inlined, so that
// the vectors stay in registers rather than go through memory at each call.
template <int N>
inline __attribute__((always_inline)) void exp2Lanes(__m256d (&x)[N]) {
    static constexpr double kInverseFactorials[] = {1.0 / 40320.0, 1.0 / 5040.0, 1.0 / 720.0, 1.0 / 120.0, 1.0 / 24.0,
                                                    1.0 / 6.0,     0.5,          1.0,         1.0};
    constexpr int kTerms = sizeof(kInverseFactorials) / sizeof(kInverseFactorials[0]);
    __m256d k[N], g[N], series[N];
    for (int n = 0; n < N; ++n) {
        x[n] = _mm256_max_pd(x[n], _mm256_set1_pd(-1100.0));  // minus infinity too
        k[n] = _mm256_floor_pd(x[n]);
        g[n] = _mm256_mul_pd(_mm256_sub_pd(_mm256_sub_pd(x[n], k[n]), _mm256_set1_pd(0.5)),
                             _mm256_set1_pd(0.6931471805599453094));
    }
    // Estrin's scheme: pairs, then quadruples, then the last term, so that the longest chain is
    // five steps rather than eight.
    static_assert(kTerms == 9);
    __m256d c[kTerms];  // c[i]: the coefficient of g^i
    for (int i = 0; i < kTerms; ++i) c[i] = _mm256_set1_pd(kInverseFactorials[kTerms - 1 - i]);
    for (int n = 0; n < N; ++n) {
        const __m256d g2 = _mm256_mul_pd(g[n], g[n]), g4 = _mm256_mul_pd(g2, g2);
        const __m256d p01 = _mm256_fmadd_pd(c[1], g[n], c[0]), p23 = _mm256_fmadd_pd(c[3], g[n], c[2]);
        const __m256d p45 = _mm256_fmadd_pd(c[5], g[n], c[4]), p67 = _mm256_fmadd_pd(c[7], g[n], c[6]);
        const __m256d p03 = _mm256_fmadd_pd(p23, g2, p01), p47 = _mm256_fmadd_pd(p67, g2, p45);
        series[n] = _mm256_fmadd_pd(_mm256_fmadd_pd(c[8], g4, p47), g4, p03);
    }
    for (int n = 0; n < N; ++n) {
        const __m256d mantissa = _mm256_mul_pd(series[n], _mm256_set1_pd(1.4142135623730950488));
        // 2^k from its exponent bits; k below -1022 gives 0.
        const __m256i biased =
            _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_cvttpd_epi32(k[n])), _mm256_set1_epi64x(1023));
        const __m256d scaled = _mm256_mul_pd(mantissa, _mm256_castsi256_pd(_mm256_slli_epi64(biased, 52)));
        x[n] = _mm256_andnot_pd(_mm256_cmp_pd(k[n], _mm256_set1_pd(-1022.0), _CMP_LT_OQ), scaled);
    }
}

// Four pixels a step, each colour channel's four samples in one vector.
template <class Tag>
void raiseInLanes(typename Tag::Channel* px, const double* exponents, const double* logs, int32_t count,
                  const Before<Tag>& before) {
    using F = typename Tag::FORMAT;
    const __m256d white = _mm256_set1_pd(double(Tag::white)), half = _mm256_set1_pd(0.5);
    const __m256d low = _mm256_set1_pd(kMargin), high = _mm256_set1_pd(1.0 - kMargin);
    const __m128i top = _mm_set1_epi32(Tag::white);
    int32_t x = 0;
    for (; x + 4 <= count; x += 4) {
        const __m256d e = _mm256_loadu_pd(exponents + x);
        const int touched = _mm256_movemask_pd(_mm256_cmp_pd(e, _mm256_setzero_pd(), _CMP_NEQ_UQ));
        typename Tag::Channel* p = px + 4 * x;
        constexpr int channels[3] = {F::R, F::G, F::B};
        if (touched == 0) {
            raisePlain<Tag>(p, exponents + x, logs, 4, before);  // the tables alone, if any
            continue;
        }
        uint32_t i[3][4];
        __m256d level[3];
        for (int c = 0; c < 3; ++c) {
            for (int j = 0; j < 4; ++j) {
                typename Tag::Channel& v = p[4 * j + channels[c]];
                v = before(c, v);  // untouched pixels keep this
                i[c][j] = heldSample<Tag>(v);
            }
            // Untouched lanes (exponent 0) may make NaN here; their results are not kept.
            level[c] = _mm256_mul_pd(_mm256_setr_pd(logs[i[c][0]], logs[i[c][1]], logs[i[c][2]], logs[i[c][3]]), e);
        }
        exp2Lanes(level);
        for (int c = 0; c < 3; ++c) {
            const int k = channels[c];
            level[c] = _mm256_add_pd(_mm256_mul_pd(level[c], white), half);
            const __m128i n = _mm256_cvttpd_epi32(level[c]);
            const __m256d fraction = _mm256_sub_pd(level[c], _mm256_cvtepi32_pd(n));
            const int near = _mm256_movemask_pd(_mm256_or_pd(_mm256_cmp_pd(fraction, low, _CMP_LT_OQ),
                                                             _mm256_cmp_pd(fraction, high, _CMP_GT_OQ)));
            alignas(16) int32_t held[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(held), _mm_min_epi32(n, top));
            if ((near & touched) == 0 && touched == 15) {
                for (int j = 0; j < 4; ++j)
                    p[4 * j + k] = typename Tag::Channel(held[j]);
                continue;
            }
            alignas(32) double fractions[4];
            _mm256_store_pd(fractions, fraction);
            for (int j = 0; j < 4; ++j)
                if (touched >> j & 1)
                    p[4 * j + k] = near >> j & 1 ? exactLevel<Tag>(held[j], fractions[j], i[c][j], exponents[x + j])
                                                 : typename Tag::Channel(held[j]);
        }
    }
    raisePlain<Tag>(px + 4 * x, exponents + x, logs, count - x, before);
}

}  // namespace
TX_END_AVX2

template <class Tag>
void RaiseToPowers(typename Tag::Channel* pixels, const double* exponents, const double* logs, int32_t count,
                   const typename Tag::Channel* const* before, int32_t beforeWhite) {
    const Before<Tag> tables{before, uint32_t(beforeWhite)};
    if (cpu::hasFma())
        raiseInLanes<Tag>(pixels, exponents, logs, count, tables);
    else
        raisePlain<Tag>(pixels, exponents, logs, count, tables);
}

template void RaiseToPowers<PIXEL_ARGB14>(uint16_t*, const double*, const double*, int32_t, const uint16_t* const*,
                                          int32_t);
template void RaiseToPowers<PIXEL_BGRA14>(uint16_t*, const double*, const double*, int32_t, const uint16_t* const*,
                                          int32_t);
