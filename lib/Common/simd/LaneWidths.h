// The vector vocabulary: two widths of lane work behind one set of names, for kernels written
// once and compiled for each: Sse2Lanes (every x86-64 processor) and Avx2Lanes (used only after
// cpu::hasAvx2()). The stages and the pipeline name no intrinsic; each operation they need is
// here, named for what it does to the lanes, and inlined where a kernel uses it.
//
// Integer vectors (I) hold 16-bit or 32-bit lanes, as each operation says: a plain name works on
// 16-bit lanes, a name ending in 32 on 32-bit ones (64 on 64-bit ones); single-precision
// vectors (F) take names ending in Float, and the conversions between them (toFloat, truncate,
// ...) work on 32-bit lanes. The bit operations take lanes of
// any size. A block is kBlockPixels neighbouring pixels held in two vectors, 8-bit samples
// widened, in memory order; a sample's 16-bit lane modulo 4 is its channel position. A pixel is
// four neighbouring lanes: 64 bits of 16-bit lanes, 128 of 32-bit or float ones.
//
// Avx2Lanes' functions are compiled for AVX2 and must only be called, and their kernels only
// instantiated, from code compiled for it: a unit includes the shared kernel source again
// between TX_BEGIN_AVX2 and TX_END_AVX2. Operations only one width has are those that only its
// kernels need.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/simd/TargetAvx2.h"

namespace simd {

struct Sse2Lanes {
    using I = __m128i;
    using F = __m128;
    using Count = __m128i;  // a shift amount known only at run time, as the shifts take it
    static constexpr int kLanes = 8, kBlockPixels = 4;
    struct Block {
        I low, high;  // pixels 0-1, 2-3
    };

    // ---- Memory ----

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
    static I loadLanes(const uint16_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
    static void storeLanes(int16_t* at, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); }
    static void storeLanes(uint16_t* at, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); }
    static I load32(const int32_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
    static void store32(int32_t* at, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v); }

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

