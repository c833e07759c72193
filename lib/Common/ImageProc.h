// Value-range objects: what "white" means for a raster's samples. Stages ask these instead of
// hard-coding 255 or 16384, so one stage body serves every range. The objects hold no data
// and live as static instances, hence no virtual destructor.
#pragma once

#include <cstdint>
#include <limits>

#include "lib/Common/ImageBuffer.h"
#include "lib/Common/RasterDesc.h"

namespace Vel {

template <class T>
struct PixelARGB {
    T alpha;
    T red;
    T green;
    T blue;
};

template <class T, class Pixel>
class ImageProc {
public:
    virtual T White() const { return std::numeric_limits<T>::max(); }
    virtual T Half() const { return T((uint32_t(White()) + 1) >> 1); }
    virtual T Clamp(int32_t v) const {
        const int32_t white = White();
        return T(v < 0 ? 0 : (v > white ? white : v));
    }
    virtual double InvWhite() const { return 1.0 / double(White()); }
};

using ImageProc8 = ImageProc<unsigned char, PixelARGB<unsigned char>>;
using ImageProc16 = ImageProc<unsigned short, PixelARGB<unsigned short>>;

template <class T>
class AEImageProc;
template <class T>
class AVXImageProc;

// The 16-bit ranges add level curves and resampling, whose tables and sums depend on white.
// BuildChannelCurves fills White + 1 entries per non-null table; with allocateMissing, null
// tables are first allocated with new[] (the caller owns and delete[]s them). alphaIndex is
// the tag's FORMAT::A (0 for ARGB, 3 for BGRA).
template <>
class AEImageProc<unsigned short> : public ImageProc16 {
public:
    unsigned short White() const override { return 32768; }
    unsigned short Half() const override { return 16384; }
    double InvWhite() const override { return 3.0517578125e-05; }
    virtual void BuildChannelCurves(const double levels[3][5], unsigned short* tables[3], bool allocateMissing) const;
    virtual void TransformResample(const ImageBuffer& source, const ImageBuffer& destination, float sx, float sy,
                                   float angle, int alphaIndex) const;
};

template <>
class AVXImageProc<unsigned short> : public ImageProc16 {
public:
    unsigned short White() const override { return 16384; }
    unsigned short Half() const override { return 8192; }
    double InvWhite() const override { return 6.103515625e-05; }
    virtual void BuildChannelCurves(const double levels[3][5], unsigned short* tables[3], bool allocateMissing) const;
    virtual void TransformResample(const ImageBuffer& source, const ImageBuffer& destination, float sx, float sy,
                                   float angle, int alphaIndex) const;
};

const ImageProc8& EightBitRange();
const AEImageProc<unsigned short>& AERange();
const AVXImageProc<unsigned short>& AVXRange();

// The value-range object of a depth kind for samples of type T: kind 0 for unsigned char,
// kinds 1 and 2 for unsigned short; null when the kind does not match the sample type.
template <class T>
const ImageProc<T, PixelARGB<T>>* ImageProcForDepth(int32_t depthKind);

template <>
inline const ImageProc8* ImageProcForDepth<unsigned char>(int32_t depthKind) {
    return depthKind == DEPTH_8BIT ? &EightBitRange() : nullptr;
}

template <>
inline const ImageProc16* ImageProcForDepth<unsigned short>(int32_t depthKind) {
    if (depthKind == DEPTH_16BIT_32768)
        return &AERange();
    if (depthKind == DEPTH_16BIT)
        return &AVXRange();
    return nullptr;
}

}  // namespace Vel
