// Pixels in SSE2 registers, for the vector paths that sit beside the plain kernels. SSE2 is
// part of every x86-64 processor, so nothing here needs a run-time check.
//
// A block is four neighbouring pixels (16 bytes of 8-bit pixels, 32 of 16-bit ones), held as
// two vectors of eight 16-bit samples in memory order: 8-bit samples are widened, 16-bit ones
// taken as they are. A sample's lane modulo 4 is its channel position in the pixel format.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "lib/Common/PixelFormats.h"

namespace pixel_vectors {

constexpr int kBlockPixels = 4;

template <class Tag>
constexpr int kBlockBytes = kBlockPixels * Tag::bytesPerPixel;

// Pixels 0-1 in `low`, 2-3 in `high`.
struct Block {
    __m128i low, high;
};

template <class Tag>
inline Block loadBlock(const uint8_t* at) {
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
inline void storeBlock(uint8_t* at, Block b) {
    if constexpr (kIs16Bit<Tag>) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), b.low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16), b.high);
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_packus_epi16(b.low, b.high));
    }
}

// The first `count` (1..3) pixels of a block at the end of a line; the lanes past them repeat
// the last one, which is also the edge rule of the filters.
template <class Tag>
inline Block loadPartialBlock(const uint8_t* at, int count) {
    alignas(16) uint8_t bytes[kBlockBytes<Tag>];
    std::memcpy(bytes, at, size_t(count) * Tag::bytesPerPixel);
    for (int k = count; k < kBlockPixels; ++k)
        std::memcpy(bytes + k * Tag::bytesPerPixel, at + (count - 1) * Tag::bytesPerPixel, Tag::bytesPerPixel);
    return loadBlock<Tag>(bytes);
}

template <class Tag>
inline void storePartialBlock(uint8_t* at, Block b, int count) {
    alignas(16) uint8_t bytes[kBlockBytes<Tag>];
    storeBlock<Tag>(bytes, b);
    std::memcpy(at, bytes, size_t(count) * Tag::bytesPerPixel);
}

// Signed 16-bit samples held to 0..white: what a plain kernel's clamp does before it stores.
// For 8-bit pixels the saturating byte store holds them.
template <class Tag>
inline __m128i heldToWhite(__m128i v) {
    if constexpr (kIs16Bit<Tag>)
        return _mm_max_epi16(_mm_min_epi16(v, _mm_set1_epi16(short(Tag::white))), _mm_setzero_si128());
    else
        return v;
}

// All ones in the alpha lanes of a block vector.
template <class Tag>
inline __m128i alphaLanes() {
    constexpr int a = Tag::FORMAT::A;
    const auto lane = [](int i) { return short(i % 4 == a ? -1 : 0); };
    return _mm_setr_epi16(lane(0), lane(1), lane(2), lane(3), lane(4), lane(5), lane(6), lane(7));
}

// The colour lanes of `colours` with the alpha lanes of `alphas`.
inline __m128i withAlpha(__m128i colours, __m128i alphas, __m128i alphaMask) {
    return _mm_or_si128(_mm_andnot_si128(alphaMask, colours), _mm_and_si128(alphaMask, alphas));
}

// One pixel of a block vector as four 32-bit lanes, and two back (saturating to 16 bits signed).
inline __m128i firstPixel(__m128i v) { return _mm_unpacklo_epi16(v, _mm_setzero_si128()); }
inline __m128i secondPixel(__m128i v) { return _mm_unpackhi_epi16(v, _mm_setzero_si128()); }
inline __m128i twoPixels(__m128i first, __m128i second) { return _mm_packs_epi32(first, second); }

}  // namespace pixel_vectors
