// GrainBlur's window for radii up to 1, in single precision: what GrainBlur and the two vector
// widths' units share.
#pragma once

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/RasterDesc.h"
#include "stages/tone/grain/GrainBlur.h"

namespace grain_blur {

// Rows of a raster as the passes reach them: row y is row y % held of the raster, so that its
// first rows can stand for all of it where no more are in work at once.
struct RowRing {
    uint8_t* pixels;
    int32_t rowBytes;
    int32_t held;

    static RowRing whole(const RasterDesc& r) { return {r.pixels, r.rowBytes, INT32_MAX}; }
    static RowRing first(const RasterDesc& r, int32_t rows) { return {r.pixels, r.rowBytes, rows}; }
    uint8_t* row(int32_t y) const { return pixels + ptrdiff_t(y % held) * rowBytes; }
};

// One channel's kernel, worked out once per pass, in single precision like the radii.
struct ChannelKernel {
    int64_t reach = 0;   // R = ceil(r)
    float edge = 1.0f;   // f: the weight of the two outer taps
    float inner = 0.0f;  // 1 - f: what an outer tap lacks of a full one
    float norm = 1.0f;   // k = 1 / ((2R - 1) + 2f)

    explicit ChannelKernel(float radius) {
        const float r = radius > 0.0f ? std::min(radius, kMaxGrainRadius) : 0.0f;
        reach = int64_t(std::ceil(r));
        edge = 1.0f - (float(reach) - r);
        inner = 1.0f - edge;
        norm = 1.0f / (float(2 * reach - 1) + 2.0f * edge);
    }

    // Whether the neighbours take part (R = 1), and 2R - 1 as the window's float steps take it.
    bool hasSides() const { return reach == 1; }
    float startSign() const { return float(2 * reach - 1); }

    // The weighted terms, truncated as they enter and leave the sum.
    int64_t outer(int32_t p) const { return int64_t(float(p) * edge); }
    int64_t rest(int32_t p) const { return int64_t(float(p) * inner); }

    // The sum centred before the first sample, where every tap reads the first sample.
    int64_t start(int32_t p0) const { return int64_t(float(p0 * 2) * edge + float(int64_t(p0) * (2 * reach - 1))); }
};

// The window's single-precision form: each channel's weights at its lane position (alpha
// lanes zero, their results replaced by the source alpha).
struct FloatKernels {
    float edge[4] = {}, inner[4] = {}, norm[4] = {};
    float startSign[4] = {};  // 2R - 1
    int32_t sides[4] = {};    // all ones where the channel has side taps (R = 1)

    template <class Tag>
    static FloatKernels of(const ChannelKernel (&kernels)[3]) {
        using F = typename Tag::FORMAT;
        constexpr int channelOf[3] = {F::R, F::G, F::B};
        FloatKernels k;
        for (int c = 0; c < 3; ++c) {
            const int lane = channelOf[c];
            k.edge[lane] = kernels[c].edge;
            k.inner[lane] = kernels[c].inner;
            k.norm[lane] = kernels[c].norm;
            k.startSign[lane] = kernels[c].startSign();
            k.sides[lane] = kernels[c].hasSides() ? -1 : 0;
        }
        return k;
    }
};

// Each function below keeps its columns' working memory from the heap; where that is refused
// it writes nothing (and calls no hook) and answers false. A pass over rows keeps none.

// Both passes a row at a time, the horizontal one from `layer` into `buffer`, the vertical one
// back into `layer`, at either width: what GrainBlur's two calls give, row by row.
template <class Tag>
bool floatBothSse2(const FloatKernels& kernels, const RasterDesc& layer, const RasterDesc& buffer, int32_t width,
                   int32_t height, const RowHooks& hooks);
template <class Tag>
bool floatBothAvx2(const FloatKernels& kernels, const RasterDesc& layer, const RasterDesc& buffer, int32_t width,
                   int32_t height, const RowHooks& hooks);

// One pass of the single-precision window, over rows or columns, at either width.
template <class Tag>
bool floatPassSse2(const FloatKernels& kernels, bool vertical, const RasterDesc& source,
                   const RasterDesc& destination, int32_t width, int32_t height);
template <class Tag>
bool floatPassAvx2(const FloatKernels& kernels, bool vertical, const RasterDesc& source,
                   const RasterDesc& destination, int32_t width, int32_t height);

}  // namespace grain_blur
