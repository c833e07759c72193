#include "pipeline/Random.h"

#include <emmintrin.h>

#include "lib/Common/PluginHost_API.h"

namespace rng {

namespace {

// States held as 16-bit halves, eight per vector: SSE2 multiplies eight 16-bit lanes at
// once but only two 32-bit ones, and the draw is the high half itself.
struct Halves {
    __m128i low, high;
};

constexpr int kGroups = 4;                 // independent vectors, to hide the multiplies' latency
constexpr int kLanes = 8 * kGroups;        // states in flight, each a step after the last
constexpr uint32_t kMultiplier = jumpOf(kLanes).multiplier;
constexpr uint32_t kIncrement = jumpOf(kLanes).increment;

// The jumps from the state before a run to each of its first kLanes states.
struct LaneJumps {
    Jump to[kLanes];
};
constexpr LaneJumps kLaneJumps = [] {
    LaneJumps jumps{};
    for (int lane = 0; lane < kLanes; ++lane) jumps.to[lane] = jumpOf(uint64_t(lane) + 1);
    return jumps;
}();

inline __m128i set16(uint32_t v) { return _mm_set1_epi16(int16_t(uint16_t(v))); }

// s * A + C, mod 2^32, lane by lane: (h:l) * (Ah:Al) = l*Al + ((h*Al + l*Ah) << 16), the
// increment's low half carried into the high half by an unsigned compare.
inline Halves advance(Halves s) {
    const __m128i aLow = set16(kMultiplier), aHigh = set16(kMultiplier >> 16);
    const __m128i cLow = set16(kIncrement), cHigh = set16(kIncrement >> 16);
    const __m128i sign = _mm_set1_epi16(int16_t(0x8000));
    const __m128i low = _mm_add_epi16(_mm_mullo_epi16(s.low, aLow), cLow);
    const __m128i carried = _mm_cmplt_epi16(_mm_xor_si128(low, sign), _mm_xor_si128(cLow, sign));
    __m128i high = _mm_add_epi16(_mm_mulhi_epu16(s.low, aLow), _mm_mullo_epi16(s.high, aLow));
    high = _mm_add_epi16(high, _mm_add_epi16(_mm_mullo_epi16(s.low, aHigh), cHigh));
    return {low, _mm_sub_epi16(high, carried)};
}

}  // namespace

// Each draw waits on the one before when taken one by one; 32 states a step apart, each
// moved 32 steps at a time, give the same sequence without that wait.
void fill(uint32_t& state, uint16_t* draws, size_t count) {
    size_t i = 0;
    if (count >= size_t(kLanes)) {
        alignas(16) uint16_t low[kLanes], high[kLanes];
        // Each lane jumps straight to its place, none waiting on another.
        for (int lane = 0; lane < kLanes; ++lane) {
            const uint32_t s = kLaneJumps.to[lane](state);
            low[lane] = uint16_t(s);
            high[lane] = uint16_t(s >> 16);
        }
        Halves s[kGroups];
        for (int g = 0; g < kGroups; ++g)
            s[g] = {_mm_load_si128(reinterpret_cast<const __m128i*>(low + 8 * g)),
                    _mm_load_si128(reinterpret_cast<const __m128i*>(high + 8 * g))};
        const __m128i bits = _mm_set1_epi16(0x7FFF);
        Halves last = s[kGroups - 1];
        for (; i + kLanes <= count; i += kLanes) {
            for (int g = 0; g < kGroups; ++g)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(draws + i + 8 * g), _mm_and_si128(s[g].high, bits));
            last = s[kGroups - 1];
            for (Halves& h : s) h = advance(h);
        }
        // The state of the last draw handed out: the top lane of the last group.
        state = uint32_t(uint16_t(_mm_extract_epi16(last.low, 7))) | uint32_t(uint16_t(_mm_extract_epi16(last.high, 7))) << 16;
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
