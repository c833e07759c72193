#include "pipeline/Random.h"

#include "lib/Common/PluginHost_API.h"
#include "lib/Common/simd/LaneWidths.h"

namespace rng {

namespace {

using V = simd::Sse2Lanes;

// States held as 16-bit halves, eight per vector: SSE2 multiplies eight 16-bit lanes at
// once but only two 32-bit ones, and the draw is the high half itself.
struct Halves {
    V::I low, high;
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

inline V::I set16(uint32_t v) { return V::set16(int16_t(uint16_t(v))); }

// s * A + C, mod 2^32, lane by lane: (h:l) * (Ah:Al) = l*Al + ((h*Al + l*Ah) << 16), the
// increment's low half carried into the high half by an unsigned compare.
inline Halves advance(Halves s) {
    const V::I aLow = set16(kMultiplier), aHigh = set16(kMultiplier >> 16);
    const V::I cLow = set16(kIncrement), cHigh = set16(kIncrement >> 16);
    const V::I sign = V::set16(int16_t(0x8000));
    const V::I low = V::add(V::mulLow(s.low, aLow), cLow);
    const V::I carried = V::less(V::bitXor(low, sign), V::bitXor(cLow, sign));
    V::I high = V::add(V::mulHigh(s.low, aLow), V::mulLow(s.high, aLow));
    high = V::add(high, V::add(V::mulLow(s.low, aHigh), cHigh));
    return {low, V::sub(high, carried)};
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
            s[g] = {V::loadLanes(low + 8 * g), V::loadLanes(high + 8 * g)};
        const V::I bits = V::set16(0x7FFF);
        Halves last = s[kGroups - 1];
        for (; i + kLanes <= count; i += kLanes) {
            for (int g = 0; g < kGroups; ++g)
                V::storeLanes(draws + i + 8 * g, V::bitAnd(s[g].high, bits));
            last = s[kGroups - 1];
            for (Halves& h : s) h = advance(h);
        }
        // The state of the last draw handed out: the top lane of the last group.
        state = uint32_t(V::lane16<7>(last.low)) | uint32_t(V::lane16<7>(last.high)) << 16;
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
