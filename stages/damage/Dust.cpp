#include "stages/damage/Dust.h"

#include <cmath>

#include "lib/Common/FloatMath.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/TextureLibrary.h"
#include "pipeline/Random.h"
#include "stages/damage/TexturePlacement.h"

namespace {

constexpr int32_t kSpeckSize = 32;  // the speck textures' side

// `count` specks, each a random texture (inverted for dark dust) scaled by 0.2..1.5 of the
// render scale, turned, placed anywhere it touches the frame and composited.
template <class Tag>
Status speckPass(PluginHost_API& host, const RasterDesc& out, int32_t depthKind, float opacity, bool dark,
                 int32_t count) {
    const int32_t mode = dark ? BLEND_MULTIPLY : BLEND_ADD;
    ScratchRaster texture(host, kSpeckSize, kSpeckSize, depthKind);
    if (!texture) return STATUS_UNSUPPORTED;
    Status status = STATUS_OK;
    const uint8_t* held = nullptr;  // the member the working raster holds, ready for this pass
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* texels = LoadDustTexture(host, TextureMemberFor(rng::RandomUnit(), DustTextures.members));
        if (!texels) {
            status = STATUS_UNSUPPORTED;
            break;
        }
        const float angle = float(std::floor(rng::RandomUnit() * 400 + 0.5));
        const float scale = float(rng::RandomUnit() * 1.3 + 0.2) * float(host.scaleX());
        const int32_t size = truncToInt32(std::floor(float(kSpeckSize) * scale + 0.5f));
        const float x = PlacementCorner(rng::RandomUnit(), out.width, size);
        const float y = PlacementCorner(rng::RandomUnit(), out.height, size);

        ScratchRaster speck(host, size, size, depthKind);
        if (!speck) return STATUS_UNSUPPORTED;
        // Only what lands on the frame is made: of a speck at an edge only the part composited
        // is resampled, and one beside the frame is not. The composite still asks the host.
        const Placement p = ClipPlacement(x, y, speck.desc().width, speck.desc().height, out.width, out.height);
        if (Visible(p)) {
            if (held != texels) {
                CopyTexture<Tag>(texels, kSpeckSize, kSpeckSize, texture.desc().pixels, texture.desc().rowBytes);
                if (dark) InvertColor<Tag>(texture.desc());
                held = texels;
            }
            RotateScaleCopyWindow<Tag>(texture.desc(), speck.desc(), scale, scale, angle, p.source);
        }
        CompositeRect<Tag>(&host, mode, speck.desc(), out, p.source, p.destination, double(opacity));
    }
    return status;
}

}  // namespace

template <class Tag>
Status DustStage(TX_STAGE_ARGS, bool black, bool white, float opacity, int32_t blackNumber, int32_t whiteNumber) {
    (void)frame;
    (void)source;
    const RasterDesc out = output.describe();
    const int32_t depthKind = output.raster->depthKind();
    rng::SeedFromFrame(host);
    Status status = STATUS_OK;
    if (black) status = speckPass<Tag>(host, out, depthKind, opacity, true, blackNumber);
    if (white) status = speckPass<Tag>(host, out, depthKind, opacity, false, whiteNumber);
    return status;
}

template Status DustStage<PIXEL_ARGB8>(TX_STAGE_ARGS, bool, bool, float, int32_t, int32_t);
template Status DustStage<PIXEL_BGRA8>(TX_STAGE_ARGS, bool, bool, float, int32_t, int32_t);
template Status DustStage<PIXEL_ARGB14>(TX_STAGE_ARGS, bool, bool, float, int32_t, int32_t);
template Status DustStage<PIXEL_BGRA14>(TX_STAGE_ARGS, bool, bool, float, int32_t, int32_t);
