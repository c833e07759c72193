// CompositeRect, BlendImages, the box blur's passes and the rotate-and-scale copy without their vector paths,
// pixel by pixel: the references that the vector paths must match bit for bit. Same arguments and results as in Kernels.h.
#pragma once

#include "lib/Common/Kernels.h"

template <class Tag>
Status CompositeRectPlain(PluginHost_API* host, int32_t mode, const RasterDesc& source, const RasterDesc& destination,
                          const Rect16& sourceRect, const Rect16& destinationRect, double opacity);

template <class Tag>
Status BlendImagesPlain(PluginHost_API* host, int32_t mode, float topOpacity, float baseOpacity, const RasterDesc& top,
                        const RasterDesc& base, const RasterDesc& destination);

template <class Tag>
void BoxBlurHorizontalPlain(const RasterDesc& from, const RasterDesc& to, int32_t radius);
template <class Tag>
Status BoxBlurVerticalPlain(const RasterDesc& from, const RasterDesc& to, int32_t radius);

template <class Tag>
void RotateScaleCopyPlain(const RasterDesc& source, const RasterDesc& destination, float sx, float sy, float angle);
