#include "stages/damage/Splotches.h"

#include <cmath>

#include "lib/Common/FloatMath.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/TextureLibrary.h"
#include "pipeline/Random.h"
#include "stages/damage/TexturePlacement.h"

template <class Tag>
Status SplotchesStage(TX_STAGE_ARGS, int32_t number, float scale, float opacity) {
    (void)frame;
    (void)source;
    constexpr int32_t side = SplotchTextures.width;
    const RasterDesc out = output.describe();
    const int32_t depthKind = output.raster->depthKind();
    rng::SeedFromFrame(host);
    ScratchRaster texture(host, side, side, depthKind);
    if (!texture) return STATUS_UNSUPPORTED;
    if (number < 1) return STATUS_OK;

    Status status = STATUS_OK;
    const uint8_t* held = nullptr;  // the member the working raster holds
    for (int32_t i = 0; i < number; ++i) {
        const uint8_t* texels =
            LoadSplotchTexture(host, TextureMemberFor(rng::RandomUnit(), SplotchTextures.members));
        if (!texels) {
            status = STATUS_UNSUPPORTED;
            break;
        }
        const float angle = float(std::floor(rng::RandomUnit() * 400 + 0.5));
        const float sx = float(host.scaleX() * double(scale));
        const float sy = float(host.scaleY() * double(scale));
        const int32_t width = truncToInt32(std::floor(sx * float(side) + 0.5f));
        const int32_t height = truncToInt32(std::floor(sy * float(side) + 0.5f));
        const float x = PlacementCorner(rng::RandomUnit(), out.width, width);
        const float y = PlacementCorner(rng::RandomUnit(), out.height, height);

        ScratchRaster splotch(host, width, height, depthKind);
        if (!splotch) return STATUS_UNSUPPORTED;
        // Only what lands on the frame is made (see the dust's specks).
        const Placement p = ClipPlacement(x, y, splotch.desc().width, splotch.desc().height, out.width, out.height);
        if (Visible(p)) {
            if (held != texels) {
                CopyTexture<Tag>(texels, side, side, texture.desc().pixels, texture.desc().rowBytes);
                held = texels;
            }
            RotateScaleCopyWindow<Tag>(texture.desc(), splotch.desc(), sx, sy, angle, p.source);
        }
        CompositeRect<Tag>(&host, BLEND_MULTIPLY, splotch.desc(), out, p.source, p.destination, double(opacity));
    }
    return status;
}

template Status SplotchesStage<PIXEL_ARGB8>(TX_STAGE_ARGS, int32_t, float, float);
template Status SplotchesStage<PIXEL_BGRA8>(TX_STAGE_ARGS, int32_t, float, float);
template Status SplotchesStage<PIXEL_ARGB14>(TX_STAGE_ARGS, int32_t, float, float);
template Status SplotchesStage<PIXEL_BGRA14>(TX_STAGE_ARGS, int32_t, float, float);
