// Fading: a box-blurred copy of the source laid over the frame at 30 % to 70 %, washing out
// fine detail and local contrast the way a faded print does.
#include "stages/tone/Fading.h"

#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/FloatMath.h"

namespace {

// 0.3 up to an amount of 100, then rising linearly to 0.7 at 200 (worked in double).
float fadeOpacity(float amount) {
    if (amount > 100.0f)
        return float(0.3 + 0.4 * (double(amount) - 100.0) / 100.0);
    return 0.3f;
}

}  // namespace

template <class Tag>
Status FadingStage(TX_STAGE_ARGS, float amount) {
    (void)frame;
    const float opacity = fadeOpacity(amount);
    ScratchRaster layer(host, output.raster);
    if (!layer)
        return STATUS_NO_RASTER;
    host.copyImage(source.raster, layer.raster());

    // The output is only the blur's intermediate here; the source is put back into it below.
    // A radius below 1 (NaN and out-of-range amounts included) leaves the layer unblurred.
    const RasterDesc out = output.describe();
    const int32_t radius = truncToInt32(double(amount));
    BoxBlurHorizontal<Tag>(layer.desc(), out, radius);
    const Status blurred = BoxBlurVertical<Tag>(out, layer.desc(), radius);
    host.copyInputToOutput();
    // A blur refused its memory ends the stage with the frame put back as it came.
    TX_PROPAGATE(blurred);

    return BlendImages<Tag>(&host, BLEND_NORMAL, opacity, 1.0f, layer.desc(), out, out);
}

template Status FadingStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
