#include "stages/damage/Microscratches.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lib/Common/FloatMath.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Random.h"

namespace {

constexpr int32_t kMargin = 19;      // rows above and below the mask, so streaks run off its ends
constexpr int32_t kBlurRadius = 25;  // a streak is 51 mask rows long

template <class Tag>
void fillWhite(const RasterDesc& raster) {
    using T = typename Tag::Channel;
    for (int32_t y = 0; y < raster.height; ++y) {
        T* row = rowOf<Tag>(raster, y);
        std::fill(row, row + int64_t(raster.width) * 4, T(Tag::white));
    }
}

}  // namespace

template <class Tag>
Status MicroscratchesStage(TX_STAGE_ARGS, int32_t number, float opacity) {
    (void)frame;
    using T = typename Tag::Channel;
    using F = typename Tag::FORMAT;
    const RasterDesc out = output.describe();
    const int32_t depthKind = output.raster->depthKind();
    const int32_t quarter = out.height / 4;
    const int32_t maskHeight = quarter + 2 * kMargin;

    ScratchRaster mask(host, out.width, maskHeight, depthKind);
    if (!mask) return STATUS_NO_RASTER;
    fillWhite<Tag>(mask.desc());
    const int32_t lastX = mask.desc().width - 1, lastY = mask.desc().height - 1;
    for (int32_t i = 0; i < number; ++i) {
        const double rx = rng::RandomUnit();
        const double ry = rng::RandomUnit();
        const int32_t x = truncToInt32(std::floor(rx * lastX + 0.5));
        const int32_t y = truncToInt32(std::floor(ry * lastY + 0.5));
        if (x < 0 || x > lastX || y < 0 || y > lastY) continue;  // a mask with no columns
        T* px = rowOf<Tag>(mask.desc(), y) + int64_t(x) * 4;
        px[F::R] = px[F::G] = px[F::B] = 0;
    }

    ScratchRaster blurred(host, out.width, maskHeight, depthKind);
    if (!blurred) return STATUS_NO_RASTER;
    TX_PROPAGATE(BoxBlurVertical<Tag>(mask.desc(), blurred.desc(), kBlurRadius));
    mask.release();

    ScratchRaster cropped(host, out.width, quarter, depthKind);
    if (!cropped) return STATUS_NO_RASTER;
    const RasterDesc& b = blurred.desc();
    host.copyRect(blurred.raster(), cropped.raster(),
                  Rect16{int16_t(kMargin), 0, int16_t(b.height - kMargin), int16_t(b.width)}, 0, 0);
    blurred.release();

    // Each mask row covers about four output rows, by Bresenham's rule; every column steps
    // alike, so whole rows are copied.
    if (quarter > 0) {
        const int64_t rise = 2 * int64_t(quarter - 1), run = 2 * int64_t(out.height - 1);
        const size_t rowBytes = size_t(std::min(cropped.desc().width, out.width)) * Tag::bytesPerPixel;
        int64_t error = rise - (out.height - 1);
        int32_t maskRow = 0;
        for (int32_t y = 0; y < out.height; ++y) {
            std::memcpy(rowOf<Tag>(out, y), rowOf<Tag>(cropped.desc(), maskRow), rowBytes);
            for (; error >= 0; error -= run) ++maskRow;
            error += rise;
        }
    }
    const RasterDesc in = source.describe();
    return BlendImages<Tag>(&host, BLEND_MULTIPLY, opacity, 1.0f, out, in, out);
}

template Status MicroscratchesStage<PIXEL_ARGB8>(TX_STAGE_ARGS, int32_t, float);
template Status MicroscratchesStage<PIXEL_BGRA8>(TX_STAGE_ARGS, int32_t, float);
template Status MicroscratchesStage<PIXEL_ARGB14>(TX_STAGE_ARGS, int32_t, float);
template Status MicroscratchesStage<PIXEL_BGRA14>(TX_STAGE_ARGS, int32_t, float);
