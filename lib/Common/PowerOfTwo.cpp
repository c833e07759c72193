#include "lib/Common/PowerOfTwo.h"

#include <immintrin.h>

#include <cmath>
#include <initializer_list>

#include "lib/Common/ChannelTables.h"
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

// The lane path at two widths. GCC's AVX-512 headers warn of uninitialised values inside
// their 64-bit lane conversions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

TX_BEGIN_AVX2_FMA
namespace four_lanes {
namespace {

struct D {
    using V = __m256d;
    static constexpr int kLanes = 4;
    static V set(double v) { return _mm256_set1_pd(v); }
    static V load(const double* p) { return _mm256_loadu_pd(p); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static V max(V a, V b) { return _mm256_max_pd(a, b); }
    static V floor(V a) { return _mm256_floor_pd(a); }
    static unsigned nonZero(V a) { return unsigned(_mm256_movemask_pd(_mm256_cmp_pd(a, _mm256_setzero_pd(), _CMP_NEQ_UQ))); }
    static V gather(const double* table, const uint32_t* at) {
        return _mm256_setr_pd(table[at[0]], table[at[1]], table[at[2]], table[at[3]]);
    }
    // m 2^k for whole k, from 2^k's exponent bits; 0 where k is below -1022.
    static V timesPowerOfTwo(V m, V k) {
        const __m256i biased = _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_cvttpd_epi32(k)), _mm256_set1_epi64x(1023));
        const V scaled = _mm256_mul_pd(m, _mm256_castsi256_pd(_mm256_slli_epi64(biased, 52)));
        return _mm256_andnot_pd(_mm256_cmp_pd(k, _mm256_set1_pd(-1022.0), _CMP_LT_OQ), scaled);
    }
    // Each level truncated (held to `top`) and its fraction; the lanes whose fraction lies
    // below `low` or above `high`.
    static unsigned levelsAndFractions(V level, int32_t top, V low, V high, int32_t* held, double* fractions) {
        const __m128i n = _mm256_cvttpd_epi32(level);
        const V fraction = _mm256_sub_pd(level, _mm256_cvtepi32_pd(n));
        _mm_store_si128(reinterpret_cast<__m128i*>(held), _mm_min_epi32(n, _mm_set1_epi32(top)));
        _mm256_store_pd(fractions, fraction);
        return unsigned(_mm256_movemask_pd(
            _mm256_or_pd(_mm256_cmp_pd(fraction, low, _CMP_LT_OQ), _mm256_cmp_pd(fraction, high, _CMP_GT_OQ))));
    }
};

#include "lib/Common/PowerLanes.inc"

// Four pixels a step, each colour channel's samples in one vector.
template <class Tag>
void raiseInLanes(typename Tag::Channel* px, const double* exponents, const double* logs, int32_t count,
                  const Before<Tag>& before) {
    using F = typename Tag::FORMAT;
    using V = typename D::V;
    constexpr int L = D::kLanes;
    constexpr unsigned kAll = (1u << L) - 1;
    constexpr int channels[3] = {F::R, F::G, F::B};
    const V white = D::set(double(Tag::white)), half = D::set(0.5);
    const V low = D::set(kMargin), high = D::set(1.0 - kMargin);
    int32_t x = 0;
    for (; x + L <= count; x += L) {
        const V e = D::load(exponents + x);
        const unsigned touched = D::nonZero(e);
        typename Tag::Channel* p = px + 4 * x;
        if (touched == 0) {
            raisePlain<Tag>(p, exponents + x, logs, L, before);  // the tables alone, if any
            continue;
        }
        alignas(64) uint32_t i[3][L];
        V level[3];
        for (int c = 0; c < 3; ++c) {
            for (int j = 0; j < L; ++j) {
                typename Tag::Channel& v = p[4 * j + channels[c]];
                v = before(c, v);  // untouched pixels keep this
                i[c][j] = heldSample<Tag>(v);
            }
            // Untouched lanes (exponent 0) may make NaN here; their results are not kept.
            level[c] = D::mul(D::gather(logs, i[c]), e);
        }
        exp2Lanes(level);
        for (int c = 0; c < 3; ++c) {
            const int k = channels[c];
            level[c] = D::add(D::mul(level[c], white), half);
            alignas(64) int32_t held[L];
            alignas(64) double fractions[L];
            const unsigned near = D::levelsAndFractions(level[c], Tag::white, low, high, held, fractions);
            if ((near & touched) == 0 && touched == kAll) {
                for (int j = 0; j < L; ++j)
                    p[4 * j + k] = typename Tag::Channel(held[j]);
                continue;
            }
            for (int j = 0; j < L; ++j)
                if (touched >> j & 1)
                    p[4 * j + k] = near >> j & 1 ? exactLevel<Tag>(held[j], fractions[j], i[c][j], exponents[x + j])
                                                 : typename Tag::Channel(held[j]);
        }
    }
    raisePlain<Tag>(px + 4 * x, exponents + x, logs, count - x, before);
}

}  // namespace
}  // namespace four_lanes
TX_END_AVX2

