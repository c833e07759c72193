// A third width of lane work, for the kernels that gain from it: AVX-512's sixteen 32-bit or
// thirty-two 16-bit lanes, with the names of LaneWidths.h for the operations those kernels use.
// 32-bit compares give a mask rather than a vector of lanes (`auto` takes either); the 16-bit
// `less` gives lanes, which the compositing kernels combine with bit operations. Compiled for
// AVX-512 and used only after cpu::hasAvx512(), from code between TX_BEGIN_AVX512 and TX_END_AVX2.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/simd/TargetAvx2.h"

// GCC's AVX-512 headers warn of uninitialised values inside their conversions and shifts.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

TX_BEGIN_AVX512

namespace simd {

struct Avx512Lanes {
    using I = __m512i;
    using F = __m512;
    using Mask = __mmask16;
    using Count = __m128i;
    static constexpr int kLanes = 32, kBlockPixels = 16;  // lanes of 16 bits
    struct Block {
        I low, high;  // pixels 0-7, 8-15
    };

    // ---- Blocks of pixels, as LaneWidths.h's widths hold them ----

    template <class Tag>
    static Block loadBlock(const uint8_t* at) {
        if constexpr (kIs16Bit<Tag>)
            return {_mm512_loadu_si512(at), _mm512_loadu_si512(at + 64)};
        else
            return {loadWidened(at), loadWidened(at + 32)};
    }
    // The pack works within 128 bits; the permute puts the pixels back in order.
    template <class Tag>
    static void storeBlock(uint8_t* at, const Block& b) {
        if constexpr (kIs16Bit<Tag>) {
            _mm512_storeu_si512(at, b.low);
            _mm512_storeu_si512(at + 64, b.high);
        } else {
            const I order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
            _mm512_storeu_si512(at, _mm512_permutexvar_epi64(order, _mm512_packus_epi16(b.low, b.high)));
        }
    }
    // Partial blocks at the end of a line, padded with the last pixel (the filters' edge rule).
    template <class Tag>
    static constexpr int kBlockBytes = kBlockPixels * Tag::bytesPerPixel;
    template <class Tag>
    static Block loadPartialBlock(const uint8_t* at, int count) {
        alignas(64) uint8_t bytes[kBlockBytes<Tag>];
        std::memcpy(bytes, at, size_t(count) * Tag::bytesPerPixel);
        for (int k = count; k < kBlockPixels; ++k)
            std::memcpy(bytes + k * Tag::bytesPerPixel, at + (count - 1) * Tag::bytesPerPixel, Tag::bytesPerPixel);
        return loadBlock<Tag>(bytes);
    }
    template <class Tag>
    static void storePartialBlock(uint8_t* at, const Block& b, int count) {
        alignas(64) uint8_t bytes[kBlockBytes<Tag>];
        storeBlock<Tag>(bytes, b);
        std::memcpy(at, bytes, size_t(count) * Tag::bytesPerPixel);
    }
    // All ones in the lanes of the channel at `position`.
    static I channelLanes(int position) { return _mm512_movm_epi16(__mmask32(0x11111111u << position)); }

