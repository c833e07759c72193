#include "pipeline/Random.h"

#include <emmintrin.h>

#include "host/avx2/PluginHost_API.h"

namespace rng {

namespace {

// Eight steps at once: state * a^8 + c (a^7 + ... + 1), mod 2^32.
constexpr uint32_t kMultiplier8 = [] {
    uint32_t m = 1;
    for (int i = 0; i < 8; ++i) m *= 214013u;
    return m;
}();
constexpr uint32_t kIncrement8 = [] {
    uint32_t c = 0;
    for (int i = 0; i < 8; ++i) c = c * 214013u + 2531011u;
    return c;
}();

// The low 32 bits of each lane's product (SSE2 has only the 32 x 32 -> 64 of even lanes).
inline __m128i multiplyLow(__m128i a, __m128i b) {
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

}  // namespace

// Each draw waits on the one before when taken one by one; eight states a step apart, each
// moved eight steps at a time, give the same sequence without that wait.
void fill(uint32_t& state, uint16_t* draws, size_t count) {
    size_t i = 0;
    if (count >= 8) {
        alignas(16) uint32_t first[8];
        for (uint32_t& s : first) {
            step(state);
            s = state;
        }
        __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(first));
        __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(first + 4));
        const __m128i multiplier = _mm_set1_epi32(int32_t(kMultiplier8));
        const __m128i increment = _mm_set1_epi32(int32_t(kIncrement8));
        const __m128i bits = _mm_set1_epi32(0x7FFF);
        __m128i last = high;
        for (; i + 8 <= count; i += 8) {
            // Draws are below 2^15, so the signed pack keeps them as they are.
            const __m128i values = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(low, 16), bits),
                                                   _mm_and_si128(_mm_srli_epi32(high, 16), bits));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(draws + i), values);
            last = high;
            low = _mm_add_epi32(multiplyLow(low, multiplier), increment);
            high = _mm_add_epi32(multiplyLow(high, multiplier), increment);
        }
        state = uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi32(last, _MM_SHUFFLE(3, 3, 3, 3))));
    }
    for (; i < count; ++i) draws[i] = uint16_t(step(state));
}

uint32_t& threadState() {
    thread_local uint32_t state = 1;
    return state;
}

uint32_t seedFromFrameNumber(int32_t frame) {
    return frame < 0 ? uint32_t(0) - uint32_t(frame) : uint32_t(frame);
}

void SeedFromFrame(PluginHost_API& host) { threadState() = seedFromFrameNumber(host.frameNumber()); }

}  // namespace rng
