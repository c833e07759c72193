// Flicker: one gamma lift over the colour of the whole frame. Whether a frame flickers is the
// driver's draw; here the strength is fixed by the amount.
#include "stages/tone/Flicker.h"

#include <cstddef>
#include <utility>

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

// The frame's tables into `handed`, with the output as described before the draw.
template <class Tag>
Status makeTables(RasterHolder& output, float amount, HandedTables& handed) {
    using Channel = typename Tag::Channel;
    const RasterDesc out = output.describe();
    // The draw changes nothing here; it moves the generator on for the stages after this one.
    rng::RandomUnit();

    const auto* range = Vel::ImageProcForDepth<Channel>(output.raster->depthKind());
    if (!range)
        return STATUS_UNSUPPORTED;
    const int32_t white = range->White();

    // Three tables of white + 1 entries, one block from the heap.
    const size_t entries = size_t(white) + 1;
    CallBuffer<uint8_t> storage(3 * entries * sizeof(Channel));
    if (!storage)
        return STATUS_NO_RASTER;
    Channel* tables[3];
    for (int c = 0; c < 3; ++c)
        tables[c] = reinterpret_cast<Channel*>(storage.data()) + size_t(c) * entries;

    // The same levels for all three: only the gamma, black and white stay where they are.
    const double gamma = flickerGamma(amount);
    const double levels[3][5] = {{gamma, 0.0, 1.0, 0.0, 1.0}, {gamma, 0.0, 1.0, 0.0, 1.0}, {gamma, 0.0, 1.0, 0.0, 1.0}};
    BuildChannelCurves<Channel>(white, levels, tables);
    handed.storage = std::move(storage);
    for (int c = 0; c < 3; ++c)
        handed.tables[c] = tables[c];
    handed.white = white;
    handed.frame = out;
    return STATUS_OK;
}

}  // namespace

template <class Tag>
Status FlickerTables(TX_STAGE_ARGS, float amount, HandedTables& tables) {
    (void)frame;
    (void)host;
    (void)source;
    return makeTables<Tag>(output, amount, tables);
}

template <class Tag>
Status FlickerStage(TX_STAGE_ARGS, float amount) {
    (void)frame;
    (void)host;
    (void)source;
    HandedTables tables;
    TX_PROPAGATE(makeTables<Tag>(output, amount, tables));
    ApplyHandedTables<Tag>(tables.frame, tables);
    return STATUS_OK;
}

template Status FlickerStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float);
template Status FlickerTables<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, HandedTables&);
template Status FlickerTables<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, HandedTables&);
template Status FlickerTables<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, HandedTables&);
template Status FlickerTables<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, HandedTables&);
