// The grain noise pass eight samples at a time with AVX2: the generator run in lanes that
// jump to their draws, and each sample's offset, curve entry and weight worked out rather than
// looked up (the processor cannot look up eight table entries at once at any useful speed).
// Made only where the worked-out forms give every entry of the tables the pass was handed.
#pragma once

#include <cstdint>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/RasterDesc.h"

namespace grain_noise {

// The noise formula's mid grey as the fill hands it over (128, or 8224 once widened to 16
// bits) and its 1/W, for the per-sample form and the lanes alike.
template <class Tag>
constexpr int32_t kGrey = fromByte<Tag>(128);
template <class Tag>
constexpr float kInvWhite = kIs16Bit<Tag> ? 1.0f / 16384.0f : 0.003921569f;

// The settings the curves and weights were built from.
struct Shaping {
    float strengths[3];  // percent, R G B
    float suppressBlack, suppressWhite;
};

// Everything the lanes need, fixed for a call.
struct LaneConstants {
    // A draw's curve index v mod m - n + grey, its quotient by m taken as (v * magic) >> shift
    // (exact for 15-bit draws); magic 0 where m exceeds every draw.
    uint32_t modulus, magic;
    int32_t shift, toIndex;
    // Curve entries inside the ends: trunc(t * slope + intercept), in single precision or,
    // where that misses an entry, in double.
    bool doubleCurves;
    float slope[3], intercept[3];
    double slopeD[3], interceptD[3];
    float lowEnd[3], highEnd[3];  // the entries at 0 and white
    // Weights: p < black: p / blackSpan; p > fadeFrom: (white - p) / whiteSpan; else 1.
    int32_t black, fadeFrom;
    float blackSpan, whiteSpan;
};

// The softening window of one channel for a radius up to 1, as GrainBlur works it out in
// single precision.
struct SoftKernel {
    float edge, inner, norm;  // f, 1 - f, 1 / ((2R - 1) + 2f)
    float startSign;          // 2R - 1
    bool sides;               // R = 1: the neighbours take part
};

// The window of each channel for radii that both passes may take a row at a time (up to 1,
// one above 0; NaN and below 0 count as 0), as GrainBlur works them out; false for others.
bool SoftKernels(const float (&radii)[3], SoftKernel (&kernels)[3]);

// The working rows of softenedLaneRows for rows `width` pixels wide (60 bytes a pixel), per
// channel: the row's samples (padded past the end with its last), and per column the next row's
// sum less its lower side term, the last side term, the column's offset, and the softened row
// waiting to be handed over. False where the memory is refused; made apart from the rows, so
// that a caller knows before it starts whether it can have them.
struct SoftRows {
    int32_t stride = 0;
    CallBuffer<float> samples;
    CallBuffer<int32_t> columns;

    SoftRows() = default;
    explicit SoftRows(int32_t width)
        : stride((width + 7) / 8 * 8 + 8), samples(3 * size_t(stride)), columns(12 * size_t(stride)) {}
    explicit operator bool() const { return samples && columns; }
    float* row(int c) { return samples.data() + size_t(c) * stride; }
    int32_t* partial(int c) { return columns.data() + size_t(c) * stride; }
    int32_t* side(int c) { return columns.data() + size_t(3 + c) * stride; }
    int32_t* offset(int c) { return columns.data() + size_t(6 + c) * stride; }
    int32_t* softened(int c) { return columns.data() + size_t(9 + c) * stride; }
};

// Where each finished row goes: done(y, row) once `row` holds row y, rows in order.
struct RowsDone {
    void* context;
    void (*done)(void* context, int32_t y, uint8_t* row);
};

// All three only after cpu::hasAvx2().

// Fills `k` and reports whether the lanes reproduce `curves` and `weights` exactly; false
// also when the amplitude is beyond what the lanes hold.
template <class Tag>
bool prepareLanes(LaneConstants& k, int32_t amplitude, const Shaping& shaping,
                  const typename Tag::Channel* const curves[3], const float* weights);

// Rows first..end-1 of the layer, `width` pixels each, from the generator at `state`, which
// is left after the rows' draws.
template <class Tag>
void laneRows(const LaneConstants& k, bool colorNoise, uint32_t& state, const RasterDesc& picture,
              const RasterDesc& layer, int32_t width, int32_t first, int32_t end);

// Rows 0..height-1 of the layer, softened by both passes of the window (horizontal, then
// vertical), made and handed to `rows` one at a time in `row` (width opaque pixels), each
// sample kept in the lanes from the draw to the softened value: what laneRows and GrainBlur's
// two passes give over the picture's first `height` rows and `width` columns. `work` is made
// for `width` (and holds its memory) unless there are no rows to make.
template <class Tag>
void softenedLaneRows(const LaneConstants& k, bool colorNoise, uint32_t& state, const RasterDesc& picture,
                      int32_t width, int32_t height, const SoftKernel (&kernels)[3], SoftRows& work, uint8_t* row,
                      const RowsDone& rows);

}  // namespace grain_noise