    static I loadLanes(const int16_t* at) { return _mm512_loadu_si512(at); }
    static void storeLanes(int16_t* at, I v) { _mm512_storeu_si512(at, v); }
    // kLanes bytes widened to 16-bit lanes, and back, held to 0..255 (lanes from 0 to 32767).
    static I loadWidened(const uint8_t* at) {
        return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)));
    }
    static void storeNarrowed(uint8_t* at, I v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), _mm512_cvtusepi16_epi8(v));
    }

    static I loadBytes(const void* at) { return _mm512_loadu_si512(at); }
    static void storeBytes(void* at, I v) { _mm512_storeu_si512(at, v); }
    static void store32(int32_t* at, I v) { _mm512_storeu_si512(at, v); }
    static void storeFloat(float* at, F v) { _mm512_storeu_ps(at, v); }

    static I set32(int32_t v) { return _mm512_set1_epi32(v); }
    static I set64(int64_t v) { return _mm512_set1_epi64(v); }
    static F setFloat(float v) { return _mm512_set1_ps(v); }
    static F zeroFloat() { return _mm512_setzero_ps(); }
    static I laneNumbers32() { return _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15); }
    static Count shiftCount(int n) { return _mm_cvtsi32_si128(n); }

    static I bitAnd(I a, I b) { return _mm512_and_si512(a, b); }
    static I bitOr(I a, I b) { return _mm512_or_si512(a, b); }
    // Within each 128-bit block, as the narrower widths do.
    static I shuffleBytes(I v, I picks) { return _mm512_shuffle_epi8(v, picks); }

    static I add32(I a, I b) { return _mm512_add_epi32(a, b); }
    static I sub32(I a, I b) { return _mm512_sub_epi32(a, b); }
    static I mulLow32(I a, I b) { return _mm512_mullo_epi32(a, b); }
    static I min32(I a, I b) { return _mm512_min_epi32(a, b); }
    static Mask greater32(I a, I b) { return _mm512_cmpgt_epi32_mask(a, b); }
    static I shiftLeft32(I a, int n) { return _mm512_slli_epi32(a, unsigned(n)); }
    static I shiftRight32(I a, int n) { return _mm512_srli_epi32(a, unsigned(n)); }
    static I shiftRight32(I a, Count count) { return _mm512_srl_epi32(a, count); }
    static I mulEven32(I a, I b) { return _mm512_mul_epu32(a, b); }
    static I add64(I a, I b) { return _mm512_add_epi64(a, b); }
    static I evenOddLanes32(I even, I odd) { return _mm512_mask_blend_epi32(0xAAAA, even, odd); }
    static I shiftRight64(I a, Count count) { return _mm512_srl_epi64(a, count); }
    static I shiftRight64By32(I a) { return _mm512_srli_epi64(a, 32); }
    static I shiftLeft64(I a, Count count) { return _mm512_sll_epi64(a, count); }

    static F toFloat(I v) { return _mm512_cvtepi32_ps(v); }
    static I truncate(F v) { return _mm512_cvttps_epi32(v); }
    static F truncateFloat(F v) { return _mm512_roundscale_ps(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
    static F addFloat(F a, F b) { return _mm512_add_ps(a, b); }
    static F subFloat(F a, F b) { return _mm512_sub_ps(a, b); }
    static F mulFloat(F a, F b) { return _mm512_mul_ps(a, b); }
    static F divFloat(F a, F b) { return _mm512_div_ps(a, b); }
    static F minFloat(F a, F b) { return _mm512_min_ps(a, b); }
    static F maxFloat(F a, F b) { return _mm512_max_ps(a, b); }
    static F selectFloat(Mask mask, F ifSet, F ifClear) { return _mm512_mask_blend_ps(mask, ifClear, ifSet); }
    static F floatPattern(const float (&lanes)[4]) { return _mm512_broadcast_f32x4(_mm_loadu_ps(lanes)); }

    // ---- 16-bit lanes ----

    static I zero() { return _mm512_setzero_si512(); }
    static I set16(int16_t v) { return _mm512_set1_epi16(v); }
    static I add(I a, I b) { return _mm512_add_epi16(a, b); }
    static I sub(I a, I b) { return _mm512_sub_epi16(a, b); }
    static I mulLow(I a, I b) { return _mm512_mullo_epi16(a, b); }
    static I mulHigh(I a, I b) { return _mm512_mulhi_epu16(a, b); }
    // (a b + 2^14) >> 15 of signed lanes, and the absolute value.
    static constexpr bool kRoundingMultiply = true;
    static I mulRounded(I a, I b) { return _mm512_mulhrs_epi16(a, b); }
    static I absolute(I a) { return _mm512_abs_epi16(a); }
    static I average(I a, I b) { return _mm512_avg_epu16(a, b); }
    // All ones where a < b, signed: lanes rather than a mask, as the narrower widths give them.
    static I less(I a, I b) { return _mm512_movm_epi16(_mm512_cmplt_epi16_mask(a, b)); }
    static I min(I a, I b) { return _mm512_min_epi16(a, b); }
    static I max(I a, I b) { return _mm512_max_epi16(a, b); }
    static I subSaturated(I a, I b) { return _mm512_subs_epu16(a, b); }
    static I shiftLeft(I a, int n) { return _mm512_slli_epi16(a, unsigned(n)); }
    static I shiftRight(I a, int n) { return _mm512_srli_epi16(a, unsigned(n)); }
    template <class Tag>
    static I withAlphaOf(I alphas, I colours) {
        return _mm512_mask_blend_epi16(__mmask32(0x11111111u << Tag::FORMAT::A), colours, alphas);
    }
    // Signed samples held to 0..white, as a plain kernel's clamp holds them before it stores;
    // 8-bit samples are left to the saturating byte store.
    template <class Tag>
    static I heldToWhite(I v) {
        if constexpr (kIs16Bit<Tag>)
            return _mm512_max_epi16(_mm512_min_epi16(v, _mm512_set1_epi16(int16_t(Tag::white))), _mm512_setzero_si512());
        else
            return v;
    }

    // ---- Bits, of lanes of any size ----

    static I bitAndNot(I a, I b) { return _mm512_andnot_si512(a, b); }
    static I bitXor(I a, I b) { return _mm512_xor_si512(a, b); }
    // Lanes of `ifSet` where `mask` is all ones, of `ifClear` where it is zero: one bitwise select.
    static I select(I mask, I ifSet, I ifClear) { return _mm512_ternarylogic_epi64(mask, ifSet, ifClear, 0xCA); }
    static bool allZero(I a) { return _mm512_test_epi64_mask(a, a) == 0; }
    static I evenLanes32() { return _mm512_set1_epi64(0xFFFFFFFF); }
    static I shiftLeft64By32(I a) { return _mm512_slli_epi64(a, 32); }
    // Within each 128 bits, as the narrower widths do.
    static I interleaveLow(I a, I b) { return _mm512_unpacklo_epi16(a, b); }
    static I interleaveHigh(I a, I b) { return _mm512_unpackhi_epi16(a, b); }
    static I pack32(I a, I b) { return _mm512_packs_epi32(a, b); }

    // Pixels of 16-bit lanes along a line: pixel 0 repeated, pixel 7 repeated, the pixels before
    // (the last of `prev`, then v's but its last) and after (v's but its first, then next's first).
    static I repeatFirstPixel(I v) { return _mm512_broadcastq_epi64(_mm512_castsi512_si128(v)); }
    static I repeatLastPixel(I v) { return _mm512_permutexvar_epi64(_mm512_set1_epi64(7), v); }
    static I pixelsBefore(I prev, I v) { return _mm512_alignr_epi64(v, prev, 7); }
    static I pixelsAfter(I v, I next) { return _mm512_alignr_epi64(next, v, 1); }
};

}  // namespace simd

TX_END_AVX2
