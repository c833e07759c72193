// Sampling and compositing kernels shared by the stages. Each exists once as a template over
// the pixel-format tag; 8-bit and 16-bit differ only in their constants.
#pragma once

#include <cstdint>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/RasterDesc.h"
#include "lib/Common/Status.h"

class PluginHost_API;

enum BlendMode : int32_t {
    BLEND_NORMAL = 2,
    BLEND_ADD = 4,
    BLEND_MULTIPLY = 5,
    BLEND_SCREEN = 6,
    BLEND_OVERLAY = 7,
    BLEND_SOFT_LIGHT = 8,
    BLEND_HARD_LIGHT = 9,
    BLEND_DARKEN = 10,
    BLEND_LIGHTEN = 11,
    BLEND_DIFFERENCE = 12,
    BLEND_COLOR_DODGE = 23,
    BLEND_COLOR_BURN = 24,
    BLEND_SCREEN_ALT = 35,
};

// Composites the source rectangle of `source` onto the destination rectangle of
// `destination`, in place. Rectangles are top, left, bottom, right with bottom and right
// exclusive. 1 when the two differ in width or height (nothing written); 0 otherwise, also
// for modes not handled. A pixel pair is skipped when its destination pixel lies outside the
// destination raster or its source pixel outside the source raster. The opacity is held to
// 0..1. `host` (may be null) is asked whether it composites itself; our kernel runs anyway.
template <class Tag>
Status CompositeRect(PluginHost_API* host, int32_t mode, const RasterDesc& source, const RasterDesc& destination,
                     const Rect16& sourceRect, const Rect16& destinationRect, double opacity);

// Composites `top` over `base` into `destination` over the base's full size; the
// destination may be the base or the top itself. A smaller top or destination limits the
// extent rather than being overrun. Opacities are held to 0..1. Always 0; modes without a
// kernel (1, 3, 13..22, 25 among them) do nothing.
template <class Tag>
Status BlendImages(PluginHost_API* host, int32_t mode, float topOpacity, float baseOpacity, const RasterDesc& top,
                   const RasterDesc& base, const RasterDesc& destination);

// Row y of a whole-frame BlendImages taken a row at a time, rows in order from 0, given as
// one-row rasters: the host is offered the blend at row 0 only, as the whole-frame call offers
// it once.
template <class Tag>
Status BlendImagesRow(PluginHost_API* host, int32_t y, int32_t mode, float topOpacity, float baseOpacity,
                      const RasterDesc& top, const RasterDesc& base, const RasterDesc& destination);

// Copies the common area of two rasters row by row; each advances by its own stride.
void CopyRows(const RasterDesc& from, const RasterDesc& to);

// Whether the pixel memory of two rasters (their rows and whatever lies between) overlaps.
bool SharePixels(const RasterDesc& a, const RasterDesc& b);

// Writes one colour, given as bytes in R, G, B, A order (widened in 16-bit rasters).
template <class Tag>
void FillRaster(const RasterDesc& raster, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

// R, G, B -> White - value; alpha untouched.
template <class Tag>
void InvertColor(const RasterDesc& raster);

// Copies source column `sourceX`, rows y0..y1, into destination column `destinationX`,
// rows r0..r1, stretching or squeezing by nearest neighbour (Bresenham stepping). Rows
// outside either raster are passed over.
template <class Tag>
void ColumnStretchCopy(const RasterDesc& source, int32_t sourceX, int32_t y0, int32_t y1,
                       const RasterDesc& destination, int32_t destinationX, int32_t r0, int32_t r1);

// Moving-average passes of radius r over all four channels, edges clamped; r < 1 does
// nothing. The full blur is BoxBlurHorizontal(A -> B) then BoxBlurVertical(B -> A); a pass
// cannot work in place (`from` and `to` must differ). The vertical pass keeps a row of sums
// from the heap: 4 (nothing written) when that is refused, else 0.
template <class Tag>
void BoxBlurHorizontal(const RasterDesc& from, const RasterDesc& to, int32_t radius);
template <class Tag>
Status BoxBlurVertical(const RasterDesc& from, const RasterDesc& to, int32_t radius);

// Called once row y of a blur's destination holds its values, rows in order.
struct BlurRowDone {
    void* context;
    void (*row)(void* context, int32_t y);
};

// The full blur of `from` into `to`, the rows `to` would hold after BoxBlurHorizontal(from ->
// B) and BoxBlurVertical(B -> to), a row at a time: the horizontal pass runs just ahead of the
// vertical one, through the first rows of `ring` (at most 2r + 6), so that the rows in work
// stay in the caches. Only where the processor has AVX2, the three rasters have the same size
// and share no byte, and r is at least 1: false otherwise, with nothing touched. Else `status`
// is 0, or 4 with nothing written and no row done when the heap refuses the row of sums.
template <class Tag>
bool BoxBlurByRows(const RasterDesc& from, const RasterDesc& ring, const RasterDesc& to, int32_t radius,
                   const BlurRowDone& done, Status& status);

// Places `source` centred in `destination`, scaled by (sx, sy) and rotated by `angle`
// degrees, with a five-tap cross filter. A placement larger than the destination is cut at
// its edges. TransformResample (ImageBuffer.h) is the 16-bit form on ImageBuffers.
template <class Tag>
void RotateScaleCopy(const RasterDesc& source, const RasterDesc& destination, float sx, float sy, float angle);

// The same placement with only the destination pixels inside `window` (bottom and right
// exclusive) written; the 16-bit forms sum their taps as TransformResample does. For a
// texture of which only that part will be composited.
template <class Tag>
void RotateScaleCopyWindow(const RasterDesc& source, const RasterDesc& destination, float sx, float sy, float angle,
                           const Rect16& window);

// Level curves of White + 1 entries per channel. levels[c] = {gamma, input black,
// input white, output black, output white}, fractions of White. A null table is skipped;
// the 16-bit value ranges (ImageProc.h) can allocate missing ones.
template <class Channel>
void BuildChannelCurves(int32_t white, const double levels[3][5], Channel* tables[3]);
