// Moving-average passes of radius r: each output sample is trunc(sum * (1.0 / (2r + 1))) over
// the 2r + 1 samples centred on it, coordinates beyond the edges taken at the edge. The sums
// run: the sample entering the window is added and the one leaving it removed, so the cost
// does not grow with the radius.
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PlainBlend.h"
#include "lib/Common/simd/Cpu.h"
#include "lib/Common/simd/TargetAvx2.h"

// ---- The AVX2 width: the same sums and the same double products, eight samples a vector ----

#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
TX_BEGIN_AVX2
namespace wide_lanes {
namespace {

// trunc(sum * reciprocal) of four sums, each product in double as the plain pass forms it.
inline __m128i averagesOf(__m128i sums, __m256d reciprocal) {
    return _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(sums), reciprocal));
}

// Eight samples in memory order, widened to 32-bit lanes.
template <class Tag>
__m256i samplesAt(const typename Tag::Channel* at) {
    if constexpr (kIs16Bit<Tag>)
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
    else
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)));
}

// One pixel of row a (low half) and the pixel of row b at the same column (high half).
template <class Tag>
__m256i pixelPair(const typename Tag::Channel* a, const typename Tag::Channel* b) {
    if constexpr (kIs16Bit<Tag>) {
        return _mm256_cvtepu16_epi32(_mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b))));
    } else {
        int32_t first, second;
        std::memcpy(&first, a, 4);
        std::memcpy(&second, b, 4);
        return _mm256_cvtepu8_epi32(_mm_unpacklo_epi32(_mm_cvtsi32_si128(first), _mm_cvtsi32_si128(second)));
    }
}

// The averages of one pixel of each of two rows. Averages never exceed the largest sample
// (65535 in 16-bit rasters holding values past white), so the unsigned packs are exact.
template <class Tag>
void storePair(typename Tag::Channel* a, typename Tag::Channel* b, __m128i averagesA, __m128i averagesB) {
    if constexpr (kIs16Bit<Tag>) {
        const __m128i words = _mm_packus_epi32(averagesA, averagesB);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(a), words);
        // Rows of 16-bit pixels are 2-byte aligned only: a 64-bit integer store, which may be
        // unaligned, rather than a double's.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(b), _mm_unpackhi_epi64(words, words));
    } else {
        const __m128i words = _mm_packs_epi32(averagesA, averagesB);
        const __m128i bytes = _mm_packus_epi16(words, words);
        const int32_t first = _mm_cvtsi128_si32(bytes), second = _mm_extract_epi32(bytes, 1);
        std::memcpy(a, &first, 4);
        std::memcpy(b, &second, 4);
    }
}

// Four neighbouring pixels of row a and the four below them in row b, as four pairs.
template <class Tag>
void fourPairs(const typename Tag::Channel* a, const typename Tag::Channel* b, __m256i (&pairs)[4]) {
    if constexpr (kIs16Bit<Tag>) {
        const __m128i a01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        const __m128i a23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8));
        const __m128i b01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        const __m128i b23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8));
        pairs[0] = _mm256_cvtepu16_epi32(_mm_unpacklo_epi64(a01, b01));
        pairs[1] = _mm256_cvtepu16_epi32(_mm_unpackhi_epi64(a01, b01));
        pairs[2] = _mm256_cvtepu16_epi32(_mm_unpacklo_epi64(a23, b23));
        pairs[3] = _mm256_cvtepu16_epi32(_mm_unpackhi_epi64(a23, b23));
    } else {
        const __m128i rowA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        const __m128i rowB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        const __m128i first = _mm_unpacklo_epi32(rowA, rowB), second = _mm_unpackhi_epi32(rowA, rowB);
        pairs[0] = _mm256_cvtepu8_epi32(first);
        pairs[1] = _mm256_cvtepu8_epi32(_mm_srli_si128(first, 8));
        pairs[2] = _mm256_cvtepu8_epi32(second);
        pairs[3] = _mm256_cvtepu8_epi32(_mm_srli_si128(second, 8));
    }
}

// The averages of four neighbouring pixels of one row.
template <class Tag>
void storeFour(typename Tag::Channel* at, __m128i a0, __m128i a1, __m128i a2, __m128i a3) {
    if constexpr (kIs16Bit<Tag>) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_packus_epi32(a0, a1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 8), _mm_packus_epi32(a2, a3));
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_packus_epi16(_mm_packs_epi32(a0, a1), _mm_packs_epi32(a2, a3)));
    }
}

