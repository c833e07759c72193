// The stages' shared random source: one linear congruential generator per thread with the
// C runtime's constants, reseeded from the frame number at fixed points of the chain.
#pragma once

#include <cstddef>
#include <cstdint>

class PluginHost_API;

namespace rng {

// A run of steps taken at once: state * multiplier + increment (mod 2^32).
struct Jump {
    uint32_t multiplier, increment;
    constexpr uint32_t operator()(uint32_t state) const { return state * multiplier + increment; }
};

// One step: state * 214013 + 2531011 (mod 2^32).
constexpr Jump kStep{214013u, 2531011u};

// `count` steps as one jump, by repeated squaring.
constexpr Jump jumpOf(uint64_t count) {
    const auto then = [](Jump first, Jump second) {
        return Jump{first.multiplier * second.multiplier, first.increment * second.multiplier + second.increment};
    };
    Jump run{1, 0}, power = kStep;
    for (; count; count >>= 1, power = then(power, power))
        if (count & 1)
            run = then(run, power);
    return run;
}

// The next state; the draw is its bits 16..30, 0..32767.
inline uint32_t step(uint32_t& state) {
    state = kStep(state);
    return (state >> 16) & 0x7FFFu;
}

// The next `count` draws from `state` into `draws`, exactly as `count` calls of step() give
// them, and `state` left where those calls leave it.
void fill(uint32_t& state, uint16_t* draws, size_t count);

uint32_t& threadState();  // starts at 1 on every thread

inline int32_t Draw() { return int32_t(step(threadState())); }
// A draw divided by 32767: a double in [0, 1].
inline double RandomUnit() { return double(Draw()) / 32767.0; }

// |frame number| of the frame being rendered (the magnitude of INT32_MIN included).
void SeedFromFrame(PluginHost_API& host);
uint32_t seedFromFrameNumber(int32_t frame);

}  // namespace rng
