#include "stages/damage/ScratchEngine.h"

#include <cmath>
#include <iterator>
#include <memory>

#include "lib/Common/FloatMath.h"
#include "lib/Common/InstanceData.h"
#include "pipeline/Random.h"

using rng::RandomUnit;

int32_t ScratchRound(double x) { return truncToInt32(std::floor(x + 0.5)); }

ScratchObject::ScratchObject(int32_t frame, int32_t duration, const ScratchBounds& scratchBounds)
    : lastFrame(frame), birthFrame(frame), bounds(scratchBounds) {
    sLive.fetch_add(1, std::memory_order_relaxed);
    // duration - 1 wraps as 32-bit arithmetic does.
    const int32_t span = int32_t(uint32_t(duration) - 1u);
    lifetime = ScratchRound(RandomUnit() * double(span) + 1.0);
    drift = ScratchRound(RandomUnit() * 3.0);
}

int32_t ScratchObject::update(int32_t frame) {
    if (frame < birthFrame || int64_t(frame) - birthFrame > lifetime) return Dead;
    const double left = bounds.left, right = bounds.right;
    if (position == -1.0) {
        position = RandomUnit() * (right - left) + left;
        lastFrame = frame;
        return Draw;
    }
    if (frame == lastFrame) return Draw;

    const double step = double(int64_t(bounds.right) - bounds.left + 1) * 0.004166666666666667;
    const double w = double(width() - 1);
    int32_t result = Draw;
    switch (drift) {
    case 1:
        position -= RandomUnit() * step;
        if (left >= position + w) result = Dead;
        break;
    case 2:
        position += RandomUnit() * step;
        if (position - w >= right) result = Dead;
        break;
    case 3:
        position += RandomUnit() * 2.0 * step - step;
        if (left >= position + w || position - w >= right) result = Hidden;
        break;
    default:  // drift 0 stands still and draws nothing
        break;
    }
    lastFrame = frame;
    return result;
}

void ScratchObject::setBounds(const ScratchBounds& next) {
    const int32_t newSpan = int32_t(uint32_t(next.right) - uint32_t(next.left));
    const int32_t oldSpan = int32_t(uint32_t(bounds.right) - uint32_t(bounds.left));
    position = position * double(newSpan) / double(oldSpan);
    bounds = next;
}

ScratchBounds ScratchBoundsOf(const ScratchTarget& target) {
    const int16_t width = int16_t(target.width), height = int16_t(target.height);
    return ScratchBounds{0, 0, width - 1, height};
}

// Owned before the list is asked for its entry, so a list that cannot grow loses nothing.
static void append(ScratchList& list, ScratchObject* scratch) {
    std::unique_ptr<ScratchEntry> owned(scratch);
    list.entries.push_back(std::move(owned));
}

bool Scratcher::process(const ScratchPass& pass, const ScratchTarget& target) {
    const ScratchBounds bounds = ScratchBoundsOf(target);
    auto& list = pass.list->entries;
    const size_t count = pass.count > 0 ? size_t(pass.count) : 0;
    while (list.size() < count) append(*pass.list, createScratch(pass.frame, pass.duration, bounds));
    while (list.size() > count) list.pop_front();

    for (auto it = list.begin(); it != list.end();) {
        const auto current = it++;
        ScratchObject* scratch = scratchAt(*current);
        if (!scratch) continue;
        if (!(scratch->bounds == bounds)) scratch->setBounds(bounds);
        switch (scratch->update(pass.frame)) {
        case ScratchObject::Draw:
            if (!scratch->draw(pass, target)) return false;
            break;
        case ScratchObject::Dead: {
            const bool wasLast = it == list.end();
            list.erase(current);
            append(*pass.list, createScratch(pass.frame, pass.duration, bounds));
            // The replacement is placed and drawn in this frame too.
            if (wasLast) it = std::prev(list.end());
            break;
        }
        default:
            break;
        }
    }
    return true;
}

bool BeginScratchFrame(PluginHost_API& host, RasterHolder& output, ScratchList InstanceBlock::*list, int32_t count,
                       int32_t duration, ScratchPass& pass, ScratchTarget& target) {
    InstanceData* data = host.instanceData();
    if (!data || !data->block) return false;
    const RasterDesc out = output.describe();
    target = ScratchTarget{out.pixels, out.width, out.height, out.rowBytes, false};
    pass.frame = host.frameNumber();
    pass.count = count;
    pass.duration = duration;
    pass.list = &(data->block->*list);
    return true;
}