// A row's columns in at most three stretches, each run with its clamping fixed: both clamps
// flip once, the entering one from inside to outside (at enteringEnd) and the leaving one from
// outside to inside (at leavingStart).
template <class Run>
void inStretches(int32_t width, int32_t enteringEnd, int32_t leavingStart, const Run& run) {
    int32_t x = 0;
    while (x < width) {
        const bool enteringInside = x < enteringEnd, leavingInside = x >= leavingStart;
        int32_t end = width;
        if (enteringInside)
            end = std::min(end, enteringEnd);
        if (!leavingInside)
            end = std::min(end, leavingStart);
        if (enteringInside && leavingInside)
            run.template operator()<true, true>(x, end);
        else if (enteringInside)
            run.template operator()<true, false>(x, end);
        else if (leavingInside)
            run.template operator()<false, true>(x, end);
        else
            run.template operator()<false, false>(x, end);
        x = end;
    }
}

// Two rows side by side, one pixel of each a vector: the running sums of a row are one serial
// chain, and two chains in one vector share each conversion. Columns are taken four at a time
// wherever the four share their clamping: an entering sample past the end is the last pixel
// and a leaving one before the start the first, so a clamped side is one pixel repeated and
// the other side four neighbours. A and b may be the same row (an odd row count's last),
// written twice alike.
template <class Tag>
void horizontalRowPair(const typename Tag::Channel* inA, const typename Tag::Channel* inB, typename Tag::Channel* outA,
                       typename Tag::Channel* outB, int32_t width, int64_t radius, int32_t reach, __m256d reciprocal) {
    const int32_t inside = int32_t(std::min<int64_t>(radius, width - 1));
    const int32_t last = 4 * (width - 1);
    const __m256i firstPixels = pixelPair<Tag>(inA, inB), lastPixels = pixelPair<Tag>(inA + last, inB + last);
    __m256i sum = _mm256_mullo_epi32(firstPixels, _mm256_set1_epi32(int32_t(radius + 1)));
    int32_t i = 1;
    for (; i + 4 <= inside + 1; i += 4) {
        __m256i pairs[4];
        fourPairs<Tag>(inA + 4 * i, inB + 4 * i, pairs);
        sum = _mm256_add_epi32(sum, _mm256_add_epi32(_mm256_add_epi32(pairs[0], pairs[1]), _mm256_add_epi32(pairs[2], pairs[3])));
    }
    for (; i <= inside; ++i)
        sum = _mm256_add_epi32(sum, pixelPair<Tag>(inA + 4 * i, inB + 4 * i));
    sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(lastPixels, _mm256_set1_epi32(int32_t(radius - inside))));

    // Column x's entering sample x + reach + 1 lies inside the row before column `enteringEnd`,
    // its leaving sample x - reach from column `leavingStart` on.
    const int32_t enteringEnd = width - reach - 1, leavingStart = reach;
    const auto run = [&]<bool enteringInside, bool leavingInside>(int32_t x, int32_t end) {
        for (; x + 4 <= end; x += 4) {
            __m256i entering[4], leaving[4], sums[4];
            if constexpr (enteringInside)
                fourPairs<Tag>(inA + 4 * (x + reach + 1), inB + 4 * (x + reach + 1), entering);
            else
                entering[0] = entering[1] = entering[2] = entering[3] = lastPixels;
            if constexpr (leavingInside)
                fourPairs<Tag>(inA + 4 * (x - reach), inB + 4 * (x - reach), leaving);
            else
                leaving[0] = leaving[1] = leaving[2] = leaving[3] = firstPixels;
            for (int k = 0; k < 4; ++k) {
                sums[k] = sum;
                sum = _mm256_add_epi32(sum, _mm256_sub_epi32(entering[k], leaving[k]));
            }
            __m128i a[4], b[4];
            for (int k = 0; k < 4; ++k) {
                a[k] = averagesOf(_mm256_castsi256_si128(sums[k]), reciprocal);
                b[k] = averagesOf(_mm256_extracti128_si256(sums[k], 1), reciprocal);
            }
            storeFour<Tag>(outA + 4 * x, a[0], a[1], a[2], a[3]);
            storeFour<Tag>(outB + 4 * x, b[0], b[1], b[2], b[3]);
        }
        for (; x < end; ++x) {
            storePair<Tag>(outA + 4 * x, outB + 4 * x, averagesOf(_mm256_castsi256_si128(sum), reciprocal),
                           averagesOf(_mm256_extracti128_si256(sum, 1), reciprocal));
            const __m256i entering =
                enteringInside ? pixelPair<Tag>(inA + 4 * (x + reach + 1), inB + 4 * (x + reach + 1)) : lastPixels;
            const __m256i leaving = leavingInside ? pixelPair<Tag>(inA + 4 * (x - reach), inB + 4 * (x - reach)) : firstPixels;
            sum = _mm256_add_epi32(sum, _mm256_sub_epi32(entering, leaving));
        }
    };
    inStretches(width, enteringEnd, leavingStart, run);
}

