// The small shared operations: fill, colour inversion, column stretch copy and level curves.
#include "lib/Common/Kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

namespace {

// trunc(x) held to 0..white; NaN counts as below the range.
int32_t truncatedLevel(double x, int32_t white) {
    if (!(x >= 0.0))
        return 0;
    return x >= double(white) ? white : int32_t(x);
}

// The addresses of the first and one past the last byte a raster's rows span (rows may run
// upwards, with a negative stride).
std::pair<uintptr_t, uintptr_t> span(const RasterDesc& d) {
    const int64_t row = int64_t(d.width) * d.bytesPerPixel, last = int64_t(d.height - 1) * d.rowBytes;
    const uintptr_t base = reinterpret_cast<uintptr_t>(d.pixels);
    return {base + uintptr_t(std::min<int64_t>(last, 0)), base + uintptr_t(std::max<int64_t>(last, 0) + row)};
}

}  // namespace

void CopyRows(const RasterDesc& from, const RasterDesc& to) {
    if (!from.pixels || !to.pixels) return;
    const int64_t rowLength = std::min(int64_t(from.width) * from.bytesPerPixel, int64_t(to.width) * to.bytesPerPixel);
    const int32_t rows = std::min(from.height, to.height);
    if (rowLength <= 0) return;
    for (int32_t y = 0; y < rows; ++y)
        std::memcpy(to.pixels + int64_t(y) * to.rowBytes, from.pixels + int64_t(y) * from.rowBytes, size_t(rowLength));
}

bool SharePixels(const RasterDesc& a, const RasterDesc& b) {
    if (!a.pixels || !b.pixels || a.width <= 0 || b.width <= 0 || a.height <= 0 || b.height <= 0)
        return false;
    const auto [aFirst, aEnd] = span(a);
    const auto [bFirst, bEnd] = span(b);
    return aFirst < bEnd && bFirst < aEnd;
}

template <class Tag>
void FillRaster(const RasterDesc& raster, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    using Channel = typename Tag::Channel;
    using F = typename Tag::FORMAT;
    Channel pixel[4];
    pixel[F::R] = fromByte<Tag>(r);
    pixel[F::G] = fromByte<Tag>(g);
    pixel[F::B] = fromByte<Tag>(b);
    pixel[F::A] = fromByte<Tag>(a);
    if (raster.width <= 0 || raster.height <= 0)
        return;
    // The first row a pixel at a time, as whole-pixel words; the others copied from it.
    using Word = std::conditional_t<kIs16Bit<Tag>, uint64_t, uint32_t>;
    Word word;
    std::memcpy(&word, pixel, sizeof word);
    Channel* first = rowOf<Tag>(raster, 0);
    for (int32_t x = 0; x < raster.width; ++x)
        std::memcpy(first + 4 * x, &word, sizeof word);
    const size_t rowBytes = size_t(raster.width) * sizeof word;
    // Rows may share memory (a raster whose rows are one row): moved, not copied.
    for (int32_t y = 1; y < raster.height; ++y)
        if (Channel* row = rowOf<Tag>(raster, y); row != first)
            std::memmove(row, first, rowBytes);
}

template <class Tag>
void InvertColor(const RasterDesc& raster) {
    using Channel = typename Tag::Channel;
    using F = typename Tag::FORMAT;
    // Samples above white (foreign data) would wrap; they invert to 0 instead.
    const auto inverted = [](Channel v) { return Channel(v < Tag::white ? Tag::white - v : 0); };
    for (int32_t y = 0; y < raster.height; ++y) {
        Channel* px = rowOf<Tag>(raster, y);
        for (int32_t x = 0; x < raster.width; ++x, px += 4) {
            px[F::R] = inverted(px[F::R]);
            px[F::G] = inverted(px[F::G]);
            px[F::B] = inverted(px[F::B]);
        }
    }
}

