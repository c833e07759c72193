#include "lib/Common/TextureLibrary.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/PluginHost_API.h"
#include "lib/Common/PluginRaster_API.h"
#include "lib/Common/ProcessLock.h"
#include "lib/Common/StageTypes.h"
#include "platform/platform.h"

namespace {

// One block pointer per set, empty until the set's first load.
uint8_t* gFunkBlock = nullptr;
uint8_t* gSplotchBlock = nullptr;
uint8_t* gDustBlock = nullptr;
uint8_t* gScratchBlock = nullptr;

uint8_t*& blockOf(const TextureSet& set) {
    if (set.firstResourceId == FunkTexture.firstResourceId) return gFunkBlock;
    if (set.firstResourceId == SplotchTextures.firstResourceId) return gSplotchBlock;
    if (set.firstResourceId == DustTextures.firstResourceId) return gDustBlock;
    return gScratchBlock;
}

// Member bitmap `id` as texels B, G, R, A = 255, top row first, into `texels` (rows of `width`
// pixels). A bitmap that is missing, unreadable or of another size leaves black texels.
void decodeMember(int32_t id, uint8_t* texels, int32_t width, int32_t height) {
    const size_t rowBytes = size_t(width) * 4;
    platform::BitmapRows bitmap;
    const bool read = platform::decodeBitmap(id, width, height, platform::hostWindow(), bitmap);
    // A pixel as a little-endian word: B, G and R kept, the fourth byte (unused in a bitmap)
    // made the opaque alpha.
    constexpr uint32_t kColours = 0x00FFFFFFu, kOpaque = 0xFF000000u;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = texels + size_t(y) * rowBytes;
        if (!read) {
            for (int32_t x = 0; x < width; ++x) std::memcpy(out + 4 * x, &kOpaque, 4);
            continue;
        }
        // Bitmaps are stored bottom-up: texel row y is bitmap row height - 1 - y.
        const uint8_t* in = bitmap.rows + ptrdiff_t(height - 1 - y) * ptrdiff_t(rowBytes);
        for (int32_t x = 0; x < width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, in + 4 * x, 4);
            pixel = (pixel & kColours) | kOpaque;
            std::memcpy(out + 4 * x, &pixel, 4);
        }
    }
    platform::releaseBitmap(bitmap);
}

// Decodes every member into a new block; null when the set's scratch raster of the member size
// or the block cannot be had (the set then stays unloaded). The members go straight into the
// block: the raster is taken, and given back, only as the host's say in whether the set loads.
uint8_t* loadSet(PluginHost_API& host, const TextureSet& set) {
    // Given back on every path, a host failure raised midway included.
    ScratchRaster raster(host, set.width, set.height, DEPTH_8BIT);
    if (!raster) return nullptr;
    std::unique_ptr<uint8_t, decltype(&std::free)> block(static_cast<uint8_t*>(std::malloc(set.blockBytes())),
                                                         &std::free);
    if (!block) return nullptr;
    for (int32_t n = 1; n <= set.members; ++n)
        decodeMember(set.firstResourceId + n, block.get() + size_t(n - 1) * set.memberBytes(), set.width, set.height);
    return block.release();
}

const uint8_t* member(PluginHost_API& host, const TextureSet& set, int32_t index) {
    if (index < 1 || index > set.members) return nullptr;
    uint8_t*& block = blockOf(set);
    {
        // Two instances asking at once load the set once.
        ProcessLock lock;
        if (!block) block = loadSet(host, set);
    }
    return block ? block + size_t(index - 1) * set.memberBytes() : nullptr;
}

}  // namespace

const uint8_t* LoadFunkTexture(PluginHost_API& host, int32_t index) {
    // The one member answers for 1 and 2.
    return member(host, FunkTexture, index == 2 ? 1 : index);
}
const uint8_t* LoadSplotchTexture(PluginHost_API& host, int32_t index) { return member(host, SplotchTextures, index); }
const uint8_t* LoadDustTexture(PluginHost_API& host, int32_t index) { return member(host, DustTextures, index); }
const uint8_t* LoadScratchStrip(PluginHost_API& host, int32_t index) { return member(host, ScratchStrips, index); }

int32_t TextureMemberFor(double u, int32_t members) { return int32_t(std::floor(u * (members - 1) + 1 + 0.5)); }

void ReleaseTextureSets() {
    ProcessLock lock;
    for (uint8_t** block : {&gFunkBlock, &gSplotchBlock, &gDustBlock, &gScratchBlock}) {
        std::free(*block);
        *block = nullptr;
    }
}

bool TextureSetLoaded(const TextureSet& set) {
    ProcessLock lock;
    return blockOf(set) != nullptr;
}

template <class Tag>
void CopyTexture(const uint8_t* texels, int32_t width, int32_t height, uint8_t* pixels, int32_t rowBytes) {
    using F = typename Tag::FORMAT;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = texels + size_t(y) * size_t(width) * 4;
        auto* out = reinterpret_cast<typename Tag::Channel*>(pixels + ptrdiff_t(y) * rowBytes);
        if constexpr (kIs16Bit<Tag>) {
            const auto widen = [](uint8_t v) { return uint16_t((v << 6) | (v >> 2)); };
            for (int32_t x = 0; x < width; ++x, in += 4, out += 4) {
                out[F::A] = widen(in[0]);
                out[F::R] = widen(in[1]);
                out[F::B] = widen(in[2]);
                out[F::G] = widen(in[3]);
            }
        } else {
            std::memcpy(out, in, size_t(width) * 4);
        }
    }
}

template void CopyTexture<PIXEL_ARGB8>(const uint8_t*, int32_t, int32_t, uint8_t*, int32_t);
template void CopyTexture<PIXEL_BGRA8>(const uint8_t*, int32_t, int32_t, uint8_t*, int32_t);
template void CopyTexture<PIXEL_ARGB14>(const uint8_t*, int32_t, int32_t, uint8_t*, int32_t);
template void CopyTexture<PIXEL_BGRA14>(const uint8_t*, int32_t, int32_t, uint8_t*, int32_t);
