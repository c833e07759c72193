#include "lib/Common/ImageBuffer.h"

#include "lib/Common/Diagnostics.h"

namespace {
constexpr const char* kUnit = "lib\\Common/ImageBuffer";
}

uint16_t* ImageBuffer::OutsidePixel(int32_t x, int32_t y) const {
    if (x < 0 || x >= int32_t(mWidth))
        diag::assertionFailed("x >= 0 && x < mWidth", kUnit, __LINE__);
    if (y < 0 || y >= mHeight)
        diag::assertionFailed("y >= 0 && y < mHeight", kUnit, __LINE__);
    return reinterpret_cast<uint16_t*>(pixels);
}

ImageBuffer imageBufferOf(const RasterDesc& raster, int32_t edgeMode) {
    ImageBuffer buffer;
    buffer.pixels = raster.pixels;
    buffer.mWidth = raster.width > 0 ? uint32_t(raster.width) : 0;
    buffer.mHeight = raster.height;
    buffer.stride = uint32_t(raster.rowBytes);
    buffer.roiRight = raster.width;
    buffer.roiBottom = raster.height;
    buffer.edgeMode = edgeMode;
    return buffer;
}
