// The rotate-and-scale placement's five-tap averages of 8-bit pixels in AVX2 lanes: eight
// destination pixels at a time, their source positions worked out in single precision as the
// per-pixel form does, their taps gathered.
#pragma once

#include <cstdint>

namespace rotated_taps {

// Where the pixels of a destination row fall in the source: for X = i - cx,
// u = (X c - Y s + cx) / sx + 0.5 and v = (X s + Y c + cy) / sy + 0.5, every step in single
// precision, each truncated.
struct RowMapping {
    float cx, cy, c, s, Ys, Yc, sx, sy;
};

// An 8-bit source of four bytes a pixel, rows `stride` bytes apart (positive, and the whole
// source within 2^31 bytes).
struct Source {
    const uint8_t* pixels;
    int32_t stride, lastColumn, lastRow;
};

// Destination pixels i, i + 1, ... of the row into `out` (pixel i's bytes), eight at a time,
// for as long as a whole group lies before `end` and every one of its taps inside the source:
// each colour byte a fifth of the sum of its five taps, the alpha byte (at `alphaByte`) the
// centre's. Returns the first pixel not written. Only after cpu::hasAvx2().
int32_t placeRowAvx2(const Source& source, const RowMapping& m, int32_t i, int32_t end, uint8_t* out, int alphaByte);

}  // namespace rotated_taps
