// Flicker: one gamma lift over the colour of the whole frame. Whether a frame flickers is the
// driver's draw; here the strength is fixed by the amount.
#include "stages/tone/Flicker.h"

#include <cstddef>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/ImageProc.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/ChannelTables.h"
#include "pipeline/Random.h"

namespace {

// gamma = 1 + amount / 100, the quotient held in single precision like the amount itself:
// 10 gives 1.1, 100 gives 2.
double flickerGamma(float amount) { return double(float(double(amount) / 100.0)) + 1.0; }

}  // namespace

template <class Tag>
Status FlickerStage(TX_STAGE_ARGS, float amount) {
    using Channel = typename Tag::Channel;
    (void)frame;
    (void)host;
    (void)source;
    const RasterDesc out = output.describe();
    // The draw changes nothing here; it moves the generator on for the stages after this one.
    rng::RandomUnit();

    const auto* range = Vel::ImageProcForDepth<Channel>(output.raster->depthKind());
    if (!range)
        return STATUS_UNSUPPORTED;
    const int32_t white = range->White();

    // Three tables of white + 1 entries, one block from the heap for the call.
    const size_t entries = size_t(white) + 1;
    CallBuffer<Channel> storage(3 * entries);
    if (!storage)
        return STATUS_NO_RASTER;
    Channel* tables[3] = {storage.data(), storage.data() + entries, storage.data() + 2 * entries};

    // The same levels for all three: only the gamma, black and white stay where they are.
    const double gamma = flickerGamma(amount);
    const double levels[3][5] = {{gamma, 0.0, 1.0, 0.0, 1.0}, {gamma, 0.0, 1.0, 0.0, 1.0}, {gamma, 0.0, 1.0, 0.0, 1.0}};
    BuildChannelCurves<Channel>(white, levels, tables);
    ApplyChannelTables<Tag>(out, tables, white);
    return STATUS_OK;
}

template Status FlickerStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
