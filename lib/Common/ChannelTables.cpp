#include "lib/Common/ChannelTables.h"

#include "lib/Common/PixelFormats.h"

template <class Tag>
int32_t ApplyChannelTables(const RasterDesc& raster, const typename Tag::Channel* const tables[3], int32_t white) {
    using F = typename Tag::FORMAT;
    using T = typename Tag::Channel;
    if (!tables[0] || !tables[1] || !tables[2]) return 1;
    const T* red = tables[0];
    const T* green = tables[1];
    const T* blue = tables[2];
    const uint32_t last = uint32_t(white);
    for (int32_t y = 0; y < raster.height; ++y) {
        T* p = rowOf<Tag>(raster, y);
        if constexpr (kIs16Bit<Tag>) {
            for (int32_t x = 0; x < raster.width; ++x, p += 4) {
                p[F::R] = red[p[F::R] < last ? p[F::R] : last];
                p[F::G] = green[p[F::G] < last ? p[F::G] : last];
                p[F::B] = blue[p[F::B] < last ? p[F::B] : last];
            }
        } else {
            for (int32_t x = 0; x < raster.width; ++x, p += 4) {
                p[F::R] = red[p[F::R]];
                p[F::G] = green[p[F::G]];
                p[F::B] = blue[p[F::B]];
            }
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
