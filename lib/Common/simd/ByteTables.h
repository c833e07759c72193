// Three 256-entry byte tables over the colour samples of 8-bit pixels, sixteen pixels at a time
// through AVX-512's byte permutes: what a scalar loop does with three loads a sample.
#pragma once

#include <cstdint>

#include "lib/Common/RasterDesc.h"

namespace byte_tables {

// Over every row of `raster` (four bytes a pixel): the byte at offset channel[c] of each pixel
// through tables[c], the pixel's fourth byte kept. Only after cpu::hasAvx512Vbmi().
void applyAvx512(const RasterDesc& raster, const uint8_t* const tables[3], const int channel[3]);

}  // namespace byte_tables
