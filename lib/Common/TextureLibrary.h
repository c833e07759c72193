// The scanned film damage the module carries: four sets of greyscale bitmaps, each decoded
// once, on its first use, into one block of texels kept for the life of the process.
//
// A set's block holds its members one after another; member n (1-based) starts
// (n - 1) x w x h x 4 bytes in. Rows run top to bottom without gaps, and every texel is the
// four bytes B, G, R, A with B = G = R = the grey level and A = 255.
#pragma once

#include <cstddef>
#include <cstdint>

class PluginHost_API;

struct TextureSet {
    const char* name;
    int32_t firstResourceId;  // member n is the bitmap resource firstResourceId + n
    int32_t members;
    int32_t width;
    int32_t height;

    constexpr size_t memberBytes() const { return size_t(width) * size_t(height) * 4; }
    constexpr size_t blockBytes() const { return memberBytes() * size_t(members); }
};

inline constexpr TextureSet FunkTexture{"FunkTexture", 12000, 1, 2048, 2048};
inline constexpr TextureSet SplotchTextures{"SplotchTextures", 11000, 20, 400, 400};
inline constexpr TextureSet DustTextures{"DustTextures", 13000, 120, 32, 32};
inline constexpr TextureSet ScratchStrips{"ScratchStrips", 14000, 48, 6, 1440};

// The first texel of a member, or null: for an index outside the set (nothing is loaded
// then), or when the set cannot be loaded now (a later request tries again). The first
// request loads the whole set under the process-wide lock; later ones touch nothing.
const uint8_t* LoadFunkTexture(PluginHost_API& host, int32_t index);  // 1 and 2 give the one member
const uint8_t* LoadSplotchTexture(PluginHost_API& host, int32_t index);
const uint8_t* LoadDustTexture(PluginHost_API& host, int32_t index);
const uint8_t* LoadScratchStrip(PluginHost_API& host, int32_t index);

// Which member a draw u in [0, 1] picks from a set of `members`: round(u (members - 1) + 1),
// so the first and last come up half as often as the others.
int32_t TextureMemberFor(double u, int32_t members);

// Frees every set's block, when the library is shut down: a later request loads the set anew.
void ReleaseTextureSets();

// Whether a set's block is in memory (for tests: a request out of range loads nothing).
bool TextureSetLoaded(const TextureSet& set);

// Copies a member into a raster of the member's size in the raster's own format: 8-bit
// rasters take the texel bytes unchanged; 16-bit ones take each byte v as (v << 6) | (v >> 2)
// with the texel's bytes 0, 1, 2, 3 in samples 0, 1, 3, 2 (ARGB) or 3, 2, 0, 1 (BGRA).
template <class Tag>
void CopyTexture(const uint8_t* texels, int32_t width, int32_t height, uint8_t* pixels, int32_t rowBytes);
