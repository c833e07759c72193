#include "pipeline/Pipeline.h"

#include "lib/Common/ImageProc.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/ProcessLock.h"
#include "params/RenderSettings.h"
#include "lib/Common/ChannelTables.h"
#include "pipeline/PostContrast.h"
#include "pipeline/Random.h"
#include "pipeline/StageTable.h"
#include "stages/tone/Fading.h"

namespace {

using rng::RandomUnit;

// The chain in its fixed order. A gate's draws happen whenever its stage's own flag is set,
// whether or not the stage then runs.
// `copied`: the input's rows are in the output; else they are still to be copied from `from` to
// `to` should fading end without having written the output.
template <class Tag>
Status runStages(const StageTable& t, const FrameContext& frame, PluginHost_API& host, RasterHolder& in,
                 RasterHolder& out, const RenderSettings& s, bool copied, const RasterDesc& from,
                 const RasterDesc& to) {
    if (s.doFading && t.fading) {
        const Status faded = t.fading(frame, host, in, out, float(s.fadeAmount));
        if (faded != STATUS_OK && !copied)
            CopyRows(from, to);
        TX_PROPAGATE(faded);
    }

    if (s.doFunk && s.funkOpacity / 100 > 0) {
        // The funk raster is shared: another instance must not rebuild it for its own depth
        // while this frame reads it.
        ProcessLock lock;
        InstanceData* data = host.instanceData();
        if (t.prepareFunk) TX_PROPAGATE(t.prepareFunk(host, out));
        if (t.funk && data && data->global)
            TX_PROPAGATE(t.funk(frame, host, in, out, data->global->funkRaster, float(s.funkOpacity / 100)));
    }

    if (s.doSplotches && s.splotchesFrequency / 100 > RandomUnit() && t.splotches)
        TX_PROPAGATE(t.splotches(frame, host, in, out, s.splotchNumber, float(s.splotchesScale),
                                 float(s.splotchesTransparency / 100)));

    if (s.doDust) {
        const double u1 = RandomUnit();
        const double u2 = RandomUnit();
        const bool black = s.dustFreq > u1;
        const bool white = s.dustFreq > u2;
        if ((black || white) && t.dust)
            TX_PROPAGATE(t.dust(frame, host, in, out, black, white, float(s.dustOpacity), s.blackNumber, s.whiteNumber));
    }

    // Flicker's tables go over the frame in the vignette's pass when the vignette runs: one pass
    // over the frame instead of two, the same frame.
    HandedTables flickered;
    if (s.doFlicker) {
        const double u = RandomUnit();
        if (s.flickerAmount != 0 && s.flickerFreq > u && t.flicker)
            TX_PROPAGATE(t.flicker(frame, host, in, out, float(s.flickerAmount), flickered));
    }

    if (s.doVignette && s.vignetteSize > 0 && t.vignette)
        TX_PROPAGATE(
            t.vignette(frame, host, in, out, float(s.vignetteSize), float(s.vignetteIntensity / 100), flickered));
    else
        ApplyHandedTables<Tag>(flickered.frame, flickered);

    if (s.doDisplacement && s.displacementAmount > 0 && t.displacement)
        TX_PROPAGATE(t.displacement(frame, host, in, out, float(s.displacementAmount)));

    if (s.doMicro && t.microscratches)
        TX_PROPAGATE(t.microscratches(frame, host, in, out, s.microNumber, float(s.microOpacity)));

    if (s.doGrain && t.grain)
        TX_PROPAGATE(t.grain(frame, host, in, out, s.doColorNoise, float(s.amountGrain), float(s.grainRed),
                             float(s.grainGreen), float(s.grainBlue), float(s.softnessRed), float(s.softnessGreen),
                             float(s.softnessBlue), float(s.suppressBlack), float(s.suppressWhite)));

    if (s.doDeepScratch && t.deepScratches)
        TX_PROPAGATE(t.deepScratches(frame, host, in, out, s.deepScratchNumber, s.deepScratchDuration,
                                     s.deepScratchColorR, s.deepScratchColorG, s.deepScratchColorB));

    if (s.doBasicScratch && t.basicScratches)
        TX_PROPAGATE(t.basicScratches(frame, host, in, out, s.basicScratchNumber, s.basicScratchDuration, s.doInvert));

    if (s.doGateweave && t.gateWeave)
        TX_PROPAGATE(t.gateWeave(frame, host, in, out, float(s.gateweaveFrequency), float(s.gateweaveAmplitude),
                                 float(s.gateweaveNoiseFrequency)));
    return STATUS_OK;
}

// Post contrast, inline: one curve for the output's value range, through the instance's
// curve tables. It never changes the frame's status.
template <class Tag>
void postContrast(PluginHost_API& host, RasterHolder& out, const RasterDesc& outDesc, int32_t amount) {
    using T = typename Tag::Channel;
    InstanceData* data = host.instanceData();
    InstanceBlock* block = data ? data->block : nullptr;
    const double c = amount / 100.0;
    const auto* range = Vel::ImageProcForDepth<T>(out.raster->depthKind());
    if (!range) return;
    const int32_t white = range->White();
    T* tables[3] = {nullptr, nullptr, nullptr};
    if (block) {
        for (int i = 0; i < 3; ++i) {
            if constexpr (kIs16Bit<Tag>)
                tables[i] = block->curveTables[i];
            else
                tables[i] = block->curveTable8(i);
        }
        ContrastCurve<T>(white, c, tables);
    }
    ApplyChannelTables<Tag>(outDesc, tables, white);
}

}  // namespace

