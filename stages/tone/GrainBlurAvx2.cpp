// The integer window's passes at the AVX2 width: four pixels per vector. Only the functions
// defined below the target switch use AVX2; GrainBlur calls them where the processor has it.
#include <cstddef>
#include <cstring>
#include <vector>

#include "lib/Common/LaneWidths.h"
#include "lib/Common/TargetAvx2.h"
#include "stages/tone/GrainBlurWindow.h"

TX_BEGIN_AVX2

namespace grain_blur {
namespace {

// The blur's own steps at this width: four pixels per vector.
struct V : lane_widths::Avx2Lanes {
    using F = __m256;
    static __m256 floatPattern(const float (&lanes)[4]) {
        const __m128 four = _mm_loadu_ps(lanes);
        return _mm256_insertf128_ps(_mm256_castps128_ps256(four), four, 1);
    }

    // Every pixel (64 bits) of the vector set to its first, or last, pixel.
    static I broadcastFirst(I v) { return _mm256_permute4x64_epi64(v, 0x00); }
    static I broadcastLast(I v) { return _mm256_permute4x64_epi64(v, 0xFF); }
    // [p3 | v0 v1 v2] and [v1 v2 v3 | n0]: the middle pair crosses the 128-bit halves.
    static I before(I prev, I v) { return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(prev, v, 0x21), 8); }
    static I after(I v, I next) { return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, next, 0x21), v, 8); }

    // trunc(sum * k) per pixel in single precision; unpack and pack both work within halves,
    // so the pixels come back in place.
    static I scaleFloat(I sum, __m256 norm) {
        const __m256i first = _mm256_srai_epi32(_mm256_unpacklo_epi16(sum, sum), 16);
        const __m256i second = _mm256_srai_epi32(_mm256_unpackhi_epi16(sum, sum), 16);
        return _mm256_packs_epi32(_mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(first), norm)),
                                  _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(second), norm)));
    }
    // Runs of pixels in 32-bit lanes, two pixels per vector: run j of a block, and two runs
    // back to 16-bit lanes (signed saturation; the pack works within halves, the permute
    // restores the order).
    static I widen(Block b, int j) {
        const __m256i half = j < 2 ? b.low : b.high;
        return _mm256_cvtepu16_epi32(j % 2 == 0 ? _mm256_castsi256_si128(half) : _mm256_extracti128_si256(half, 1));
    }
    static I narrowPair(I a, I b) { return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0)); }
    // The same held to 0..white: 16-bit samples by the unsigned pack and an unsigned min; 8-bit
    // ones are held by the saturating byte store.
    template <class Tag>
    static I narrowHeld(I a, I b) {
        if constexpr (kIs16Bit<Tag>) {
            const I packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
            return _mm256_min_epu16(packed, _mm256_set1_epi16(int16_t(Tag::white)));
        } else {
            return narrowPair(a, b);
        }
    }
    static I firstPixel32(I v) { return _mm256_permute2x128_si256(v, v, 0x00); }
    static I lastPixel32(I v) { return _mm256_permute2x128_si256(v, v, 0x11); }
    static I before32(I prev, I v) { return _mm256_permute2x128_si256(prev, v, 0x21); }
    static I after32(I v, I next) { return _mm256_permute2x128_si256(v, next, 0x21); }
    static I pattern32(const int32_t (&lanes)[4]) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)));
    }
    static I load32(const int32_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }
    static void store32(int32_t* at, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v); }
    static I add32(I a, I b) { return _mm256_add_epi32(a, b); }
    static I sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
    static F toFloat(I v) { return _mm256_cvtepi32_ps(v); }
    static I truncate(F v) { return _mm256_cvttps_epi32(v); }
    static F mulFloat(F a, F b) { return _mm256_mul_ps(a, b); }
    static F addFloat(F a, F b) { return _mm256_add_ps(a, b); }
    static F minFloat(F a, F b) { return _mm256_min_ps(a, b); }
    static F setFloat(float v) { return _mm256_set1_ps(v); }
};

#include "stages/tone/GrainBlurFixedPass.inc"
#include "stages/tone/GrainBlurFloatPass.inc"

}  // namespace

#define GRAIN_BLUR_WIDTH(name) name##Avx2
#include "stages/tone/GrainBlurEntries.inc"
#undef GRAIN_BLUR_WIDTH

}  // namespace grain_blur

TX_END_AVX2
