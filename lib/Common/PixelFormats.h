// The four rendered pixel formats as compile-time tags. Every core template takes the tag;
// channel positions come from its FORMAT, never from a runtime switch.
#pragma once

#include <cstdint>

#include "lib/Common/RasterDesc.h"

struct PIXEL_ARGB8 {
    using Channel = uint8_t;
    struct FORMAT {
        static constexpr int A = 0, R = 1, G = 2, B = 3;
    };
    static constexpr uint32_t code = FORMAT_ARGB8;
    static constexpr int32_t white = 255;
    static constexpr DepthKind depth = DEPTH_8BIT;
    static constexpr int bytesPerPixel = 4;
};

struct PIXEL_BGRA8 {
    using Channel = uint8_t;
    struct FORMAT {
        static constexpr int B = 0, G = 1, R = 2, A = 3;
    };
    static constexpr uint32_t code = FORMAT_BGRA8;
    static constexpr int32_t white = 255;
    static constexpr DepthKind depth = DEPTH_8BIT;
    static constexpr int bytesPerPixel = 4;
};

struct PIXEL_ARGB14 {
    using Channel = uint16_t;
    struct FORMAT {
        static constexpr int A = 0, R = 1, G = 2, B = 3;
    };
    static constexpr uint32_t code = FORMAT_ARGB14;
    static constexpr int32_t white = 16384;
    static constexpr DepthKind depth = DEPTH_16BIT;
    static constexpr int bytesPerPixel = 8;
};

struct PIXEL_BGRA14 {
    using Channel = uint16_t;
    struct FORMAT {
        static constexpr int B = 0, G = 1, R = 2, A = 3;
    };
    static constexpr uint32_t code = FORMAT_BGRA14;
    static constexpr int32_t white = 16384;
    static constexpr DepthKind depth = DEPTH_16BIT;
    static constexpr int bytesPerPixel = 8;
};

template <class Tag>
constexpr bool kIs16Bit = sizeof(typename Tag::Channel) == 2;

// Row y of a described raster, as channels of the tag's type.
template <class Tag>
inline typename Tag::Channel* rowOf(const RasterDesc& d, int32_t y) {
    return reinterpret_cast<typename Tag::Channel*>(d.pixels + int64_t(y) * d.rowBytes);
}

// An 8-bit value placed into a 16-bit raster: 0 -> 0, 255 -> 16383.
constexpr uint16_t widen8to16(uint8_t b) { return uint16_t((b << 6) | (b >> 2)); }

// A colour handed over as 8-bit bytes, in the tag's channel type.
template <class Tag>
constexpr typename Tag::Channel fromByte(uint8_t b) {
    if constexpr (kIs16Bit<Tag>)
        return widen8to16(b);
    else
        return b;
}
