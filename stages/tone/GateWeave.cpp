#include "stages/tone/GateWeave.h"

#include <algorithm>
#include <cmath>

#include "lib/Common/FloatMath.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Random.h"

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

// Rows moved at a time: a band of UHD 16-bit rows and its copy stay within the second-level cache.
constexpr int32_t kBandRows = 16;

// A cos(2 pi F n / 24): the frame number read as 24 frames per second, in single precision
// with the degree products taken in double and narrowed.
float swing(int32_t frameNumber, float frequency, float amplitude) {
    const float seconds = float(frameNumber) / 24.0f;
    const float angle = float(double(seconds) * 360.0);
    const float phase = float(double(angle) * kRadiansPerDegree) * frequency;
    return fm::cosF(phase) * amplitude;
}

}  // namespace

template <class Tag>
Status GateWeaveStage(TX_STAGE_ARGS, float frequency, float amplitude, float noiseFrequency) {
    (void)frame;
    (void)source;
    const RasterDesc out = output.describe();
    ScratchRaster copy(host, output.raster);
    if (!copy)
        return STATUS_NO_RASTER;
    // Each row moves within itself, so where the copy is laid out like the frame and apart from
    // it, a band of rows at a time goes through the copy's first rows while the band is in
    // cache; otherwise the whole frame is copied first.
    const RasterDesc& from = copy.desc();
    const bool banded = from.pixels && out.pixels && from.width == out.width && from.height == out.height &&
                        from.bytesPerPixel == out.bytesPerPixel && from.format == out.format && !SharePixels(from, out);
    if (!banded) {
        host.copyImage(output.raster, copy.raster());
        // What the moved picture uncovers is opaque black.
        FillRaster<Tag>(out, 0, 0, 0, 255);
    } else {
        // The host is asked to describe both rasters, as for the copy.
        RasterDesc described;
        host.describeRaster(output.raster, &described);
        host.describeRaster(copy.raster(), &described);
    }

    const int32_t n = host.frameNumber();
    float offset = swing(n, frequency, amplitude);
    // The first draw is made on every frame; frame 0 never jolts.
    const double u1 = rng::RandomUnit();
    if (n != 0 && noiseFrequency > float(u1 * 100.0)) {
        const double u2 = rng::RandomUnit();
        offset += float(u2 * (2.0 * double(amplitude)) - double(amplitude));
    }
    float shift = float(std::floor(double(offset) + 0.5));
    // Any shift of the frame's width or more leaves it black, so wider ones (and infinite
    // amplitudes) are held there; NaN moves nothing.
    const float width = float(out.width);
    shift = shift == shift ? std::clamp(shift, -width, width) : 0.0f;

    Rect16 sourceRect{0, 0, int16_t(from.height), int16_t(from.width)};
    Rect16 destinationRect{0, 0, int16_t(out.height), int16_t(out.width)};
    if (shift >= 0.0f) {
        sourceRect.right = int16_t(int32_t(float(from.width) - shift));
        destinationRect.left = int16_t(int32_t(shift));
    } else {
        sourceRect.left = int16_t(int32_t(-shift));
        destinationRect.right = int16_t(int32_t(width + shift));
    }
    if (!banded)
        return CompositeRect<Tag>(&host, BLEND_NORMAL, from, out, sourceRect, destinationRect, 1.0);

    // The host is offered the blend once, as for the whole frame.
    PluginHost_API* offer = &host;
    for (int32_t top = 0; top < out.height; top += kBandRows) {
        RasterDesc rows = out, held = from;
        rows.pixels = out.pixels + int64_t(top) * out.rowBytes;
        rows.height = held.height = std::min(kBandRows, out.height - top);
        CopyRows(rows, held);
        FillRaster<Tag>(rows, 0, 0, 0, 255);
        Rect16 heldRect = sourceRect, rowsRect = destinationRect;
        heldRect.bottom = rowsRect.bottom = int16_t(rows.height);
        TX_PROPAGATE(CompositeRect<Tag>(offer, BLEND_NORMAL, held, rows, heldRect, rowsRect, 1.0));
        offer = nullptr;
    }
    return STATUS_OK;
}

template Status GateWeaveStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float, float);
template Status GateWeaveStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float, float);
template Status GateWeaveStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float, float);
template Status GateWeaveStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float, float);
