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

// Both passes a row at a time: the horizontal pass from the layer into the buffer runs a row
// ahead of the vertical one from the buffer back into the layer, so that the rows in work stay
// in the caches. A layer row is asked for (hooks.ready) before the horizontal pass reads it and
// handed on (hooks.done) once the vertical pass has written it. Layer row y is read by the
// horizontal pass before the vertical one writes row y - 1 into the same place, and buffer
// row y is last read when the vertical pass makes row y, before row y + 2 is made: one layer
// row and two buffer rows are all the passes keep.
constexpr int32_t kLayerRowsHeld = 1, kBufferRowsHeld = 2;

template <class Columns, class Rows>
void bothPassesByRows(Columns& columns, const Rows& horizontal, const RowRing& layer, int32_t height,
                      const RowHooks& hooks) {
    const auto make = [&](int32_t y) {
        hooks.ready(hooks.context, y, layer.row(y));
        horizontal(y);
    };
    for (int32_t y = 0; y < std::min(height, 2); ++y) make(y);
    columns.start();
    for (int32_t y = 0; y < height; ++y) {
        columns.row(y);
        hooks.done(hooks.context, y, layer.row(y));
        if (y + 2 < height)
            make(y + 2);
    }
}

// The window for 8-bit samples in 16-bit lanes, four pixels a vector at the AVX2 width. Each
// truncated single-precision product trunc(x * w) is a whole-number product shifted down,
// (x * m) >> s, with m fitted to w and checked against the float product for every x it can
// meet: samples 0..255 for the terms (s = 16, m up to 2^16: a high product, plus the sample
// where m is 2^16), and for the values every sum a channel's terms and line offsets can add up
// to (s = 20, m up to 2^20: a high product and a low one). Some weights' float products round
// across whole numbers unevenly (at radius 0.05, 11 k gives 10 but 33 k gives 29.9999981): no
// multiplier gives those values, which are then the float products themselves.
struct ShortKernels {
    static constexpr int kTermShift = 16, kValueShift = 20;
    uint32_t edge[4] = {}, inner[4] = {}, norm[4] = {};  // multipliers, 0 in the alpha lane
    int16_t sides[4] = {};                               // all ones where the channel has side taps
    float edgeWeight[4] = {}, startSign[4] = {};         // for the lines' start values
    float normWeight[4] = {};
    bool valuesFitted = true;

    static int32_t product(int32_t x, uint32_t multiplier, int shift) {
        return int32_t((uint64_t(x) * multiplier) >> shift);
    }

    // The multiplier that gives trunc(x * w) for every x in 0..largest, if one does.
    static bool fitted(float w, int32_t largest, int shift, uint32_t& multiplier) {
        const int64_t one = int64_t(1) << shift;
        const int64_t base = int64_t(std::floor(double(w) * double(one)));
        for (int64_t m = std::max<int64_t>(base - 2, 0); m <= std::min<int64_t>(base + 3, one); ++m) {
            int32_t x = 0;
            while (x <= largest && product(x, uint32_t(m), shift) == int32_t(float(x) * w)) ++x;
            if (x > largest) {
                multiplier = uint32_t(m);
                return true;
            }
        }
        return false;
    }

    // False where some channel's terms have no multiplier.
    template <class Tag>
    static bool of(const ChannelKernel (&kernels)[3], ShortKernels& k) {
        using F = typename Tag::FORMAT;
        constexpr int channelOf[3] = {F::R, F::G, F::B};
        for (int c = 0; c < 3; ++c) {
            const int lane = channelOf[c];
            const ChannelKernel& kernel = kernels[c];
            if (!fitted(kernel.edge, 255, kTermShift, k.edge[lane]) ||
                !fitted(kernel.inner, 255, kTermShift, k.inner[lane]))
                return false;
            k.sides[lane] = kernel.hasSides() ? -1 : 0;
            k.edgeWeight[lane] = kernel.edge;
            k.startSign[lane] = kernel.startSign();
            k.normWeight[lane] = kernel.norm;
            // A sum is the two side terms around a centre term plus its line's offset; below 0
            // the lanes take it as 0, whose value is 0 as a negative one's is once held.
            int32_t side = 0, centre = 0, offset = 0;
            for (int32_t p = 0; p < 256; ++p) {
                side = std::max(side, k.side(lane, p));
                centre = std::max(centre, k.centre(lane, p));
                offset = std::max(offset, k.lineOffset(lane, p));
            }
            const int32_t largest = 2 * side + centre + offset;
            k.valuesFitted = k.valuesFitted && fitted(kernel.norm, largest, kValueShift, k.norm[lane]);
        }
        return true;
    }

    // A sample's terms in lane `lane`, as the lanes form them.
    int32_t outer(int lane, int32_t p) const { return product(p, edge[lane], kTermShift); }
    int32_t side(int lane, int32_t p) const { return sides[lane] ? outer(lane, p) : 0; }
    int32_t centre(int lane, int32_t p) const { return outer(lane, p) + product(p, inner[lane], kTermShift); }
    // The start value trunc(2 p0 f + p0 (2R - 1)) less the window at the first sample p0.
    int32_t lineOffset(int lane, int32_t p0) const {
        const float p = float(p0);
        const int32_t start = int32_t((p + p) * edgeWeight[lane] + p * startSign[lane]);
        return start - (2 * side(lane, p0) + centre(lane, p0));
    }
};

// The 16-bit-lane window's passes, 8-bit frames only, at the AVX2 and AVX-512 widths: the same
// as floatPassAvx2 and floatBothAvx2 with the same kernels.
template <class Tag>
bool shortPassAvx2(const ShortKernels& kernels, bool vertical, const RasterDesc& source, const RasterDesc& destination,
                   int32_t width, int32_t height);
template <class Tag>
bool shortBothAvx2(const ShortKernels& kernels, const RasterDesc& layer, const RasterDesc& buffer, int32_t width,
                   int32_t height, const RowHooks& hooks);
template <class Tag>
bool shortPassAvx512(const ShortKernels& kernels, bool vertical, const RasterDesc& source,
                     const RasterDesc& destination, int32_t width, int32_t height);
template <class Tag>
bool shortBothAvx512(const ShortKernels& kernels, const RasterDesc& layer, const RasterDesc& buffer, int32_t width,
                     int32_t height, const RowHooks& hooks);

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
