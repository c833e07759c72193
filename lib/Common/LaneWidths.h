// Two widths of 16-bit-lane pixel work behind one set of names, for kernels written once and
// compiled for each: Sse2Lanes (every x86-64 processor) and Avx2Lanes (used only after
// cpu::hasAvx2()). A block is kBlockPixels neighbouring pixels held in two vectors, 8-bit
// samples widened, in memory order; a sample's lane modulo 4 is its channel position.
//
// Avx2Lanes' functions are compiled for AVX2 and must only be called, and their kernels only
// instantiated, from code compiled for it: a unit includes the shared kernel source again
// between TX_BEGIN_AVX2 and TX_END_AVX2.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/TargetAvx2.h"

namespace lane_widths {

struct Sse2Lanes {
    using I = __m128i;
    static constexpr int kLanes = 8, kBlockPixels = 4;
    struct Block {
        I low, high;  // pixels 0-1, 2-3
    };

    template <class Tag>
    static Block loadBlock(const uint8_t* at) {
        if constexpr (kIs16Bit<Tag>) {
            return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16))};
        } else {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            return {_mm_unpacklo_epi8(bytes, _mm_setzero_si128()), _mm_unpackhi_epi8(bytes, _mm_setzero_si128())};
        }
    }
    // 16-bit samples are stored as they are; 8-bit ones saturate to 0..255.
    template <class Tag>
    static void storeBlock(uint8_t* at, const Block& b) {
        if constexpr (kIs16Bit<Tag>) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at), b.low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16), b.high);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_packus_epi16(b.low, b.high));
        }
    }

    static I loadLanes(const int16_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
    static void storeLanes(int16_t* at, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); }

    // Partial blocks at the end of a line, padded with the last pixel (the filters' edge rule).
    // Each width has its own copies: a function shared by both would be compiled for one.
    template <class Tag>
    static constexpr int kBlockBytes = kBlockPixels * Tag::bytesPerPixel;
    template <class Tag>
    static Block loadPartialBlock(const uint8_t* at, int count) {
        alignas(32) uint8_t bytes[kBlockBytes<Tag>];
        std::memcpy(bytes, at, size_t(count) * Tag::bytesPerPixel);
        for (int k = count; k < kBlockPixels; ++k)
            std::memcpy(bytes + k * Tag::bytesPerPixel, at + (count - 1) * Tag::bytesPerPixel, Tag::bytesPerPixel);
        return loadBlock<Tag>(bytes);
    }
    template <class Tag>
    static void storePartialBlock(uint8_t* at, const Block& b, int count) {
        alignas(32) uint8_t bytes[kBlockBytes<Tag>];
        storeBlock<Tag>(bytes, b);
        std::memcpy(at, bytes, size_t(count) * Tag::bytesPerPixel);
    }
    // All ones in the lanes of the channel at `position`.
    static I channelLanes(int position) {
        alignas(32) int16_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i) lanes[i] = int16_t(i % 4 == position ? -1 : 0);
        return loadLanes(lanes);
    }
    static I pattern(const int16_t (&lanes)[8]) { return loadLanes(lanes); }
    static I set16(int16_t v) { return _mm_set1_epi16(v); }
    static I zero() { return _mm_setzero_si128(); }

    static I add(I a, I b) { return _mm_add_epi16(a, b); }
    static I sub(I a, I b) { return _mm_sub_epi16(a, b); }
    static I mulLow(I a, I b) { return _mm_mullo_epi16(a, b); }
    static I mulHigh(I a, I b) { return _mm_mulhi_epu16(a, b); }
    // (a b + 2^14) >> 15 of signed lanes, and the absolute value: instructions from SSSE3 on,
    // worked out here. Kernels take other forms where kRoundingMultiply is false.
    static constexpr bool kRoundingMultiply = false;
    static I mulRounded(I a, I b) {
        const I low = _mm_mullo_epi16(a, b), high = _mm_mulhi_epi16(a, b);
        const I halved = _mm_or_si128(_mm_slli_epi16(high, 1), _mm_srli_epi16(low, 15));
        return _mm_add_epi16(halved, _mm_and_si128(_mm_srli_epi16(low, 14), _mm_set1_epi16(1)));
    }
    static I absolute(I a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }
    static I average(I a, I b) { return _mm_avg_epu16(a, b); }
    static I less(I a, I b) { return _mm_cmplt_epi16(a, b); }
    static I min(I a, I b) { return _mm_min_epi16(a, b); }
    static I max(I a, I b) { return _mm_max_epi16(a, b); }
    static I subSaturated(I a, I b) { return _mm_subs_epu16(a, b); }
    static I shiftLeft(I a, int n) { return _mm_slli_epi16(a, n); }
    static I shiftRight(I a, int n) { return _mm_srli_epi16(a, n); }
    static I shiftRight(I a, __m128i count) { return _mm_srl_epi16(a, count); }
    static I bitAnd(I a, I b) { return _mm_and_si128(a, b); }
    static I bitAndNot(I a, I b) { return _mm_andnot_si128(a, b); }
    static I bitOr(I a, I b) { return _mm_or_si128(a, b); }
    static I bitXor(I a, I b) { return _mm_xor_si128(a, b); }
    // Lanes of `ifSet` where `mask` is all ones, of `ifClear` where it is zero.
    static I select(I mask, I ifSet, I ifClear) { return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear)); }
    // `colours` with the alpha lanes of `alphas`.
    template <class Tag>
    static I withAlphaOf(I alphas, I colours) {
        constexpr int a = Tag::FORMAT::A;
        const I mask = _mm_set_epi16(a == 3 ? -1 : 0, a == 2 ? -1 : 0, a == 1 ? -1 : 0, a == 0 ? -1 : 0, a == 3 ? -1 : 0,
                                     a == 2 ? -1 : 0, a == 1 ? -1 : 0, a == 0 ? -1 : 0);
        return select(mask, alphas, colours);
    }
    // Signed samples held to 0..white, as a plain kernel's clamp holds them before it stores;
    // 8-bit samples are left to the saturating byte store.
    template <class Tag>
    static I heldToWhite(I v) {
        if constexpr (kIs16Bit<Tag>)
            return _mm_max_epi16(_mm_min_epi16(v, _mm_set1_epi16(int16_t(Tag::white))), _mm_setzero_si128());
        else
            return v;
    }
    static bool allZero(I a) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128())) == 0xFFFF; }

    // 32-bit lanes: the low halves of 16-bit lanes widened with their high halves and back,
    // within each 128-bit half, so that the round trip keeps every lane in place.
    static I interleaveLow(I a, I b) { return _mm_unpacklo_epi16(a, b); }
    static I interleaveHigh(I a, I b) { return _mm_unpackhi_epi16(a, b); }
    static I pack32(I a, I b) { return _mm_packs_epi32(a, b); }
    static I set32(int32_t v) { return _mm_set1_epi32(v); }
    static I evenLanes32() { return _mm_set_epi32(0, -1, 0, -1); }
    static I mulEven32(I a, I b) { return _mm_mul_epu32(a, b); }
    static I shiftRight64(I a, __m128i count) { return _mm_srl_epi64(a, count); }
    static I shiftRight64By32(I a) { return _mm_srli_epi64(a, 32); }
    static I shiftLeft64By32(I a) { return _mm_slli_epi64(a, 32); }
};

}  // namespace lane_widths

