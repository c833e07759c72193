// Raw frames from and to ffmpeg, in and out of host images.
//
// 16-bit channels: ffmpeg's full range is 0..65535, the plug-in's is 0..16384 (white).
//   to the plug-in:   p = round(v * 16384 / 65535) = (v * 16384 + 32767) / 65535
//   from the plug-in: v = round(p * 65535 / 16384) = (p * 65535 + 8192) >> 14
// Both ends map onto each other (0 <-> 0, 65535 <-> 16384). A round trip moves a value by
// at most 2: the first rounding is off by at most half a plug-in step, which is 65535/16384/2
// (just under 2) in 16-bit units, and the second rounding adds at most half a unit; as the
// result is an integer, the sum below 2.5 means 2 at most.
#pragma once

#include <cstddef>
#include <cstdint>

#include "apps/tarnix/Media.h"
#include "refhost/Images.h"

namespace tarnix {

constexpr uint32_t kPluginWhite16 = 16384;

constexpr uint16_t toPluginRange(uint32_t v) { return uint16_t((v * kPluginWhite16 + 32767u) / 65535u); }
constexpr uint16_t fromPluginRange(uint32_t p) {
    return uint16_t(((p > kPluginWhite16 ? kPluginWhite16 : p) * 65535u + 8192u) >> 14);
}

refhost::PixelLayout layoutFor(const RawFormat& raw);
size_t rawFrameBytes(const RawFormat& raw, int width, int height);

// A run of `count` pixels, from packed raw.ffmpegName() samples into the plug-in's layout and back.
// `raw` and `pixels` may be the same memory: a frame read straight into its image is
// converted where it lies. 16-bit samples go through SSE2 where the build has it.
void unpackPixels(const uint8_t* raw, const RawFormat& format, uint8_t* pixels, size_t count);
void packPixels(const uint8_t* pixels, const RawFormat& format, uint8_t* raw, size_t count);
// The same, one table lookup per sample: the vector code is tested against these.
void unpackPixelsPlain(const uint8_t* raw, const RawFormat& format, uint8_t* pixels, size_t count);
void packPixelsPlain(const uint8_t* pixels, const RawFormat& format, uint8_t* raw, size_t count);

// One plane of a planar frame (0 G, 1 B, 2 R, 3 A; bytes, or 16-bit samples for deep frames)
// in and out of a run of `count` pixels. Unpacking plane 0 of a frame without an alpha plane
// makes the pixels opaque.
void unpackPlane(const uint8_t* samples, const RawFormat& format, int plane, uint8_t* pixels, size_t count);
void packPlane(const uint8_t* pixels, const RawFormat& format, int plane, uint8_t* samples, size_t count);
void unpackPlanePlain(const uint8_t* samples, const RawFormat& format, int plane, uint8_t* pixels, size_t count);
void packPlanePlain(const uint8_t* pixels, const RawFormat& format, int plane, uint8_t* samples, size_t count);

// `raw` holds one frame of raw.ffmpegName() pixels, rows packed; packed formats only.
void unpackFrame(const uint8_t* raw, const RawFormat& format, refhost::Image& image);
void packFrame(const refhost::Image& image, const RawFormat& format, uint8_t* raw);

}  // namespace tarnix
