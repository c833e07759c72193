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

// Whether `a` can be read in place of a copy of it into `b`: rows of the same pixels.
bool standsIn(const RasterDesc& a, const RasterDesc& b) {
    return a.pixels && b.pixels && a.width == b.width && a.height == b.height && a.bytesPerPixel == b.bytesPerPixel &&
           a.format == b.format;
}

// The composite a row at a time, each row as soon as the blur has written it into the output:
// the blurred row laid over the input frame's row, into the same output row.
template <class Tag>
struct FadeRows {
    PluginHost_API* host;
    RasterDesc blurred, base;
    float opacity;

    static void row(void* context, int32_t y) {
        auto* self = static_cast<FadeRows*>(context);
        const RasterDesc out = rowView(self->blurred, y);
        BlendImagesRow<Tag>(self->host, y, BLEND_NORMAL, self->opacity, 1.0f, out, rowView(self->base, y), out);
    }
};

}  // namespace

template <class Tag>
Status FadingStage(TX_STAGE_ARGS, float amount) {
    (void)frame;
    const float opacity = fadeOpacity(amount);
    ScratchRaster layer(host, output.raster);
    if (!layer)
        return STATUS_NO_RASTER;

    // The layer is a copy of the input frame, blurred: with the output as the blur's
    // intermediate, then put back to the input frame for the composite. The host is asked to
    // describe the rasters of both copies, the same questions in the same order, but rows are
    // moved only where something reads them: where the blur's passes overwrite the whole layer,
    // the first reads the input frame itself, and the composite takes the input frame as its
    // background. A radius below 1 (NaN and out-of-range amounts included) leaves the layer
    // unblurred.
    const int32_t radius = truncToInt32(double(amount));
    RasterDesc input, scratch;
    host.describeRaster(source.raster, &input);
    host.describeRaster(layer.raster(), &scratch);
    const RasterDesc out = output.describe();
    // The blur asks the host nothing, so the frames the composite reads can be described first.
    RasterDesc restoreFrom, restoreTo;
    host.describeInput(&restoreFrom);
    host.describeOutput(&restoreTo);
    // The first pass writes the output, so it cannot read an input that shares its memory.
    const bool blurInput = radius >= 1 && standsIn(input, scratch) && !SharePixels(input, out);

    // Where the input, the layer and the output are alike and apart, the blurred rows go
    // straight into the output, each laid over its input row there and then; the layer's
    // first rows serve the blur as its working rows.
    if (blurInput && standsIn(restoreFrom, out) && standsIn(input, out) && !SharePixels(restoreFrom, out)) {
        FadeRows<Tag> rows{&host, out, restoreFrom, opacity};
        Status blurred = STATUS_OK;
        if (BoxBlurByRows<Tag>(input, scratch, out, radius, BlurRowDone{&rows, &FadeRows<Tag>::row}, blurred)) {
            if (blurred != STATUS_OK)
                CopyRows(restoreFrom, restoreTo);
            return blurred;
        }
    }

    if (!blurInput)
        CopyRows(input, scratch);
    BoxBlurHorizontal<Tag>(blurInput ? input : scratch, out, radius);
    const Status blurred = BoxBlurVertical<Tag>(out, scratch, radius);
    if (blurred == STATUS_OK && standsIn(restoreFrom, out) && !SharePixels(restoreFrom, out))
        return BlendImages<Tag>(&host, BLEND_NORMAL, opacity, 1.0f, scratch, restoreFrom, out);
    CopyRows(restoreFrom, restoreTo);
    // A blur refused its memory ends the stage with the frame put back as it came.
    TX_PROPAGATE(blurred);
    return BlendImages<Tag>(&host, BLEND_NORMAL, opacity, 1.0f, scratch, out, out);
}

template Status FadingStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FadingStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