template <class Tag>
void horizontalPass(const RasterDesc& from, const RasterDesc& to, int32_t width, int32_t height, int64_t radius) {
    const __m256d reciprocal = _mm256_set1_pd(1.0 / double(2 * radius + 1));
    const int32_t reach = int32_t(std::min<int64_t>(radius, width));
    for (int32_t y = 0; y < height; y += 2) {
        const int32_t b = std::min(y + 1, height - 1);
        horizontalRowPair<Tag>(rowOf<Tag>(from, y), rowOf<Tag>(from, b), rowOf<Tag>(to, y), rowOf<Tag>(to, b), width, radius,
                               reach, reciprocal);
    }
}

// The column sums of the window centred on row 0 (r + 1 copies of row 0, rows 1..inside, and
// the last row for the rest, read only when the window reaches past it), 32 samples at a time
// held in registers down the rows.
template <class Tag>
void startingColumnSums(const RasterDesc& from, int32_t* sum, int32_t samples, int64_t radius, int32_t inside,
                        int32_t height) {
    using Channel = typename Tag::Channel;
    const Channel* first = rowOf<Tag>(from, 0);
    const Channel* last = rowOf<Tag>(from, height - 1);
    const __m256i firstCopies = _mm256_set1_epi32(int32_t(radius + 1)), lastCopies = _mm256_set1_epi32(int32_t(radius - inside));
    int32_t i = 0;
    for (; i + 32 <= samples; i += 32) {
        __m256i columns[4];
        for (int k = 0; k < 4; ++k)
            columns[k] = _mm256_mullo_epi32(samplesAt<Tag>(first + i + 8 * k), firstCopies);
        for (int32_t y = 1; y <= inside; ++y) {
            const Channel* row = rowOf<Tag>(from, y) + i;
            for (int k = 0; k < 4; ++k)
                columns[k] = _mm256_add_epi32(columns[k], samplesAt<Tag>(row + 8 * k));
        }
        for (int k = 0; k < 4; ++k) {
            if (radius > inside)
                columns[k] = _mm256_add_epi32(columns[k], _mm256_mullo_epi32(samplesAt<Tag>(last + i + 8 * k), lastCopies));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i + 8 * k), columns[k]);
        }
    }
    for (; i < samples; ++i) {
        int32_t column = int32_t(first[i]) * int32_t(radius + 1);
        for (int32_t y = 1; y <= inside; ++y)
            column += rowOf<Tag>(from, y)[i];
        sum[i] = radius > inside ? column + int32_t(last[i]) * int32_t(radius - inside) : column;
    }
}

// One output row of the vertical pass from the column sums, and the sums moved down a row:
// the sums of a row are independent, sixteen at a time.
template <class Tag>
void verticalRow(const typename Tag::Channel* entering, const typename Tag::Channel* leaving, typename Tag::Channel* out,
                 int32_t* sum, int32_t samples, double reciprocal) {
    using Channel = typename Tag::Channel;
    const __m256d lanes = _mm256_set1_pd(reciprocal);
    int32_t i = 0;
    for (; i + 16 <= samples; i += 16) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum + i));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum + i + 8));
        const __m128i a0 = averagesOf(_mm256_castsi256_si128(first), lanes);
        const __m128i a1 = averagesOf(_mm256_extracti128_si256(first, 1), lanes);
        const __m128i a2 = averagesOf(_mm256_castsi256_si128(second), lanes);
        const __m128i a3 = averagesOf(_mm256_extracti128_si256(second, 1), lanes);
        if constexpr (kIs16Bit<Tag>) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi32(a0, a1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_packus_epi32(a2, a3));
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm_packus_epi16(_mm_packs_epi32(a0, a1), _mm_packs_epi32(a2, a3)));
        }
        const __m256i moved0 = _mm256_sub_epi32(samplesAt<Tag>(entering + i), samplesAt<Tag>(leaving + i));
        const __m256i moved1 = _mm256_sub_epi32(samplesAt<Tag>(entering + i + 8), samplesAt<Tag>(leaving + i + 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i), _mm256_add_epi32(first, moved0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i + 8), _mm256_add_epi32(second, moved1));
    }
    for (; i < samples; ++i) {
        out[i] = Channel(double(sum[i]) * reciprocal);
        sum[i] += int32_t(entering[i]) - int32_t(leaving[i]);
    }
}

// 8-bit windows of up to 257 samples sum within 16 bits, and their averages are a high product
// and a shift there: a multiplier and shift found for the window and checked against the double
// product for every sum it can hold, or none. Both are steps rising with the sum, the double
// product's at q n or q n + 1 (where 1/n rounds low), so agreeing on either side of each q n
// they agree throughout.
struct ShortQuotient {
    uint32_t multiplier = 0;
    int shift = 0;  // past the high product's 16

