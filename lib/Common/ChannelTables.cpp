#include "lib/Common/ChannelTables.h"

#include "lib/Common/PixelFormats.h"
#include "lib/Common/simd/ByteTables.h"
#include "lib/Common/simd/Cpu.h"

template <class Tag>
int32_t ApplyChannelTables(const RasterDesc& raster, const typename Tag::Channel* const tables[3], int32_t white) {
    using F = typename Tag::FORMAT;
    using T = typename Tag::Channel;
    if (!tables[0] || !tables[1] || !tables[2]) return 1;
    const T* red = tables[0];
    const T* green = tables[1];
    const T* blue = tables[2];
    if constexpr (!kIs16Bit<Tag>) {
        if (cpu::hasAvx512Vbmi()) {
            const int channel[3] = {F::R, F::G, F::B};
            byte_tables::applyAvx512(raster, tables, channel);
            return 0;
        }
    }
    const uint32_t last = uint32_t(white);
    // Samples past the last entry take it (only 16-bit ones can be).
    const auto at = [last](T v) { return kIs16Bit<Tag> ? (v < last ? v : last) : uint32_t(v); };
    for (int32_t y = 0; y < raster.height; ++y) {
        T* p = rowOf<Tag>(raster, y);
        // A pixel's entries are all read before any is written: a store through T could alias
        // the tables, and would otherwise hold back every read after it.
        for (int32_t x = 0; x < raster.width; ++x, p += 4) {
            const T r = red[at(p[F::R])], g = green[at(p[F::G])], b = blue[at(p[F::B])];
            p[F::R] = r;
            p[F::G] = g;
            p[F::B] = b;
        }
    }
    return 0;
}

template <class Tag>
void ApplyHandedTables(const RasterDesc& raster, const HandedTables& handed) {
    if (!handed)
        return;
    const typename Tag::Channel* const tables[3] = {handed.table<Tag>(0), handed.table<Tag>(1), handed.table<Tag>(2)};
    ApplyChannelTables<Tag>(raster, tables, handed.white);
}

template int32_t ApplyChannelTables<PIXEL_ARGB8>(const RasterDesc&, const uint8_t* const[3], int32_t);
template void ApplyHandedTables<PIXEL_ARGB8>(const RasterDesc&, const HandedTables&);
template int32_t ApplyChannelTables<PIXEL_BGRA8>(const RasterDesc&, const uint8_t* const[3], int32_t);
template void ApplyHandedTables<PIXEL_BGRA8>(const RasterDesc&, const HandedTables&);
template int32_t ApplyChannelTables<PIXEL_ARGB14>(const RasterDesc&, const uint16_t* const[3], int32_t);
template void ApplyHandedTables<PIXEL_ARGB14>(const RasterDesc&, const HandedTables&);
template int32_t ApplyChannelTables<PIXEL_BGRA14>(const RasterDesc&, const uint16_t* const[3], int32_t);
template void ApplyHandedTables<PIXEL_BGRA14>(const RasterDesc&, const HandedTables&);
