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
// exclusive. 1 when the two differ in width or height; 0 otherwise, also for modes not
// handled. Destination pixels outside the destination raster are skipped with their sources.
// `host` (may be null) is asked whether it composites itself; it always declines here.
template <class Tag>
Status CompositeRect(PluginHost_API* host, int32_t mode, const RasterDesc& source, const RasterDesc& destination,
                     const Rect16& sourceRect, const Rect16& destinationRect, double opacity);

// Composites `top` over `base` into `destination` over the base's full size; the
// destination may be the base itself. Always 0.
template <class Tag>
Status BlendImages(PluginHost_API* host, int32_t mode, float topOpacity, float baseOpacity, const RasterDesc& top,
                   const RasterDesc& base, const RasterDesc& destination);

// Writes one colour, given as bytes in R, G, B, A order (widened in 16-bit rasters).
template <class Tag>
void FillRaster(const RasterDesc& raster, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

// R, G, B -> White - value; alpha untouched.
template <class Tag>
void InvertColor(const RasterDesc& raster);

// Copies source column `sourceX`, rows y0..y1, into destination column `destinationX`,
// rows r0..r1, stretching or squeezing by nearest neighbour (Bresenham stepping).
template <class Tag>
void ColumnStretchCopy(const RasterDesc& source, int32_t sourceX, int32_t y0, int32_t y1,
                       const RasterDesc& destination, int32_t destinationX, int32_t r0, int32_t r1);

// Moving-average passes of radius r over all four channels, edges clamped; r < 1 does
// nothing. The full blur is BoxBlurHorizontal(A -> B) then BoxBlurVertical(B -> A).
template <class Tag>
void BoxBlurHorizontal(const RasterDesc& from, const RasterDesc& to, int32_t radius);
template <class Tag>
void BoxBlurVertical(const RasterDesc& from, const RasterDesc& to, int32_t radius);

// Places `source` centred in `destination`, scaled by (sx, sy) and rotated by `angle`
// degrees, with a five-tap cross filter (8-bit).
template <class Tag>
void RotateScaleCopy(const RasterDesc& source, const RasterDesc& destination, float sx, float sy, float angle);

// Level curves of White + 1 entries per channel. levels[c] = {gamma, input black,
// input white, output black, output white}, fractions of White.
template <class Channel>
void BuildChannelCurves(int32_t white, const double levels[3][5], Channel* tables[3]);
