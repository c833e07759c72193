// How a raster is described to the image core.
#pragma once

#include <cstdint>

// Format codes of the output raster; only 0, 1, 5 and 6 are rendered.
enum : uint32_t {
    FORMAT_ARGB8 = 0,
    FORMAT_BGRA8 = 1,
    FORMAT_ARGB14 = 5,
    FORMAT_BGRA14 = 6,
    FORMAT_OTHER8_A = 15,
    FORMAT_OTHER8_B = 16,
    FORMAT_OTHER16_A = 17,
    FORMAT_OTHER16_B = 18,
};

// Selects the value range of a raster: 8-bit white 255, 16-bit white 32768 or 16384.
enum DepthKind : int32_t {
    DEPTH_8BIT = 0,
    DEPTH_16BIT_32768 = 1,
    DEPTH_16BIT = 2,
};

struct RasterDesc {
    uint8_t* pixels = nullptr;  // first byte of the top row
    uint32_t format = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowBytes = 0;
    uint32_t bytesPerPixel = 0;
    float pixelAspect = 1.0f;
    float scale = 1.0f;
    bool notRGB = false;  // set by the host binding; the core does not read it
};

// The row of `raster` found at `pixels`, as a raster of its own.
inline RasterDesc rowView(const RasterDesc& raster, uint8_t* pixels) {
    RasterDesc row = raster;
    row.pixels = pixels;
    row.height = 1;
    return row;
}

// Row y of `raster`, as a raster of its own.
inline RasterDesc rowView(const RasterDesc& raster, int32_t y) {
    return rowView(raster, raster.pixels + int64_t(y) * raster.rowBytes);
}

// A rectangle of the host-side copy and clear operations and of CompositeRect:
// bottom and right exclusive for CompositeRect, bottom inclusive for clear and copy.
struct Rect16 {
    int16_t top = 0;
    int16_t left = 0;
    int16_t bottom = 0;
    int16_t right = 0;
};