    explicit operator bool() const { return multiplier != 0; }
    uint32_t of(uint32_t sum) const { return (sum * multiplier) >> (16 + shift); }
};

ShortQuotient shortQuotientFor(int64_t radius) {
    const int64_t window = 2 * radius + 1;
    if (radius < 1 || window * 255 > 65535)
        return {};
    const double reciprocal = 1.0 / double(window);
    const uint32_t largest = uint32_t(window * 255);
    for (int shift = 0; shift < 16; ++shift) {
        const uint64_t multiplier = ((uint64_t(1) << (16 + shift)) + uint64_t(window) - 1) / uint64_t(window);
        if (multiplier > 65535)
            break;
        const ShortQuotient q{uint32_t(multiplier), shift};
        const auto agrees = [&](uint32_t sum) {
            return sum > largest || q.of(sum) == uint32_t(double(sum) * reciprocal);
        };
        bool all = agrees(0);
        for (uint32_t step = uint32_t(window); all && step <= largest; step += uint32_t(window))
            all = agrees(step - 1) && agrees(step) && agrees(step + 1);
        if (all)
            return q;
    }
    return {};
}

// Sixteen bytes widened to 16-bit lanes.
inline __m256i widenedBytes(const uint8_t* at) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
}

// The column sums of the window centred on row 0, as startingColumnSums gives them, in 16 bits.
template <class Tag>
void startingShortSums(const RasterDesc& from, uint16_t* sum, int32_t samples, int64_t radius, int32_t inside,
                       int32_t height) {
    static_assert(!kIs16Bit<Tag>);
    const uint8_t* first = rowOf<Tag>(from, 0);
    const uint8_t* last = rowOf<Tag>(from, height - 1);
    const __m256i firstCopies = _mm256_set1_epi16(int16_t(radius + 1));
    const __m256i lastCopies = _mm256_set1_epi16(int16_t(radius - inside));
    int32_t i = 0;
    for (; i + 32 <= samples; i += 32) {
        __m256i columns[2];
        for (int k = 0; k < 2; ++k) columns[k] = _mm256_mullo_epi16(widenedBytes(first + i + 16 * k), firstCopies);
        for (int32_t y = 1; y <= inside; ++y) {
            const uint8_t* row = rowOf<Tag>(from, y) + i;
            for (int k = 0; k < 2; ++k) columns[k] = _mm256_add_epi16(columns[k], widenedBytes(row + 16 * k));
        }
        for (int k = 0; k < 2; ++k) {
            if (radius > inside)
                columns[k] =
                    _mm256_add_epi16(columns[k], _mm256_mullo_epi16(widenedBytes(last + i + 16 * k), lastCopies));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i + 16 * k), columns[k]);
        }
    }
    for (; i < samples; ++i) {
        uint32_t column = uint32_t(first[i]) * uint32_t(radius + 1);
        for (int32_t y = 1; y <= inside; ++y) column += rowOf<Tag>(from, y)[i];
        sum[i] = uint16_t(radius > inside ? column + uint32_t(last[i]) * uint32_t(radius - inside) : column);
    }
}

// verticalRow with 16-bit sums, sixteen at a time. Sums move by whole samples and end within
// the window's range, so they may wrap between the two steps.
template <class Tag>
void verticalShortRow(const uint8_t* entering, const uint8_t* leaving, uint8_t* out, uint16_t* sum, int32_t samples,
                      ShortQuotient q) {
    const __m256i multiplier = _mm256_set1_epi16(int16_t(uint16_t(q.multiplier)));
    const __m128i shift = _mm_cvtsi32_si128(q.shift);
    int32_t i = 0;
    for (; i + 16 <= samples; i += 16) {
        const __m256i sums = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum + i));
        const __m256i averages = _mm256_srl_epi16(_mm256_mulhi_epu16(sums, multiplier), shift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_packus_epi16(_mm256_castsi256_si128(averages), _mm256_extracti128_si256(averages, 1)));
        const __m256i in = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entering + i)));
        const __m256i off = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(leaving + i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i), _mm256_add_epi16(sums, _mm256_sub_epi16(in, off)));
    }
    for (; i < samples; ++i) {
        out[i] = uint8_t(q.of(sum[i]));
        sum[i] = uint16_t(sum[i] + entering[i] - leaving[i]);
    }
}

// One pixel of each of four 8-bit rows, widened: rows 0 and 1 in the low half, 2 and 3 in the high.
inline __m256i pixelQuad(const uint8_t* const (&rows)[4], int32_t x) {
    int32_t p[4];
    for (int r = 0; r < 4; ++r) std::memcpy(&p[r], rows[r] + 4 * x, 4);
    return _mm256_cvtepu8_epi16(_mm_setr_epi32(p[0], p[1], p[2], p[3]));
}