TX_BEGIN_AVX512
namespace eight_lanes {
namespace {

struct D {
    using V = __m512d;
    static constexpr int kLanes = 8;
    static V set(double v) { return _mm512_set1_pd(v); }
    static V load(const double* p) { return _mm512_loadu_pd(p); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static V max(V a, V b) { return _mm512_max_pd(a, b); }
    static V floor(V a) { return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
    static unsigned nonZero(V a) { return _mm512_cmp_pd_mask(a, _mm512_setzero_pd(), _CMP_NEQ_UQ); }
    static V timesPowerOfTwo(V m, V k) {
        const __m512i biased = _mm512_add_epi64(_mm512_cvtepi32_epi64(_mm512_cvttpd_epi32(k)), _mm512_set1_epi64(1023));
        const V scaled = _mm512_mul_pd(m, _mm512_castsi512_pd(_mm512_slli_epi64(biased, 52)));
        return _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(k, _mm512_set1_pd(-1022.0), _CMP_NLT_UQ), scaled);
    }
};

#include "lib/Common/PowerLanes.inc"

// The 16-bit sample at `shift` bits of each of eight four-sample pixels, as 32-bit lanes.
inline __m256i samplesAt(__m512i pixels, int shift) {
    return _mm256_and_si256(_mm512_cvtepi64_epi32(_mm512_srl_epi64(pixels, _mm_cvtsi32_si128(shift))),
                            _mm256_set1_epi32(0xffff));
}

// The pixels with the sample at `shift` bits replaced by `samples` in the lanes of `keep`.
inline __m512i withSamplesAt(__m512i pixels, __mmask8 keep, __m256i samples, int shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m512i cleared = _mm512_andnot_si512(_mm512_sll_epi64(_mm512_set1_epi64(0xffff), count), pixels);
    return _mm512_mask_or_epi64(pixels, keep, cleared, _mm512_sll_epi64(_mm512_cvtepu32_epi64(samples), count));
}

// Eight pixels a step, read and written whole: the samples leave their pixels, find their
// logarithms by gathers and come back under masks, so that only the powers near a rounding
// boundary take a sample at a time.
template <class Tag>
void raiseInLanes(typename Tag::Channel* px, const double* exponents, const double* logs, int32_t count,
                  const Before<Tag>& before) {
    using F = typename Tag::FORMAT;
    constexpr int channels[3] = {F::R, F::G, F::B};
    const __m512d white = _mm512_set1_pd(double(Tag::white)), half = _mm512_set1_pd(0.5);
    const __m512d low = _mm512_set1_pd(kMargin), high = _mm512_set1_pd(1.0 - kMargin);
    const __m256i top = _mm256_set1_epi32(Tag::white);
    // The tables first, over the whole run while it is in cache: gathers of their 16-bit
    // entries, or loads one by one into the lanes, measured slower than this pass.
    if (before.tables && count > 0) {
        RasterDesc run;
        run.pixels = reinterpret_cast<uint8_t*>(px);
        run.width = count, run.height = 1;
        run.bytesPerPixel = 4 * sizeof(typename Tag::Channel);
        run.rowBytes = count * int32_t(run.bytesPerPixel);
        ApplyChannelTables<Tag>(run, before.tables, int32_t(before.last));
    }
    const Before<Tag> none{nullptr, 0};
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m512d e = _mm512_loadu_pd(exponents + x);
        const __mmask8 touched = _mm512_cmp_pd_mask(e, _mm512_setzero_pd(), _CMP_NEQ_UQ);
        if (touched == 0)
            continue;
        typename Tag::Channel* p = px + 4 * x;
        __m512i pixels = _mm512_loadu_si512(p);
        __m256i sample[3];
        __m512d level[3];
        for (int c = 0; c < 3; ++c) {
            sample[c] = _mm256_min_epu32(samplesAt(pixels, 16 * channels[c]), top);
            // Untouched lanes (exponent 0) may make NaN here; their results are not kept.
            level[c] = _mm512_mul_pd(_mm512_i32gather_pd(sample[c], logs, 8), e);
        }
        exp2Lanes(level);
        __mmask8 near[3];
        __m256i levels[3];
        __m512d fraction[3];
        for (int c = 0; c < 3; ++c) {
            level[c] = _mm512_add_pd(_mm512_mul_pd(level[c], white), half);
            levels[c] = _mm512_cvttpd_epi32(level[c]);
            fraction[c] = _mm512_sub_pd(level[c], _mm512_cvtepi32_pd(levels[c]));
            near[c] = _mm512_cmp_pd_mask(fraction[c], low, _CMP_LT_OQ) | _mm512_cmp_pd_mask(fraction[c], high, _CMP_GT_OQ);
            levels[c] = _mm256_min_epi32(levels[c], top);
            pixels = withSamplesAt(pixels, touched, levels[c], 16 * channels[c]);
        }
        _mm512_storeu_si512(p, pixels);
        for (int c = 0; c < 3; ++c) {
            if ((near[c] & touched) == 0)
                continue;
            alignas(32) int32_t held[8], index[8];
            alignas(64) double fractions[8];
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(held), levels[c]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(index), sample[c]);
            _mm512_storeu_pd(fractions, fraction[c]);
            for (int j = 0; j < 8; ++j)
                if ((near[c] & touched) >> j & 1)
                    p[4 * j + channels[c]] = exactLevel<Tag>(held[j], fractions[j], uint32_t(index[j]), exponents[x + j]);
        }
    }
    raisePlain<Tag>(px + 4 * x, exponents + x, logs, count - x, none);
}

}  // namespace
}  // namespace eight_lanes
TX_END_AVX2

template <class Tag>
void RaiseToPowers(typename Tag::Channel* pixels, const double* exponents, const double* logs, int32_t count,
                   const typename Tag::Channel* const* before, int32_t beforeWhite) {
    const Before<Tag> tables{before, uint32_t(beforeWhite)};
    if (cpu::hasAvx512())
        eight_lanes::raiseInLanes<Tag>(pixels, exponents, logs, count, tables);
    else if (cpu::hasFma())
        four_lanes::raiseInLanes<Tag>(pixels, exponents, logs, count, tables);
    else
        raisePlain<Tag>(pixels, exponents, logs, count, tables);
}

template void RaiseToPowers<PIXEL_ARGB14>(uint16_t*, const double*, const double*, int32_t, const uint16_t* const*,
                                          int32_t);
template void RaiseToPowers<PIXEL_BGRA14>(uint16_t*, const double*, const double*, int32_t, const uint16_t* const*,
                                          int32_t);