    // One pixel's four samples in memory order, widened to the four 32-bit lanes.
    template <class Tag>
    static I loadPixel32(const typename Tag::Channel* px) {
        const __m128i zero = _mm_setzero_si128();
        if constexpr (kIs16Bit<Tag>) {
            return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(px)), zero);
        } else {
            int32_t bytes;
            std::memcpy(&bytes, px, sizeof bytes);
            return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
        }
    }
    // The low 64 bits, and 16-bit lane `lane` (unsigned).
    static uint64_t low64(I v) { return uint64_t(_mm_cvtsi128_si64(v)); }
    template <int lane>
    static uint16_t lane16(I v) {
        return uint16_t(_mm_extract_epi16(v, lane));
    }

    // ---- Constants ----

    // All ones in the lanes of the channel at `position`.
    static I channelLanes(int position) {
        alignas(32) int16_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i) lanes[i] = int16_t(i % 4 == position ? -1 : 0);
        return loadLanes(lanes);
    }
    // A pixel's pattern of lanes repeated over the vector (here the vector is the pattern).
    static I pattern(const int16_t (&lanes)[8]) { return loadLanes(lanes); }
    static I pattern32(const int32_t (&lanes)[4]) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)); }
    static F floatPattern(const float (&lanes)[4]) { return _mm_loadu_ps(lanes); }
    static I set16(int16_t v) { return _mm_set1_epi16(v); }
    static I set32(int32_t v) { return _mm_set1_epi32(v); }
    static F setFloat(float v) { return _mm_set1_ps(v); }
    // The four lanes in order.
    static F floats(float a, float b, float c, float d) { return _mm_setr_ps(a, b, c, d); }
    static I zero() { return _mm_setzero_si128(); }
    static F zeroFloat() { return _mm_setzero_ps(); }
    static I evenLanes32() { return _mm_set_epi32(0, -1, 0, -1); }
    static Count shiftCount(int n) { return _mm_cvtsi32_si128(n); }

    // ---- 16-bit lanes ----

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
    // All ones where a < b, signed.
    static I less(I a, I b) { return _mm_cmplt_epi16(a, b); }
    static I min(I a, I b) { return _mm_min_epi16(a, b); }
    static I max(I a, I b) { return _mm_max_epi16(a, b); }
    static I subSaturated(I a, I b) { return _mm_subs_epu16(a, b); }
    static I shiftLeft(I a, int n) { return _mm_slli_epi16(a, n); }
    static I shiftRight(I a, int n) { return _mm_srli_epi16(a, n); }
    static I shiftRight(I a, Count count) { return _mm_srl_epi16(a, count); }
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

    // ---- Bits, of lanes of any size ----

    static I bitAnd(I a, I b) { return _mm_and_si128(a, b); }
    static I bitAndNot(I a, I b) { return _mm_andnot_si128(a, b); }
    static I bitOr(I a, I b) { return _mm_or_si128(a, b); }
    static I bitXor(I a, I b) { return _mm_xor_si128(a, b); }
    // Lanes of `ifSet` where `mask` is all ones, of `ifClear` where it is zero.
    static I select(I mask, I ifSet, I ifClear) { return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear)); }
    static bool allZero(I a) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128())) == 0xFFFF; }

    // ---- 32-bit lanes ----

    // The low halves of 16-bit lanes widened with their high halves and back, within each
    // 128-bit half, so that the round trip keeps every lane in place.
    static I interleaveLow(I a, I b) { return _mm_unpacklo_epi16(a, b); }
    static I interleaveHigh(I a, I b) { return _mm_unpackhi_epi16(a, b); }
    static I pack32(I a, I b) { return _mm_packs_epi32(a, b); }
    static I add32(I a, I b) { return _mm_add_epi32(a, b); }
    static I sub32(I a, I b) { return _mm_sub_epi32(a, b); }
    // Unsigned 64-bit products of the even 32-bit lanes, and shifts of the 64-bit lanes.
    static I mulEven32(I a, I b) { return _mm_mul_epu32(a, b); }
    static I shiftRight64(I a, Count count) { return _mm_srl_epi64(a, count); }
    static I shiftRight64By32(I a) { return _mm_srli_epi64(a, 32); }
    static I shiftLeft64By32(I a) { return _mm_slli_epi64(a, 32); }

    // ---- Floats ----

    static F toFloat(I v) { return _mm_cvtepi32_ps(v); }
    // Toward zero, as a C cast.
    static I truncate(F v) { return _mm_cvttps_epi32(v); }
    static F addFloat(F a, F b) { return _mm_add_ps(a, b); }
    static F subFloat(F a, F b) { return _mm_sub_ps(a, b); }
    static F mulFloat(F a, F b) { return _mm_mul_ps(a, b); }
    // b where either is NaN.
    static F minFloat(F a, F b) { return _mm_min_ps(a, b); }
    static F maxFloat(F a, F b) { return _mm_max_ps(a, b); }

    // ---- Pixels along a line (here two of 16-bit lanes, or one of 32-bit lanes a vector) ----

    // Quarter j of a block's pixels, 16-bit samples widened to 32-bit lanes (unsigned).
    static I widenQuarter(Block b, int j) {
        const __m128i half = j < 2 ? b.low : b.high;
        return j % 2 == 0 ? _mm_unpacklo_epi16(half, _mm_setzero_si128()) : _mm_unpackhi_epi16(half, _mm_setzero_si128());
    }
    // Two vectors of 32-bit lanes back to one of 16-bit lanes in order (signed saturation), and
    // the same held to 0..white as heldToWhite holds them.
    static I narrow32(I a, I b) { return _mm_packs_epi32(a, b); }
    template <class Tag>
    static I narrowHeld32(I a, I b) { return heldToWhite<Tag>(narrow32(a, b)); }
    // The same moves for pixels of 32-bit lanes.
    static I repeatFirstPixel32(I v) { return v; }
    static I repeatLastPixel32(I v) { return v; }
    static I pixelsBefore32(I prev, I) { return prev; }
    static I pixelsAfter32(I, I next) { return next; }
};

}  // namespace simd

TX_BEGIN_AVX2

namespace simd {

struct Avx2Lanes {
    using I = __m256i;
    using F = __m256;
    using Count = __m128i;
    static constexpr int kLanes = 16, kBlockPixels = 8;
    struct Block {
        I low, high;  // pixels 0-3, 4-7
    };

    // ---- Memory ----

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
    static I load32(const int32_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }
    static void store32(int32_t* at, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v); }
    static F loadFloat(const float* at) { return _mm256_loadu_ps(at); }
    static void storeFloat(float* at, F v) { _mm256_storeu_ps(at, v); }
    // A vector's bytes as they lie in memory, whatever the lanes.
    static I loadBytes(const void* at) { return _mm256_loadu_si256(static_cast<const __m256i*>(at)); }
    static void storeBytes(void* at, I v) { _mm256_storeu_si256(static_cast<__m256i*>(at), v); }

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

    // ---- Constants ----