// Four neighbouring pixels of each of four rows, as four quads.
inline void fourQuads(const uint8_t* const (&rows)[4], int32_t x, __m256i (&quads)[4]) {
    __m128i a[4];
    for (int r = 0; r < 4; ++r) a[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + 4 * x));
    const __m128i t0 = _mm_unpacklo_epi32(a[0], a[1]), t1 = _mm_unpacklo_epi32(a[2], a[3]);
    const __m128i t2 = _mm_unpackhi_epi32(a[0], a[1]), t3 = _mm_unpackhi_epi32(a[2], a[3]);
    quads[0] = _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(t0, t1));
    quads[1] = _mm256_cvtepu8_epi16(_mm_unpackhi_epi64(t0, t1));
    quads[2] = _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(t2, t3));
    quads[3] = _mm256_cvtepu8_epi16(_mm_unpackhi_epi64(t2, t3));
}

// The averages of a quad's sums.
inline __m256i quadAverages(__m256i sums, __m256i multiplier, __m128i shift) {
    return _mm256_srl_epi16(_mm256_mulhi_epu16(sums, multiplier), shift);
}

// horizontalRowPair for four 8-bit rows at once, one pixel of each a vector, with 16-bit sums:
// four chains share each step. Rows may repeat (a height that is no multiple of four), written
// alike each time.
inline void horizontalShortQuad(const uint8_t* const (&in)[4], uint8_t* const (&out)[4], int32_t width, int64_t radius,
                                int32_t reach, ShortQuotient q) {
    const __m256i multiplier = _mm256_set1_epi16(int16_t(uint16_t(q.multiplier)));
    const __m128i shift = _mm_cvtsi32_si128(q.shift);
    const int32_t inside = int32_t(std::min<int64_t>(radius, width - 1));
    const __m256i firstPixels = pixelQuad(in, 0), lastPixels = pixelQuad(in, width - 1);
    __m256i sum = _mm256_mullo_epi16(firstPixels, _mm256_set1_epi16(int16_t(radius + 1)));
    int32_t i = 1;
    for (; i + 4 <= inside + 1; i += 4) {
        __m256i quads[4];
        fourQuads(in, i, quads);
        const __m256i four = _mm256_add_epi16(_mm256_add_epi16(quads[0], quads[1]), _mm256_add_epi16(quads[2], quads[3]));
        sum = _mm256_add_epi16(sum, four);
    }
    for (; i <= inside; ++i) sum = _mm256_add_epi16(sum, pixelQuad(in, i));
    sum = _mm256_add_epi16(sum, _mm256_mullo_epi16(lastPixels, _mm256_set1_epi16(int16_t(radius - inside))));

    const int32_t enteringEnd = width - reach - 1, leavingStart = reach;
    const auto run = [&]<bool enteringInside, bool leavingInside>(int32_t x, int32_t end) {
        for (; x + 4 <= end; x += 4) {
            __m256i entering[4], leaving[4], averages[4];
            if constexpr (enteringInside)
                fourQuads(in, x + reach + 1, entering);
            else
                entering[0] = entering[1] = entering[2] = entering[3] = lastPixels;
            if constexpr (leavingInside)
                fourQuads(in, x - reach, leaving);
            else
                leaving[0] = leaving[1] = leaving[2] = leaving[3] = firstPixels;
            for (int k = 0; k < 4; ++k) {
                averages[k] = quadAverages(sum, multiplier, shift);
                sum = _mm256_add_epi16(sum, _mm256_sub_epi16(entering[k], leaving[k]));
            }
            // Bytes back to rows: each half of a pack holds two rows' pixels of two columns.
            const __m256i p01 = _mm256_shuffle_epi32(_mm256_packus_epi16(averages[0], averages[1]), 0xD8);
            const __m256i p23 = _mm256_shuffle_epi32(_mm256_packus_epi16(averages[2], averages[3]), 0xD8);
            const __m256i rows02 = _mm256_unpacklo_epi64(p01, p23), rows13 = _mm256_unpackhi_epi64(p01, p23);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[0] + 4 * x), _mm256_castsi256_si128(rows02));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[1] + 4 * x), _mm256_castsi256_si128(rows13));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[2] + 4 * x), _mm256_extracti128_si256(rows02, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[3] + 4 * x), _mm256_extracti128_si256(rows13, 1));
        }
        for (; x < end; ++x) {
            const __m256i averages = quadAverages(sum, multiplier, shift);
            const __m128i bytes =
                _mm_packus_epi16(_mm256_castsi256_si128(averages), _mm256_extracti128_si256(averages, 1));
            const int32_t p[4] = {_mm_cvtsi128_si32(bytes), _mm_extract_epi32(bytes, 1), _mm_extract_epi32(bytes, 2),
                                  _mm_extract_epi32(bytes, 3)};
            for (int r = 0; r < 4; ++r) std::memcpy(out[r] + 4 * x, &p[r], 4);
            const __m256i entering = enteringInside ? pixelQuad(in, x + reach + 1) : lastPixels;
            const __m256i leaving = leavingInside ? pixelQuad(in, x - reach) : firstPixels;
            sum = _mm256_add_epi16(sum, _mm256_sub_epi16(entering, leaving));
        }
    };
    inStretches(width, enteringEnd, leavingStart, run);
}

