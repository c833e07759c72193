// The grain's softening: one pass of a box of fractional width per colour channel.
#pragma once

#include <cstdint>

#include "lib/Common/RasterDesc.h"
#include "lib/Common/Status.h"

// Radius r gives the kernel 1 at offsets -(R-1)..R-1 and f = 1 - (R - r) at +-R, with
// R = ceil(r), normalised by 1 / (2r + 1): radius 1 is a 3-tap box, 0.5 the taps
// 0.5, 1, 0.5 over 2, and 0 the identity. Each line is filtered with integer running sums
// whose weighted terms are truncated as they enter and leave; samples past the ends repeat
// the end pixels. Colour channels are filtered, alpha is copied from the source.
//
// `vertical` filters columns instead of rows. When no radius is above 0 the destination is
// left untouched; a radius below 0 or NaN acts as 0, and radii are held to kMaxGrainRadius
// (the work per line stays proportional to the line). Source and destination must differ;
// only their common area is filtered. 16-bit samples past white count as white. The pass keeps
// tables or a row of sums from the heap: 4, with nothing written, when they are refused.
constexpr float kMaxGrainRadius = 1048576.0f;

template <class Tag>
Status GrainBlur(float radiusRed, float radiusGreen, float radiusBlue, bool vertical, const RasterDesc& source,
                 const RasterDesc& destination);

// The same pass by running sums alone: the reference that GrainBlur's vector path for radii
// up to 1 (the defaults' case) must match bit for bit.
template <class Tag>
Status GrainBlurPlain(float radiusRed, float radiusGreen, float radiusBlue, bool vertical, const RasterDesc& source,
                      const RasterDesc& destination);

namespace grain_blur {
// How both passes taken a row at a time reach their caller: ready(y, row) before row y of
// the layer is first read, for the caller to fill `row` with it; done(y, row) once `row`
// holds its softened values. Rows in order.
struct RowHooks {
    void* context;
    void (*ready)(void* context, int32_t y, uint8_t* row);
    void (*done)(void* context, int32_t y, uint8_t* row);
};
}  // namespace grain_blur

// Both passes, horizontal from `layer` into `buffer` and vertical back into `layer`, taken a
// row at a time so that the rows in work stay in the caches, with the hooks called around
// each layer row. No more than one layer row and two buffer rows are in work at once, so
// only the first rows of each are used: the rest is never touched. The softened rows are
// those of the two GrainBlur calls. Only for radii up to 1 with at least one above 0 over a
// common area of the two that is not empty: otherwise it calls and writes nothing. 4, before
// any hook is called, when the heap refuses the memory the passes keep.
template <class Tag>
Status GrainBlurByRows(float radiusRed, float radiusGreen, float radiusBlue, const RasterDesc& layer,
                       const RasterDesc& buffer, const grain_blur::RowHooks& hooks);
