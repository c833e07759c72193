#include "lib/Common/ImageProc.h"

#include <cstddef>
#include <new>

#include "lib/Common/Kernels.h"

namespace Vel {
namespace {

const ImageProc8 kEightBit;
const AEImageProc<unsigned short> kAE;
const AVXImageProc<unsigned short> kAVX;

void buildCurves(int32_t white, const double levels[3][5], unsigned short* tables[3], bool allocateMissing) {
    if (allocateMissing)
        for (int c = 0; c < 3; ++c)
            if (!tables[c])
                tables[c] = new (std::nothrow) unsigned short[std::size_t(white) + 1];
    ::BuildChannelCurves<uint16_t>(white, levels, tables);
}

// The resampler places alpha by the format; both 16-bit orders are served here.
void resample(const ImageBuffer& source, const ImageBuffer& destination, float sx, float sy, float angle,
              int alphaIndex) {
    if (alphaIndex == PIXEL_BGRA14::FORMAT::A)
        ::TransformResample<PIXEL_BGRA14>(source, destination, sx, sy, angle);
    else
        ::TransformResample<PIXEL_ARGB14>(source, destination, sx, sy, angle);
}

}  // namespace

const ImageProc8& EightBitRange() { return kEightBit; }
const AEImageProc<unsigned short>& AERange() { return kAE; }
const AVXImageProc<unsigned short>& AVXRange() { return kAVX; }

void AEImageProc<unsigned short>::BuildChannelCurves(const double levels[3][5], unsigned short* tables[3],
                                                     bool allocateMissing) const {
    buildCurves(White(), levels, tables, allocateMissing);
}

void AEImageProc<unsigned short>::TransformResample(const ImageBuffer& source, const ImageBuffer& destination,
                                                    float sx, float sy, float angle, int alphaIndex) const {
    resample(source, destination, sx, sy, angle, alphaIndex);
}

void AVXImageProc<unsigned short>::BuildChannelCurves(const double levels[3][5], unsigned short* tables[3],
                                                      bool allocateMissing) const {
    buildCurves(White(), levels, tables, allocateMissing);
}

void AVXImageProc<unsigned short>::TransformResample(const ImageBuffer& source, const ImageBuffer& destination,
                                                     float sx, float sy, float angle, int alphaIndex) const {
    resample(source, destination, sx, sy, angle, alphaIndex);
}

}  // namespace Vel