template <class Tag>
Status RunPipeline(const FrameContext& frame, PluginHost_API& host) {
    RenderSettings settings;
    captureSettings(host, settings);
    RasterHolder input(host.inputRaster(0), &host, false, true);
    RasterHolder output(host.outputRaster(), &host, false, true);
    const RasterDesc outDesc = output.describe();
    // Our fading stage, when it runs, comes first and writes every output pixel from the input,
    // having read none, or else leaves the output untouched or puts the input back: the rows
    // are then copied only if it fails. The host is asked for the input's and the output's
    // descriptions as the copy asks for them.
    const StageTable& stages = stageTable<Tag>();
    const bool copied = !(settings.doFading && stages.fading == &FadingStage<Tag>);
    RasterDesc from, to;
    if (copied) {
        host.copyInputToOutput();
    } else {
        host.describeInput(&from);
        host.describeOutput(&to);
    }

    try {
        TX_PROPAGATE(runStages<Tag>(stages, frame, host, input, output, settings, copied, from, to));
        if (settings.doContrast) postContrast<Tag>(host, output, outDesc, settings.contrastAmount);
        return STATUS_OK;
    } catch (...) {
        // Whatever a stage threw (a status or anything else), the frame passes through as it came.
    }
    host.copyImage(input.raster, output.raster);
    return STATUS_OK;
}

Status RenderFrame(PluginHost_API& host) {
    RenderSettings unused;
    captureSettings(host, unused);
    RasterDesc desc;
    host.describeOutput(&desc);
    const FrameContext frame{};
    switch (desc.format) {
    case FORMAT_ARGB8: return RunPipeline<PIXEL_ARGB8>(frame, host);
    case FORMAT_BGRA8: return RunPipeline<PIXEL_BGRA8>(frame, host);
    case FORMAT_ARGB14: return RunPipeline<PIXEL_ARGB14>(frame, host);
    case FORMAT_BGRA14: return RunPipeline<PIXEL_BGRA14>(frame, host);
    default: return STATUS_UNSUPPORTED;
    }
}

template Status RunPipeline<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&);
template Status RunPipeline<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&);
template Status RunPipeline<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&);
template Status RunPipeline<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&);
