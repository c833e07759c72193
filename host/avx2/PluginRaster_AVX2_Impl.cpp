#include "host/avx2/PluginRaster_AVX2_Impl.h"

#include "lib/Common/Status.h"

int32_t PluginRaster_AVX2_Impl::width() {
    if (mDesc) return mDesc->width;
    uint32_t w = 0;
    if (mImage) raiseIfFailed(mImage->GetWidth(&w));
    return int32_t(w);
}

int32_t PluginRaster_AVX2_Impl::height() {
    if (mDesc) return mDesc->height;
    uint32_t h = 0;
    if (mImage) raiseIfFailed(mImage->GetHeight(&h));
    return int32_t(h);
}

int32_t PluginRaster_AVX2_Impl::depthKind() {
    if (mDesc) return mDesc->bytesPerPixel == 8 ? DEPTH_16BIT : DEPTH_8BIT;
    if (!mImage) return DEPTH_8BIT;
    AcfPtr<IAVXImageFormat> format;
    raiseIfFailed(mImage->GetFormat(format.out()));
    int32_t sizeCode = 0;
    raiseIfFailed(format->GetComponentSize(&sizeCode));
    return sizeCode == AVX_COMPONENT_16BIT ? DEPTH_16BIT : DEPTH_8BIT;
}

int32_t PluginRaster_AVX2_Impl::rowBytes() {
    if (mDesc) return mDesc->rowBytes;
    int32_t stride = 0;
    if (mImage) raiseIfFailed(mImage->GetRowStride(&stride));
    return stride;
}