// Rows y .. y + 3 (the last row repeating past the end) through horizontalShortQuad, each
// read at inRow(row) and written at outRow(row).
template <class In, class Out>
void horizontalShortRows(int32_t y, int32_t height, const In& inRow, const Out& outRow, int32_t width, int64_t radius,
                         int32_t reach, ShortQuotient q) {
    int32_t rows[4];
    for (int r = 0; r < 4; ++r) rows[r] = std::min(y + r, height - 1);
    const uint8_t* const in[4] = {inRow(rows[0]), inRow(rows[1]), inRow(rows[2]), inRow(rows[3])};
    uint8_t* const out[4] = {outRow(rows[0]), outRow(rows[1]), outRow(rows[2]), outRow(rows[3])};
    horizontalShortQuad(in, out, width, radius, reach, q);
}

// The horizontal pass over whole rasters with 16-bit sums, four rows at a time.
template <class Tag>
void horizontalShortPass(const RasterDesc& from, const RasterDesc& to, int32_t width, int32_t height, int64_t radius,
                         ShortQuotient q) {
    const int32_t reach = int32_t(std::min<int64_t>(radius, width));
    const auto inRow = [&](int32_t y) { return rowOf<Tag>(from, y); };
    const auto outRow = [&](int32_t y) { return rowOf<Tag>(to, y); };
    for (int32_t y = 0; y < height; y += 4) horizontalShortRows(y, height, inRow, outRow, width, radius, reach, q);
}

// The vertical pass over whole rasters with 16-bit sums. False, with nothing written, when the
// heap refuses the sums.
template <class Tag>
bool verticalShortPass(const RasterDesc& from, const RasterDesc& to, int32_t width, int32_t height, int64_t radius,
                       ShortQuotient q) {
    const int32_t reach = int32_t(std::min<int64_t>(radius, height));
    const int32_t samples = 4 * width;
    CallBuffer<uint16_t> sums(static_cast<size_t>(samples));
    if (!sums)
        return false;
    startingShortSums<Tag>(from, sums.data(), samples, radius, int32_t(std::min<int64_t>(radius, height - 1)), height);
    for (int32_t y = 0; y < height; ++y)
        verticalShortRow<Tag>(rowOf<Tag>(from, std::min(y + reach + 1, height - 1)),
                              rowOf<Tag>(from, std::max(y - reach, 0)), rowOf<Tag>(to, y), sums.data(), samples, q);
    return true;
}

