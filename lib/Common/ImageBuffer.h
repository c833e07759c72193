// A 16-bit image (8 bytes per pixel) with a region of interest and an edge mode that says how
// a lookup outside the image is answered.
#pragma once

#include <cstdint>

#include "lib/Common/RasterDesc.h"

enum ImageEdgeMode : int32_t {
    EDGE_STRICT = 0,  // any value other than the two below: outside is an error
    EDGE_CLAMP = 1,   // coordinates held to the image
    EDGE_WRAP = 2,    // one extent added or subtracted, once
};

struct ImageBuffer {
    uint8_t* pixels = nullptr;
    uint32_t mWidth = 0;
    int32_t mHeight = 0;
    uint32_t stride = 0;  // bytes from one row to the next
    int32_t roiLeft = 0;  // region of interest; right and bottom exclusive
    int32_t roiTop = 0;
    int32_t roiRight = 0;
    int32_t roiBottom = 0;
    int32_t edgeMode = EDGE_STRICT;

    // The first channel of pixel (x, y) after the edge mode. In strict mode (and for a wrapped
    // coordinate still outside) the violation is reported and pixel (0, 0) answered.
    uint16_t* PixelAt(int32_t x, int32_t y) const {
        const int32_t width = int32_t(mWidth);
        if (edgeMode == EDGE_CLAMP) {
            x = x < 0 ? 0 : (x >= width ? width - 1 : x);
            y = y < 0 ? 0 : (y >= mHeight ? mHeight - 1 : y);
        } else if (edgeMode == EDGE_WRAP) {
            x = x < 0 ? x + width : (x >= width ? x - width : x);
            y = y < 0 ? y + mHeight : (y >= mHeight ? y - mHeight : y);
        }
        if (x < 0 || x >= width || y < 0 || y >= mHeight)
            return OutsidePixel(x, y);
        return reinterpret_cast<uint16_t*>(pixels + int64_t(y) * stride + int64_t(x) * 8);
    }

private:
    uint16_t* OutsidePixel(int32_t x, int32_t y) const;
};

// The whole of a 16-bit raster as an ImageBuffer, the region of interest covering it.
ImageBuffer imageBufferOf(const RasterDesc& raster, int32_t edgeMode);

// Rotate-and-scale resampling of `source` into the region of interest of `destination`: the
// 16-bit form of RotateScaleCopy. The source is read with clamped coordinates; the five-tap
// cross sum is divided by 5.0. Tag is PIXEL_ARGB14 or PIXEL_BGRA14 (it places alpha).
template <class Tag>
void TransformResample(const ImageBuffer& source, const ImageBuffer& destination, float sx, float sy, float angle);
