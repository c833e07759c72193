// Per-channel lookup tables applied to a whole frame: the finishing step of flicker and
// post contrast.
#pragma once

#include <cstdint>

#include "lib/Common/RasterDesc.h"

// R through table 0, G through table 1, B through table 2; alpha untouched. 1 when a table
// is missing (nothing done), else 0. 16-bit samples above `white` (a host out of range)
// read the last entry rather than past the table.
template <class Tag>
int32_t ApplyChannelTables(const RasterDesc& raster, typename Tag::Channel* const tables[3], int32_t white);