// Both passes a row at a time: horizontal rows made in pairs (fours with 16-bit sums) into the
// ring just before the vertical sums first need them, each vertical row handed on as soon as it
// is written. The ring holds the rows from the one leaving the window to the group just made:
// 2r + 6 suffice.
template <class Tag, class Sum>
void blurByRows(const RasterDesc& from, const RasterDesc& ring, const RasterDesc& to, int32_t width, int32_t height,
                int64_t radius, Sum* sum, ShortQuotient q, const BlurRowDone& done) {
    const double scale = 1.0 / double(2 * radius + 1);
    const __m256d reciprocal = _mm256_set1_pd(scale);
    const int32_t across = int32_t(std::min<int64_t>(radius, width));
    const int32_t down = int32_t(std::min<int64_t>(radius, height));
    // 16-bit sums take rows four at a time, 32-bit ones two.
    constexpr bool kShort = std::is_same_v<Sum, uint16_t>;
    constexpr int32_t kGroup = kShort ? 4 : 2;
    const int32_t ringRows = int32_t(std::min<int64_t>(2 * int64_t(down) + 2 + kGroup, height));
    const auto slot = [&](int32_t y) { return rowOf<Tag>(ring, y % ringRows); };
    const auto source = [&](int32_t y) { return rowOf<Tag>(from, y); };
    int32_t made = 0;
    const auto makeThrough = [&](int32_t y) {
        for (; made <= y; made += kGroup) {
            if constexpr (kShort) {
                horizontalShortRows(made, height, source, slot, width, radius, across, q);
            } else {
                const int32_t b = std::min(made + 1, height - 1);
                horizontalRowPair<Tag>(rowOf<Tag>(from, made), rowOf<Tag>(from, b), slot(made), slot(b), width, radius,
                                       across, reciprocal);
            }
        }
    };
    // The first window's rows sit in the ring at their own row numbers; a window reaching past
    // the last row has it among them.
    const int32_t inside = int32_t(std::min<int64_t>(radius, height - 1));
    makeThrough(inside);
    if constexpr (kShort)
        startingShortSums<Tag>(ring, sum, 4 * width, radius, inside, height);
    else
        startingColumnSums<Tag>(ring, sum, 4 * width, radius, inside, height);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t entering = std::min(y + down + 1, height - 1), leaving = std::max(y - down, 0);
        makeThrough(entering);
        if constexpr (kShort)
            verticalShortRow<Tag>(slot(entering), slot(leaving), rowOf<Tag>(to, y), sum, 4 * width, q);
        else
            verticalRow<Tag>(slot(entering), slot(leaving), rowOf<Tag>(to, y), sum, 4 * width, scale);
        done.row(done.context, y);
    }
}

}  // namespace
}  // namespace wide_lanes
TX_END_AVX2

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
bool verticalPass(const RasterDesc& from, const RasterDesc& to, int32_t width, int32_t height, int64_t radius, bool wide) {
    using Channel = typename Tag::Channel;
    const double reciprocal = 1.0 / double(2 * radius + 1);
    const int32_t reach = int32_t(std::min<int64_t>(radius, height));
    const int32_t samples = 4 * width;
    CallBuffer<Sum> sums(static_cast<size_t>(samples));
    if (!sums)
        return false;
    // The window centred on row 0: r + 1 copies of row 0, then rows 1..r, clamped at the bottom.
    const int32_t inside = int32_t(std::min<int64_t>(radius, height - 1));
    Sum* sum = sums.data();
    bool started = false;
    if constexpr (std::is_same_v<Sum, int32_t>) {
        if (wide) {
            wide_lanes::startingColumnSums<Tag>(from, sum, samples, radius, inside, height);
            started = true;
        }
    }
    if (!started) {
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
    }
    for (int32_t y = 0; y < height; ++y) {
        Channel* out = rowOf<Tag>(to, y);
        const Channel* entering = rowOf<Tag>(from, std::min(y + reach + 1, height - 1));
        const Channel* leaving = rowOf<Tag>(from, std::max(y - reach, 0));
        if constexpr (std::is_same_v<Sum, int32_t>) {
            if (wide) {
                wide_lanes::verticalRow<Tag>(entering, leaving, out, sum, samples, reciprocal);
                continue;
            }
        }
        for (int32_t i = 0; i < samples; ++i) {
            out[i] = Channel(double(sum[i]) * reciprocal);
            sum[i] += Sum(entering[i]) - Sum(leaving[i]);
        }
    }
    return true;
}

// The rows of a raster a pass touches, as a byte range (rows may run bottom up).
struct ByteSpan {
    const uint8_t* first;
    const uint8_t* end;
};

template <class Tag>
ByteSpan spanOf(const RasterDesc& d, int32_t width, int32_t height) {
    const uint8_t* top = d.pixels;
    const uint8_t* bottom = d.pixels + int64_t(height - 1) * d.rowBytes;
    const int64_t used = int64_t(width) * Tag::bytesPerPixel;
    return d.rowBytes >= 0 ? ByteSpan{top, bottom + used} : ByteSpan{bottom, top + used};
}

// The wide passes read several samples before they write, and two rows at once: they equal
// the plain order only where the rasters share no byte.
template <class Tag>
bool separate(const RasterDesc& a, const RasterDesc& b, int32_t width, int32_t height) {
    const ByteSpan x = spanOf<Tag>(a, width, height), y = spanOf<Tag>(b, width, height);
    return x.end <= y.first || y.end <= x.first;
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
    else if (lanes && cpu::hasAvx2() && separate<Tag>(from, to, width, height)) {
        if constexpr (!kIs16Bit<Tag>)
            if (const wide_lanes::ShortQuotient q = wide_lanes::shortQuotientFor(radius))
                return wide_lanes::horizontalShortPass<Tag>(from, to, width, height, radius, q);
        wide_lanes::horizontalPass<Tag>(from, to, width, height, radius);
    }
    else if (lanes)
        horizontalPassInLanes<Tag>(from, to, width, height, radius);
    else
        horizontalPass<Tag, int32_t>(from, to, width, height, radius);
}