TX_BEGIN_AVX2

namespace lane_widths {

struct Avx2Lanes {
    using I = __m256i;
    static constexpr int kLanes = 16, kBlockPixels = 8;
    struct Block {
        I low, high;  // pixels 0-3, 4-7
    };

    template <class Tag>
    static Block loadBlock(const uint8_t* at) {
        if constexpr (kIs16Bit<Tag>) {
            return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)),
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32))};
        } else {
            return {_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at))),
                    _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16)))};
        }
    }
    // The pack works within 128-bit halves; the permute puts the pixels back in order.
    template <class Tag>
    static void storeBlock(uint8_t* at, const Block& b) {
        if constexpr (kIs16Bit<Tag>) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), b.low);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + 32), b.high);
        } else {
            const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(b.low, b.high), _MM_SHUFFLE(3, 1, 2, 0));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), packed);
        }
    }

    static I loadLanes(const int16_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }
    static void storeLanes(int16_t* at, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v); }

    // Partial blocks at the end of a line, padded with the last pixel (the filters' edge rule).
    // Each width has its own copies: a function shared by both would be compiled for one.
    template <class Tag>
    static constexpr int kBlockBytes = kBlockPixels * Tag::bytesPerPixel;
    template <class Tag>
    static Block loadPartialBlock(const uint8_t* at, int count) {
        alignas(32) uint8_t bytes[kBlockBytes<Tag>];
        std::memcpy(bytes, at, size_t(count) * Tag::bytesPerPixel);
        for (int k = count; k < kBlockPixels; ++k)
            std::memcpy(bytes + k * Tag::bytesPerPixel, at + (count - 1) * Tag::bytesPerPixel, Tag::bytesPerPixel);
        return loadBlock<Tag>(bytes);
    }
    template <class Tag>
    static void storePartialBlock(uint8_t* at, const Block& b, int count) {
        alignas(32) uint8_t bytes[kBlockBytes<Tag>];
        storeBlock<Tag>(bytes, b);
        std::memcpy(at, bytes, size_t(count) * Tag::bytesPerPixel);
    }
    // All ones in the lanes of the channel at `position`.
    static I channelLanes(int position) {
        alignas(32) int16_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i) lanes[i] = int16_t(i % 4 == position ? -1 : 0);
        return loadLanes(lanes);
    }
    static I pattern(const int16_t (&lanes)[8]) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)));
    }
    static I set16(int16_t v) { return _mm256_set1_epi16(v); }
    static I zero() { return _mm256_setzero_si256(); }

    static I add(I a, I b) { return _mm256_add_epi16(a, b); }
    static I sub(I a, I b) { return _mm256_sub_epi16(a, b); }
    static I mulLow(I a, I b) { return _mm256_mullo_epi16(a, b); }
    static I mulHigh(I a, I b) { return _mm256_mulhi_epu16(a, b); }
    // (a b + 2^14) >> 15 of signed lanes, and the absolute value.
    static constexpr bool kRoundingMultiply = true;
    static I mulRounded(I a, I b) { return _mm256_mulhrs_epi16(a, b); }
    static I absolute(I a) { return _mm256_abs_epi16(a); }
    static I average(I a, I b) { return _mm256_avg_epu16(a, b); }
    static I less(I a, I b) { return _mm256_cmpgt_epi16(b, a); }
    static I min(I a, I b) { return _mm256_min_epi16(a, b); }
    static I max(I a, I b) { return _mm256_max_epi16(a, b); }
    static I subSaturated(I a, I b) { return _mm256_subs_epu16(a, b); }
    static I shiftLeft(I a, int n) { return _mm256_sll_epi16(a, _mm_cvtsi32_si128(n)); }
    static I shiftRight(I a, int n) { return _mm256_srl_epi16(a, _mm_cvtsi32_si128(n)); }
    static I shiftRight(I a, __m128i count) { return _mm256_srl_epi16(a, count); }
    static I bitAnd(I a, I b) { return _mm256_and_si256(a, b); }
    static I bitAndNot(I a, I b) { return _mm256_andnot_si256(a, b); }
    static I bitOr(I a, I b) { return _mm256_or_si256(a, b); }
    static I bitXor(I a, I b) { return _mm256_xor_si256(a, b); }
    // Lanes of `ifSet` where `mask` is all ones, of `ifClear` where it is zero.
    static I select(I mask, I ifSet, I ifClear) { return _mm256_or_si256(_mm256_and_si256(mask, ifSet), _mm256_andnot_si256(mask, ifClear)); }
    template <class Tag>
    static I withAlphaOf(I alphas, I colours) { return _mm256_blend_epi16(colours, alphas, 0x11 << Tag::FORMAT::A); }
    // Signed samples held to 0..white, as a plain kernel's clamp holds them before it stores;
    // 8-bit samples are left to the saturating byte store.
    template <class Tag>
    static I heldToWhite(I v) {
        if constexpr (kIs16Bit<Tag>)
            return _mm256_max_epi16(_mm256_min_epi16(v, _mm256_set1_epi16(int16_t(Tag::white))), _mm256_setzero_si256());
        else
            return v;
    }
    static bool allZero(I a) { return _mm256_testz_si256(a, a) != 0; }

    static I interleaveLow(I a, I b) { return _mm256_unpacklo_epi16(a, b); }
    static I interleaveHigh(I a, I b) { return _mm256_unpackhi_epi16(a, b); }
    static I pack32(I a, I b) { return _mm256_packs_epi32(a, b); }
    static I set32(int32_t v) { return _mm256_set1_epi32(v); }
    static I evenLanes32() { return _mm256_set_epi32(0, -1, 0, -1, 0, -1, 0, -1); }
    static I mulEven32(I a, I b) { return _mm256_mul_epu32(a, b); }
    static I shiftRight64(I a, __m128i count) { return _mm256_srl_epi64(a, count); }
    static I shiftRight64By32(I a) { return _mm256_srli_epi64(a, 32); }
    static I shiftLeft64By32(I a) { return _mm256_slli_epi64(a, 32); }
};

}  // namespace lane_widths

TX_END_AVX2