    // All ones in the lanes of the channel at `position`.
    static I channelLanes(int position) {
        alignas(32) int16_t lanes[kLanes];
        for (int i = 0; i < kLanes; ++i) lanes[i] = int16_t(i % 4 == position ? -1 : 0);
        return loadLanes(lanes);
    }
    // A pixel's pattern of lanes repeated over the vector.
    static I pattern(const int16_t (&lanes)[8]) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)));
    }
    static I pattern32(const int32_t (&lanes)[4]) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)));
    }
    static F floatPattern(const float (&lanes)[4]) {
        const __m128 four = _mm_loadu_ps(lanes);
        return _mm256_insertf128_ps(_mm256_castps128_ps256(four), four, 1);
    }
    static I set16(int16_t v) { return _mm256_set1_epi16(v); }
    static I set32(int32_t v) { return _mm256_set1_epi32(v); }
    static I set64(int64_t v) { return _mm256_set1_epi64x(v); }
    static F setFloat(float v) { return _mm256_set1_ps(v); }
    static I zero() { return _mm256_setzero_si256(); }
    static F zeroFloat() { return _mm256_setzero_ps(); }
    static I evenLanes32() { return _mm256_set_epi32(0, -1, 0, -1, 0, -1, 0, -1); }
    // 0, 1, ..., 7 in the 32-bit lanes.
    static I laneNumbers32() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
    static Count shiftCount(int n) { return _mm_cvtsi32_si128(n); }

    // ---- 16-bit lanes ----

    static I add(I a, I b) { return _mm256_add_epi16(a, b); }
    static I sub(I a, I b) { return _mm256_sub_epi16(a, b); }
    static I mulLow(I a, I b) { return _mm256_mullo_epi16(a, b); }
    static I mulHigh(I a, I b) { return _mm256_mulhi_epu16(a, b); }
    // (a b + 2^14) >> 15 of signed lanes, and the absolute value.
    static constexpr bool kRoundingMultiply = true;
    static I mulRounded(I a, I b) { return _mm256_mulhrs_epi16(a, b); }
    static I absolute(I a) { return _mm256_abs_epi16(a); }
    static I average(I a, I b) { return _mm256_avg_epu16(a, b); }
    // All ones where a < b, signed.
    static I less(I a, I b) { return _mm256_cmpgt_epi16(b, a); }
    static I min(I a, I b) { return _mm256_min_epi16(a, b); }
    static I max(I a, I b) { return _mm256_max_epi16(a, b); }
    static I subSaturated(I a, I b) { return _mm256_subs_epu16(a, b); }
    static I shiftLeft(I a, int n) { return _mm256_sll_epi16(a, _mm_cvtsi32_si128(n)); }
    static I shiftRight(I a, int n) { return _mm256_srl_epi16(a, _mm_cvtsi32_si128(n)); }
    static I shiftRight(I a, Count count) { return _mm256_srl_epi16(a, count); }
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

    // ---- Bits, of lanes of any size ----

    static I bitAnd(I a, I b) { return _mm256_and_si256(a, b); }
    static I bitAndNot(I a, I b) { return _mm256_andnot_si256(a, b); }
    static I bitOr(I a, I b) { return _mm256_or_si256(a, b); }
    static I bitXor(I a, I b) { return _mm256_xor_si256(a, b); }
    // Lanes of `ifSet` where `mask` is all ones, of `ifClear` where it is zero.
    static I select(I mask, I ifSet, I ifClear) { return _mm256_or_si256(_mm256_and_si256(mask, ifSet), _mm256_andnot_si256(mask, ifClear)); }
    static bool allZero(I a) { return _mm256_testz_si256(a, a) != 0; }
    // Bytes picked within each 128-bit half: byte i of the result is byte picks[i] of v's half,
    // or zero where picks[i] has its top bit set.
    static I shuffleBytes(I v, I picks) { return _mm256_shuffle_epi8(v, picks); }

    // ---- 32-bit lanes ----

    static I interleaveLow(I a, I b) { return _mm256_unpacklo_epi16(a, b); }
    static I interleaveHigh(I a, I b) { return _mm256_unpackhi_epi16(a, b); }
    static I pack32(I a, I b) { return _mm256_packs_epi32(a, b); }
    static I add32(I a, I b) { return _mm256_add_epi32(a, b); }
    static I sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I mulLow32(I a, I b) { return _mm256_mullo_epi32(a, b); }
    static I min32(I a, I b) { return _mm256_min_epi32(a, b); }
    // All ones where a > b, signed.
    static I greater32(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static I shiftLeft32(I a, int n) { return _mm256_slli_epi32(a, n); }
    static I shiftRight32(I a, int n) { return _mm256_srli_epi32(a, n); }
    static I shiftRight32(I a, Count count) { return _mm256_srl_epi32(a, count); }
    static I mulEven32(I a, I b) { return _mm256_mul_epu32(a, b); }
    static I add64(I a, I b) { return _mm256_add_epi64(a, b); }
    // The even 32-bit lanes of `even` with the odd ones of `odd`.
    static I evenOddLanes32(I even, I odd) { return _mm256_blend_epi32(even, odd, 0xAA); }
    static I shiftRight64(I a, Count count) { return _mm256_srl_epi64(a, count); }
    static I shiftRight64By32(I a) { return _mm256_srli_epi64(a, 32); }
    static I shiftLeft64By32(I a) { return _mm256_slli_epi64(a, 32); }
    static I shiftLeft64(I a, Count count) { return _mm256_sll_epi64(a, count); }

    // ---- Floats ----

    static F toFloat(I v) { return _mm256_cvtepi32_ps(v); }
    // Toward zero, as a C cast, and the same kept as floats.
    static I truncate(F v) { return _mm256_cvttps_epi32(v); }
    static F truncateFloat(F v) { return _mm256_round_ps(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
    static F addFloat(F a, F b) { return _mm256_add_ps(a, b); }
    static F subFloat(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mulFloat(F a, F b) { return _mm256_mul_ps(a, b); }
    static F divFloat(F a, F b) { return _mm256_div_ps(a, b); }
    // b where either is NaN.
    static F minFloat(F a, F b) { return _mm256_min_ps(a, b); }
    static F maxFloat(F a, F b) { return _mm256_max_ps(a, b); }
    // Lanes of `ifSet` where `mask` (32-bit lanes) has its top bit set, of `ifClear` elsewhere.
    static F selectFloat(I mask, F ifSet, F ifClear) { return _mm256_blendv_ps(ifClear, ifSet, _mm256_castsi256_ps(mask)); }

    // ---- Pixels along a line (here four of 16-bit lanes, or two of 32-bit lanes a vector) ----

    // Quarter j of a block's pixels, 16-bit samples widened to 32-bit lanes (unsigned).
    static I widenQuarter(Block b, int j) {
        const __m256i half = j < 2 ? b.low : b.high;
        return _mm256_cvtepu16_epi32(j % 2 == 0 ? _mm256_castsi256_si128(half) : _mm256_extracti128_si256(half, 1));
    }
    // Two vectors of 32-bit lanes back to one of 16-bit lanes in order (signed saturation; the
    // pack works within halves, the permute restores the order).
    static I narrow32(I a, I b) { return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0)); }
    // The same held to 0..white: 16-bit samples by the unsigned pack and an unsigned min; 8-bit
    // ones are held by the saturating byte store.
    template <class Tag>
    static I narrowHeld32(I a, I b) {
        if constexpr (kIs16Bit<Tag>) {
            const I packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
            return _mm256_min_epu16(packed, _mm256_set1_epi16(int16_t(Tag::white)));
        } else {
            return narrow32(a, b);
        }
    }
    // The same moves for pixels of 32-bit lanes.
    static I repeatFirstPixel32(I v) { return _mm256_permute2x128_si256(v, v, 0x00); }
    static I repeatLastPixel32(I v) { return _mm256_permute2x128_si256(v, v, 0x11); }
    static I pixelsBefore32(I prev, I v) { return _mm256_permute2x128_si256(prev, v, 0x21); }
    static I pixelsAfter32(I v, I next) { return _mm256_permute2x128_si256(v, next, 0x21); }
    // And for pixels of 16-bit lanes: pixel 0 repeated, pixel 3 repeated, the pixels before
    // (the last of `prev`, then v's but its last) and after (v's but its first, then next's first).
    static I repeatFirstPixel(I v) { return _mm256_permute4x64_epi64(v, 0x00); }
    static I repeatLastPixel(I v) { return _mm256_permute4x64_epi64(v, 0xFF); }
    static I pixelsBefore(I prev, I v) { return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(prev, v, 0x21), 8); }
    static I pixelsAfter(I v, I next) { return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, next, 0x21), v, 8); }
    // kLanes bytes widened to 16-bit lanes, and back, held to 0..255 (lanes read as signed).
    static I loadWidened(const uint8_t* at) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
    }
    static void storeNarrowed(uint8_t* at, I v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                         _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
    }
};

}  // namespace simd

TX_END_AVX2
