#include <immintrin.h>

#include "lib/Common/simd/ByteTables.h"
#include "lib/Common/simd/TargetAvx2.h"

TX_BEGIN_AVX512_VBMI

namespace byte_tables {

namespace {

// A table's 256 entries in four registers.
struct Table {
    __m512i quarter[4];
};

Table loadTable(const uint8_t* entries) {
    Table t;
    for (int q = 0; q < 4; ++q) t.quarter[q] = _mm512_loadu_si512(entries + 64 * q);
    return t;
}

// Each byte of v through the table: a permute of two registers picks from the lower or the
// upper 128 entries by the byte's bits 0..6, and its top bit picks between the two.
__m512i lookUp(const Table& t, __m512i v, __mmask64 upper) {
    const __m512i low = _mm512_permutex2var_epi8(t.quarter[0], v, t.quarter[1]);
    const __m512i high = _mm512_permutex2var_epi8(t.quarter[2], v, t.quarter[3]);
    return _mm512_mask_blend_epi8(upper, low, high);
}

// The bytes at `offset` within each four-byte pixel.
__mmask64 channelBytes(int offset) { return __mmask64(0x1111111111111111ull << offset); }

}  // namespace

void applyAvx512(const RasterDesc& raster, const uint8_t* const tables[3], const int channel[3]) {
    const Table first = loadTable(tables[0]), second = loadTable(tables[1]), third = loadTable(tables[2]);
    const __mmask64 a = channelBytes(channel[0]), b = channelBytes(channel[1]), c = channelBytes(channel[2]);
    const int64_t rowLength = int64_t(raster.width) * 4;
    for (int32_t y = 0; y < raster.height; ++y) {
        uint8_t* row = raster.pixels + int64_t(y) * raster.rowBytes;
        for (int64_t i = 0; i < rowLength; i += 64) {
            // The row's last bytes under a mask: nothing past the row is read or written.
            const int64_t left = rowLength - i;
            const __mmask64 live = left >= 64 ? ~__mmask64(0) : (__mmask64(1) << left) - 1;
            __m512i v = _mm512_maskz_loadu_epi8(live, row + i);
            const __mmask64 upper = _mm512_movepi8_mask(v);
            const __m512i x = lookUp(first, v, upper), yv = lookUp(second, v, upper), z = lookUp(third, v, upper);
            v = _mm512_mask_mov_epi8(v, a, x);
            v = _mm512_mask_mov_epi8(v, b, yv);
            v = _mm512_mask_mov_epi8(v, c, z);
            _mm512_mask_storeu_epi8(row + i, live, v);
        }
    }
}

}  // namespace byte_tables

TX_END_AVX2
