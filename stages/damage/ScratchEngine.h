// The scratch engine: keeps a list of scratches at the asked count from frame to frame,
// replaces the dead at once and draws the living. A kind of scratch supplies only how one is
// made and drawn.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "lib/Common/ScratchList.h"
#include "lib/Common/StageTypes.h"

struct InstanceBlock;

class Scratcher {
public:
    virtual ~Scratcher() = default;
    // Runs one frame: count, then update and draw every scratch front to back. False as soon
    // as a draw fails; the scratches after it keep their state for the next frame.
    virtual bool process(const ScratchPass& pass, const ScratchTarget& target);
    // A new scratch of the concrete kind, or null when it cannot be made.
    virtual ScratchObject* createScratch(int32_t frame, int32_t duration, const ScratchBounds& bounds) = 0;
};

// The bounds of a frame: its size read as 16-bit values, as the rectangles that draw it are.
ScratchBounds ScratchBoundsOf(const ScratchTarget& target);

// round(x) = floor(x + 0.5) into 32 bits, as every scratch draw rounds.
int32_t ScratchRound(double x);

// A scratch stage's frame: the output as the target, the pass over the instance's `list`.
// False when the instance has no block to keep scratches in.
bool BeginScratchFrame(PluginHost_API& host, RasterHolder& output, ScratchList InstanceBlock::*list, int32_t count,
                       int32_t duration, ScratchPass& pass, ScratchTarget& target);

// The scratch of an entry as the frame's format draws it: one made while frames came in
// another format is taken over, state and all, by `Kind` (an entry the heap refuses that
// becomes empty). Null for an empty entry.
template <class Kind, class Base>
Base* ScratchInFormat(std::unique_ptr<ScratchEntry>& entry) {
    auto* scratch = static_cast<Base*>(entry.get());
    if (scratch && !dynamic_cast<Kind*>(scratch)) entry.reset(new (std::nothrow) Kind(*scratch));
    return static_cast<Base*>(entry.get());
}