template <class Tag>
Status boxBlurVertical(const RasterDesc& from, const RasterDesc& to, int32_t radius, bool lanes) {
    const int32_t width = std::min(from.width, to.width);
    const int32_t height = std::min(from.height, to.height);
    if (radius < 1 || width <= 0 || height <= 0)
        return STATUS_OK;
    const bool wide = lanes && cpu::hasAvx2() && separate<Tag>(from, to, width, height);
    if constexpr (!kIs16Bit<Tag>) {
        if (wide)
            if (const wide_lanes::ShortQuotient q = wide_lanes::shortQuotientFor(radius))
                return wide_lanes::verticalShortPass<Tag>(from, to, width, height, radius, q) ? STATUS_OK
                                                                                               : STATUS_NO_RASTER;
    }
    const bool done = fitsNarrowSum<Tag>(2 * int64_t(radius) + 1)
                          ? verticalPass<Tag, int32_t>(from, to, width, height, radius, wide)
                          : verticalPass<Tag, int64_t>(from, to, width, height, radius, false);
    return done ? STATUS_OK : STATUS_NO_RASTER;
}

}  // namespace

template <class Tag>
void BoxBlurHorizontal(const RasterDesc& from, const RasterDesc& to, int32_t radius) {
    boxBlurHorizontal<Tag>(from, to, radius, true);
}

template <class Tag>
bool BoxBlurByRows(const RasterDesc& from, const RasterDesc& ring, const RasterDesc& to, int32_t radius,
                   const BlurRowDone& done, Status& status) {
    const int32_t width = from.width, height = from.height;
    const auto sameSize = [&](const RasterDesc& d) { return d.width == width && d.height == height; };
    if (radius < 1 || width <= 0 || height <= 0 || !sameSize(ring) || !sameSize(to) || !from.pixels || !ring.pixels ||
        !to.pixels || !fitsNarrowSum<Tag>(2 * int64_t(radius) + 1) || !cpu::hasAvx2() ||
        !separate<Tag>(from, ring, width, height) || !separate<Tag>(from, to, width, height) ||
        !separate<Tag>(ring, to, width, height))
        return false;
    // 8-bit windows whose averages have a 16-bit quotient sum in 16 bits, the rest in 32.
    const auto byRows = [&]<class Sum>(wide_lanes::ShortQuotient q) {
        CallBuffer<Sum> sums(size_t(4) * size_t(width));
        status = sums ? STATUS_OK : STATUS_NO_RASTER;
        if (sums)
            wide_lanes::blurByRows<Tag>(from, ring, to, width, height, radius, sums.data(), q, done);
        return true;
    };
    if constexpr (!kIs16Bit<Tag>) {
        if (const wide_lanes::ShortQuotient q = wide_lanes::shortQuotientFor(radius))
            return byRows.template operator()<uint16_t>(q);
    }
    return byRows.template operator()<int32_t>(wide_lanes::ShortQuotient{});
}

template <class Tag>
void BoxBlurHorizontalPlain(const RasterDesc& from, const RasterDesc& to, int32_t radius) {
    boxBlurHorizontal<Tag>(from, to, radius, false);
}

template <class Tag>
Status BoxBlurVertical(const RasterDesc& from, const RasterDesc& to, int32_t radius) {
    return boxBlurVertical<Tag>(from, to, radius, true);
}

template <class Tag>
Status BoxBlurVerticalPlain(const RasterDesc& from, const RasterDesc& to, int32_t radius) {
    return boxBlurVertical<Tag>(from, to, radius, false);
}

template void BoxBlurHorizontal<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontal<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontal<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontal<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontalPlain<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontalPlain<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontalPlain<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, int32_t);
template void BoxBlurHorizontalPlain<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, int32_t);
#define TX_BOX_BLUR_BY_ROWS(Tag) \
    template bool BoxBlurByRows<Tag>(const RasterDesc&, const RasterDesc&, const RasterDesc&, int32_t, const BlurRowDone&, Status&);
TX_BOX_BLUR_BY_ROWS(PIXEL_ARGB8)
TX_BOX_BLUR_BY_ROWS(PIXEL_BGRA8)
TX_BOX_BLUR_BY_ROWS(PIXEL_ARGB14)
TX_BOX_BLUR_BY_ROWS(PIXEL_BGRA14)
#undef TX_BOX_BLUR_BY_ROWS
template Status BoxBlurVertical<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVertical<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVertical<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVertical<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVerticalPlain<PIXEL_ARGB8>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVerticalPlain<PIXEL_BGRA8>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVerticalPlain<PIXEL_ARGB14>(const RasterDesc&, const RasterDesc&, int32_t);
template Status BoxBlurVerticalPlain<PIXEL_BGRA14>(const RasterDesc&, const RasterDesc&, int32_t);
