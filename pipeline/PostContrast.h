// Post contrast: one curve around mid grey for the finished frame, applied per channel
// through the instance's three curve tables.
#pragma once

#include <cstdint>

#include "lib/Common/RasterDesc.h"

// Fills entries 0..white of the third table and copies each into the second and first.
// c = contrastAmount / 100; white 255 for one-byte tables, 16384 or 32768 for two-byte ones.
template <class T>
int32_t ContrastCurve(int32_t white, double c, T* tables[3]);

// R through table 0, G through table 1, B through table 2; alpha untouched. 1 when a table
// is missing (nothing done), else 0. 16-bit samples above `white` (a host out of range)
// read the last entry rather than past the table.
template <class Tag>
int32_t ApplyChannelTables(const RasterDesc& raster, typename Tag::Channel* const tables[3], int32_t white);

// x86 truncation of a double to int32: NaN and out-of-range values give INT32_MIN, defined here.
inline int32_t truncToInt32(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return int32_t(v);
}
