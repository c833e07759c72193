#include "stages/damage/DeepScratches.h"

#include <cmath>
#include <new>
#include <optional>

#include "lib/Common/ChannelTables.h"
#include "lib/Common/FloatMath.h"
#include "lib/Common/ImageProc.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/TextureLibrary.h"
#include "pipeline/Random.h"

namespace {

constexpr int32_t kStripWidth = ScratchStrips.width;
constexpr int32_t kStripHeight = ScratchStrips.height;
constexpr double kWindowLow = 0.216, kWindowHigh = 0.557;  // the groove's levels window
constexpr double kGrooveOpacity = 0.33, kHighlightOpacity = 0.4;

// The raster of the output image the composites go to; destroyed, never released.
struct OutputView {
    explicit OutputView(PluginHost_API& host) : holder(host.outputRaster(), &host, false, true) {
        if (holder.raster) desc = holder.describe();
    }

    RasterHolder holder;  // destroys the raster object on every path, a throw included
    RasterDesc desc;
};

// One levels curve for all three channels except the last two numbers, given per channel.
// With `oneForAll` the first channel's curve serves all three (the caller's curves are the
// same), built once: only for an application the next one overwrites, so that the block
// ends up holding every table the last application builds.
template <class Tag>
void applyLevels(PluginHost_API& host, const RasterDesc& raster, int32_t depthKind, double inBlack, double inWhite,
                 const double outBlack[3], const double outWhite[3], bool oneForAll = false) {
    using T = typename Tag::Channel;
    InstanceData* data = host.instanceData();
    if (!data || !data->block) return;
    const auto* range = Vel::ImageProcForDepth<T>(depthKind);
    const int32_t white = range ? int32_t(range->White()) : Tag::white;
    T* tables[3];
    double levels[3][5];
    for (int c = 0; c < 3; ++c) {
        if constexpr (kIs16Bit<Tag>)
            tables[c] = data->block->curveTables[c];
        else
            tables[c] = data->block->curveTable8(c);
        levels[c][0] = 1.0;
        levels[c][1] = inBlack;
        levels[c][2] = inWhite;
        levels[c][3] = outBlack[c];
        levels[c][4] = outWhite[c];
    }
    if (oneForAll) {
        tables[1] = tables[2] = nullptr;
        BuildChannelCurves<T>(white, levels, tables);
        tables[1] = tables[2] = tables[0];
    } else {
        BuildChannelCurves<T>(white, levels, tables);
    }
    ApplyChannelTables<Tag>(raster, tables, white);
}

Rect16 rectOf(int32_t top, int32_t left, int32_t bottom, int32_t right) {
    return Rect16{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
}

}  // namespace

template <class Tag>
bool Deep<Tag>::draw(const ScratchPass& pass, const ScratchTarget& target) {
    PluginHost_API& h = *host;
    OutputView output(h);
    if (!output.holder.raster) return false;
    const int32_t depthKind = output.holder.raster->depthKind();

    ScratchRaster highlight(h, kStripWidth, kStripHeight, depthKind);
    ScratchRaster groove(h, kStripWidth, kStripHeight, depthKind);
    if (!highlight || !groove) return false;

    const uint8_t* strip = LoadScratchStrip(h, ScratchRound(rng::RandomUnit() * 47 + 1));
    if (!strip) return false;
    CopyTexture<Tag>(strip, kStripWidth, kStripHeight, highlight.desc().pixels, highlight.desc().rowBytes);
    h.copyImage(highlight.raster(), groove.raster());

    const double zero[3] = {0, 0, 0}, one[3] = {1, 1, 1};
    const double tint[3] = {pass.colour[1] / 255.0, pass.colour[2] / 255.0, pass.colour[3] / 255.0};
    applyLevels<Tag>(h, highlight.desc(), depthKind, kWindowLow, kWindowHigh, zero, one, true);
    applyLevels<Tag>(h, groove.desc(), depthKind, kWindowLow, kWindowHigh, one, zero, true);
    applyLevels<Tag>(h, highlight.desc(), depthKind, 0.0, 1.0, zero, tint);

    const RasterDesc* light = &highlight.desc();
    const RasterDesc* dark = &groove.desc();
    std::optional<ScratchRaster> scaledHighlight, scaledGroove;
    float sx = float(h.scaleX()), sy = float(h.scaleY());
    // Taller frames stretch the strip to their height; shorter ones cut it.
    if (target.height > kStripHeight) sy *= float(target.height) / float(kStripHeight);
    if (!(sx == 1.0f && sy == 1.0f)) {
        const int32_t width = truncToInt32(6.0f * sx), height = truncToInt32(1440.0f * sy);
        scaledHighlight.emplace(h, width, height, depthKind);
        scaledGroove.emplace(h, width, height, depthKind);
        if (!*scaledHighlight || !*scaledGroove) return true;
        RotateScaleCopy<Tag>(*light, scaledHighlight->desc(), sx, sy, 0.0f);
        RotateScaleCopy<Tag>(*dark, scaledGroove->desc(), sx, sy, 0.0f);
        light = &scaledHighlight->desc();
        dark = &scaledGroove->desc();
    }

    const int32_t width = light->width, height = light->height;
    const float p = float(position);
    const Rect16 source = rectOf(0, 0, height, width);
    if (CompositeRect<Tag>(&h, BLEND_MULTIPLY, *dark, output.desc, source,
                           rectOf(0, truncToInt32(p), height, truncToInt32(float(width) + p)),
                           kGrooveOpacity) != STATUS_OK)
        return false;
    const float next = float(double(p) + 1.0);
    return CompositeRect<Tag>(&h, BLEND_ADD, *light, output.desc, source,
                              rectOf(0, truncToInt32(next), height, truncToInt32(float(width) + next)),
                              kHighlightOpacity) == STATUS_OK;
}

template <class Tag>
ScratchObject* DeepScratch<Tag>::createScratch(int32_t frame, int32_t duration, const ScratchBounds& bounds) {
    return new (std::nothrow) Deep<Tag>(frame, duration, bounds, &host);
}

template <class Tag>
Status DeepScratchesStage(TX_STAGE_ARGS, int32_t number, int32_t duration, double red, double green, double blue) {
    (void)frame;
    (void)source;
    ScratchPass pass;
    ScratchTarget target;
    if (!BeginScratchFrame(host, output, &InstanceBlock::deepScratches, number, duration, pass, target)) return STATUS_OK;
    pass.colour[0] = 255;
    pass.colour[1] = uint8_t(truncToInt32(red * 255));
    pass.colour[2] = uint8_t(truncToInt32(green * 255));
    pass.colour[3] = uint8_t(truncToInt32(blue * 255));
    for (auto& entry : pass.list->entries)
        if (DeepBase* deep = ScratchInFormat<Deep<Tag>, DeepBase>(entry)) deep->host = &host;
    DeepScratch<Tag> scratcher(host);
    scratcher.process(pass, target);
    return STATUS_OK;
}

#define TX_DEEP(Tag)                                                                                         \
    template class Deep<Tag>;                                                                                \
    template class DeepScratch<Tag>;                                                                         \
    template Status DeepScratchesStage<Tag>(TX_STAGE_ARGS, int32_t, int32_t, double, double, double);
TX_DEEP(PIXEL_ARGB8)
TX_DEEP(PIXEL_BGRA8)
TX_DEEP(PIXEL_ARGB14)
TX_DEEP(PIXEL_BGRA14)