template <class Tag>
void ColumnStretchCopy(const RasterDesc& source, int32_t sourceX, int32_t y0, int32_t y1,
                       const RasterDesc& destination, int32_t destinationX, int32_t r0, int32_t r1) {
    using Channel = typename Tag::Channel;
    const bool sourceColumn = sourceX >= 0 && sourceX < source.width;
    const bool destinationColumn = destinationX >= 0 && destinationX < destination.width;
    if (!sourceColumn || !destinationColumn)
        return;
    const int64_t sourceSpan = std::llabs(int64_t(y1) - y0);
    const int64_t destinationSpan = std::llabs(int64_t(r1) - r0);
    const int32_t sourceStep = y1 >= y0 ? 1 : -1;
    const int32_t destinationStep = r1 >= r0 ? 1 : -1;
    int64_t error = 2 * sourceSpan - destinationSpan;
    int32_t y = y0;
    int32_t r = r0;
    for (int64_t step = 0;; ++step) {
        // Rows outside either raster are passed over, not read or written.
        if (y >= 0 && y < source.height && r >= 0 && r < destination.height) {
            const Channel* from = rowOf<Tag>(source, y) + 4 * sourceX;
            std::copy(from, from + 4, rowOf<Tag>(destination, r) + 4 * destinationX);
        }
        // The stepping after the last row is of no use (and would not end for a single row).
        if (step == destinationSpan)
            break;
        for (; error >= 0; error -= 2 * destinationSpan)
            y += sourceStep;
        r += destinationStep;
        error += 2 * sourceSpan;
    }
}

template <class Channel>
void BuildChannelCurves(int32_t white, const double levels[3][5], Channel* tables[3]) {
    const double w = white;
    for (int channel = 0; channel < 3; ++channel) {
        Channel* table = tables[channel];
        if (!table)
            continue;
        const double gamma = levels[channel][0];
        const double inBlack = levels[channel][1];
        const double inWhite = levels[channel][2];
        const double outBlack = levels[channel][3];
        const double outWhite = levels[channel][4];
        const double low = std::min(inBlack, inWhite) * w;
        const double high = std::max(inBlack, inWhite) * w;
        const Channel floorEntry = Channel(truncatedLevel(outBlack * w, white));
        const Channel ceilingEntry = Channel(truncatedLevel(outWhite * w, white));
        const double exponent = 1.0 / gamma;
        for (int32_t v = 0; v <= white; ++v) {
            if (v <= low) {
                table[v] = floorEntry;
            } else if (v >= high) {
                table[v] = ceilingEntry;
            } else {
                const double t = (v - inBlack * w) / ((inWhite - inBlack) * w);
                // t^1 is t: the common gamma 1 (grain's tables) skips a pow per entry.
                const double shaped = exponent == 1.0 ? t : std::pow(t, exponent);
                table[v] = Channel(truncatedLevel(shaped * (outWhite - outBlack) * w + outBlack * w + 0.5, white));
            }
        }
    }
}

template void FillRaster<PIXEL_ARGB8>(const RasterDesc&, uint8_t, uint8_t, uint8_t, uint8_t);
template void FillRaster<PIXEL_BGRA8>(const RasterDesc&, uint8_t, uint8_t, uint8_t, uint8_t);
template void FillRaster<PIXEL_ARGB14>(const RasterDesc&, uint8_t, uint8_t, uint8_t, uint8_t);
template void FillRaster<PIXEL_BGRA14>(const RasterDesc&, uint8_t, uint8_t, uint8_t, uint8_t);

template void InvertColor<PIXEL_ARGB8>(const RasterDesc&);
template void InvertColor<PIXEL_BGRA8>(const RasterDesc&);
template void InvertColor<PIXEL_ARGB14>(const RasterDesc&);
template void InvertColor<PIXEL_BGRA14>(const RasterDesc&);

template void ColumnStretchCopy<PIXEL_ARGB8>(const RasterDesc&, int32_t, int32_t, int32_t, const RasterDesc&,
                                             int32_t, int32_t, int32_t);
template void ColumnStretchCopy<PIXEL_BGRA8>(const RasterDesc&, int32_t, int32_t, int32_t, const RasterDesc&,
                                             int32_t, int32_t, int32_t);
template void ColumnStretchCopy<PIXEL_ARGB14>(const RasterDesc&, int32_t, int32_t, int32_t, const RasterDesc&,
                                              int32_t, int32_t, int32_t);
template void ColumnStretchCopy<PIXEL_BGRA14>(const RasterDesc&, int32_t, int32_t, int32_t, const RasterDesc&,
                                              int32_t, int32_t, int32_t);

template void BuildChannelCurves<uint8_t>(int32_t, const double[3][5], uint8_t*[3]);
template void BuildChannelCurves<uint16_t>(int32_t, const double[3][5], uint16_t*[3]);
