// What dust and splotches share: where a drawn texture lands on the frame, clipped to it.
#pragma once

#include <cmath>
#include <cstdint>

#include "lib/Common/RasterDesc.h"

struct Placement {
    Rect16 source;
    Rect16 destination;
};

// A width x height image with its corner at (x, y) on a frame of frameWidth x frameHeight: a
// negative corner moves the source's edge inward, and the far edges are cut at the frame,
// the source's shrinking with them. The values are 16-bit, as CompositeRect takes them.
inline Placement ClipPlacement(float x, float y, int32_t width, int32_t height, int32_t frameWidth,
                               int32_t frameHeight) {
    Placement p;
    p.source = Rect16{0, 0, int16_t(height), int16_t(width)};
    if (x < 0)
        p.source.left = int16_t(p.source.left + int32_t(std::fabs(x)));
    else
        p.destination.left = int16_t(int32_t(x));
    if (y < 0)
        p.source.top = int16_t(p.source.top + int32_t(std::fabs(y)));
    else
        p.destination.top = int16_t(int32_t(y));
    p.destination.right = int16_t(p.destination.left - p.source.left + p.source.right);
    p.destination.bottom = int16_t(p.destination.top - p.source.top + p.source.bottom);
    if (p.destination.right >= frameWidth) {
        p.source.right = int16_t(p.source.right + frameWidth - p.destination.right);
        p.destination.right = int16_t(frameWidth);
    }
    if (p.destination.bottom >= frameHeight) {
        p.source.bottom = int16_t(p.source.bottom + frameHeight - p.destination.bottom);
        p.destination.bottom = int16_t(frameHeight);
    }
    return p;
}

// Whether the placement shows any of the image.
inline bool Visible(const Placement& p) {
    return p.source.right > p.source.left && p.source.bottom > p.source.top;
}

// A corner drawn uniformly in -extent..frameExtent: r (frameExtent + extent) in double,
// narrowed, then -extent, the half and the floor in single precision.
inline float PlacementCorner(double r, int32_t frameExtent, int32_t extent) {
    // Widened first: an extent out of all range (INT32_MIN) has no negation in 32 bits.
    const int64_t span = int64_t(frameExtent) + int64_t(extent), start = -int64_t(extent);
    return std::floor(float(r * double(span)) + float(start) + 0.5f);
}
