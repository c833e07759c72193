#include "pipeline/Random.h"

#include "host/avx2/PluginHost_API.h"

namespace rng {

uint32_t& threadState() {
    thread_local uint32_t state = 1;
    return state;
}

uint32_t seedFromFrameNumber(int32_t frame) {
    return frame < 0 ? uint32_t(0) - uint32_t(frame) : uint32_t(frame);
}

void SeedFromFrame(PluginHost_API& host) { threadState() = seedFromFrameNumber(host.frameNumber()); }

}  // namespace rng
