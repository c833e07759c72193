#include "apps/tarnix/PixelPacking.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnix {

namespace {

// Tables instead of a division per sample.
const std::array<uint16_t, 65536>& toPluginTable() {
    static const auto table = [] {
        std::array<uint16_t, 65536> t{};
        for (uint32_t v = 0; v < t.size(); ++v) t[v] = toPluginRange(v);
        return t;
    }();
    return table;
}

const std::array<uint16_t, 65536>& fromPluginTable() {
    static const auto table = [] {
        std::array<uint16_t, 65536> t{};
        for (uint32_t p = 0; p < t.size(); ++p) t[p] = fromPluginRange(p);
        return t;
    }();
    return table;
}

// Where each channel of a raw 16-bit RGBA pixel goes in the image; either order is its own
// inverse's mirror, so packing reads from the same places.
constexpr int kRgbaToBgra[4] = {2, 1, 0, 3};
constexpr int kRgbaToArgb[4] = {1, 2, 3, 0};
// The RGBA channel of each plane: G, B, R, A.
constexpr int kPlaneChannel[4] = {1, 2, 0, 3};

// Where a plane's samples sit within an image pixel.
int slotOf(const RawFormat& format, int plane) { return (format.bgra ? kRgbaToBgra : kRgbaToArgb)[kPlaneChannel[plane]]; }
// The alpha slot that plane 0 of a frame without an alpha plane makes opaque; -1 for the rest.
int opaqueSlotOf(const RawFormat& format, int plane) {
    return plane == 0 && !format.alpha ? (format.bgra ? kRgbaToBgra : kRgbaToArgb)[3] : -1;
}

// Whole pixels are loaded before any is stored, so `in` may be `out`.
void unpackPlain(const uint8_t* in, const int* place, uint8_t* out, size_t count) {
    const auto& table = toPluginTable();
    for (size_t i = 0; i < count; ++i, in += 8, out += 8) {
        uint16_t v[4], p[4];
        std::memcpy(v, in, 8);
        for (int c = 0; c < 4; ++c) p[place[c]] = table[v[c]];
        std::memcpy(out, p, 8);
    }
}

void packPlain(const uint8_t* in, const int* place, uint8_t* out, size_t count) {
    const auto& table = fromPluginTable();
    for (size_t i = 0; i < count; ++i, in += 8, out += 8) {
        uint16_t p[4], v[4];
        std::memcpy(p, in, 8);
        for (int c = 0; c < 4; ++c) v[c] = table[p[place[c]]];
        std::memcpy(out, v, 8);
    }
}

void unpackPlaneTable(const uint16_t* samples, int slot, int opaqueSlot, uint8_t* pixels, size_t count) {
    const auto& table = toPluginTable();
    auto* out = reinterpret_cast<uint16_t*>(pixels);
    for (size_t i = 0; i < count; ++i) {
        out[4 * i + size_t(slot)] = table[samples[i]];
        if (opaqueSlot >= 0) out[4 * i + size_t(opaqueSlot)] = uint16_t(kPluginWhite16);
    }
}

void packPlaneTable(const uint8_t* pixels, int slot, uint16_t* samples, size_t count) {
    const auto& table = fromPluginTable();
    const auto* in = reinterpret_cast<const uint16_t*>(pixels);
    for (size_t i = 0; i < count; ++i) samples[i] = table[in[4 * i + size_t(slot)]];
}

void unpackBytePlane(const uint8_t* samples, int slot, int opaqueSlot, uint8_t* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        pixels[4 * i + size_t(slot)] = samples[i];
        if (opaqueSlot >= 0) pixels[4 * i + size_t(opaqueSlot)] = 255;
    }
}

void packBytePlane(const uint8_t* pixels, int slot, uint8_t* samples, size_t count) {
    for (size_t i = 0; i < count; ++i) samples[i] = pixels[4 * i + size_t(slot)];
}

#if defined(__SSE2__)

// Two pixels a vector: the channels reordered within each pixel's four 16-bit lanes (both
// orders map RGBA to the plug-in's and back by the same exchange), the samples widened to 32
// bits for the exact roundings of PixelPacking.h.
template <int Order>
__m128i reorder(__m128i v) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, Order), Order);
}
// RGBA <-> BGRA swaps lanes 0 and 2; RGBA -> ARGB moves A first, ARGB -> RGBA moves it back.
constexpr int kSwapRedBlue = _MM_SHUFFLE(3, 0, 1, 2);
constexpr int kAlphaFirst = _MM_SHUFFLE(2, 1, 0, 3);
constexpr int kAlphaLast = _MM_SHUFFLE(0, 3, 2, 1);

// round(v * 16384 / 65535) = (v * 16384 + 32767) / 65535, and x / 65535 = (x + (x >> 16) + 1) >> 16
// for every x up to 65535 * 16384 + 32767 (the unit test runs all 65536 samples).
inline __m128i toPlugin32(__m128i v) {
    const __m128i x = _mm_add_epi32(_mm_slli_epi32(v, 14), _mm_set1_epi32(32767));
    return _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(x, _mm_srli_epi32(x, 16)), _mm_set1_epi32(1)), 16);
}

template <int Order>
void unpackSse2(const uint8_t* in, uint8_t* out, size_t count) {
    const __m128i zero = _mm_setzero_si128();
    for (size_t i = 0; i + 2 <= count; i += 2, in += 16, out += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i low = toPlugin32(_mm_unpacklo_epi16(v, zero)), high = toPlugin32(_mm_unpackhi_epi16(v, zero));
        // Every result is at most 16384: the signed pack keeps it.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), reorder<Order>(_mm_packs_epi32(low, high)));
    }
}

// round(p * 65535 / 16384) = (p * 65535 + 8192) >> 14, centred on 0 for the signed pack. Any
// p above white (16384) gives more than 65535, which the pack's saturation holds at 65535: the
// hold at white comes free. p * 65535 stays below 2^32 and the shift is logical.
inline __m128i fromPlugin32(__m128i p) {
    const __m128i x = _mm_add_epi32(_mm_sub_epi32(_mm_slli_epi32(p, 16), p), _mm_set1_epi32(8192));
    return _mm_sub_epi32(_mm_srli_epi32(x, 14), _mm_set1_epi32(32768));
}

template <int Order>
void packSse2(const uint8_t* in, uint8_t* out, size_t count) {
    const __m128i zero = _mm_setzero_si128(), centre = _mm_set1_epi16(int16_t(0x8000));
    for (size_t i = 0; i + 2 <= count; i += 2, in += 16, out += 16) {
        const __m128i p = reorder<Order>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
        const __m128i packed = _mm_packs_epi32(fromPlugin32(_mm_unpacklo_epi16(p, zero)), fromPlugin32(_mm_unpackhi_epi16(p, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(packed, centre));
    }
}

// A vector of a plane's samples a step (eight 16-bit ones, converted side by side, or sixteen
// bytes), each spread over its pixel's four lanes and laid into its slot of the pixels the
// vector holds; the other lanes keep the pixels' own values, or take white in the alpha slot
// when the plane makes the pixels opaque.
template <bool Deep>
void unpackPlaneSse2(const uint8_t* samples, int slot, int opaqueSlot, uint8_t* pixels, size_t count) {
    constexpr size_t kSampleBytes = Deep ? 2 : 1, kPixelBytes = 4 * kSampleBytes, kStep = 16 / kSampleBytes;
    constexpr uint16_t kWhite = Deep ? uint16_t(kPluginWhite16) : 0xFF;
    uint8_t keep[16] = {}, into[16] = {}, white[16] = {};
    for (size_t b = 0; b < 16; ++b) {
        const int c = int(b % kPixelBytes / kSampleBytes);
        const uint8_t whiteByte = uint8_t(kWhite >> (8 * (b % kSampleBytes)));
        (c == slot ? into : c == opaqueSlot ? white : keep)[b] = c == opaqueSlot ? whiteByte : 0xFF;
    }
    const __m128i keepMask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep));
    const __m128i intoMask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(into));
    const __m128i whiteLanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(white));
    size_t i = 0;
    for (; i + kStep <= count; i += kStep) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i * kSampleBytes));
        if constexpr (Deep) {
            const __m128i zero = _mm_setzero_si128();
            v = _mm_packs_epi32(toPlugin32(_mm_unpacklo_epi16(v, zero)), toPlugin32(_mm_unpackhi_epi16(v, zero)));
        }
        // Each sample twice, then four times: a pixel's worth.
        const __m128i pairs[2] = {Deep ? _mm_unpacklo_epi16(v, v) : _mm_unpacklo_epi8(v, v),
                                  Deep ? _mm_unpackhi_epi16(v, v) : _mm_unpackhi_epi8(v, v)};
        for (int k = 0; k < 4; ++k) {
            const __m128i t = pairs[k / 2];
            const __m128i spread = Deep ? (k % 2 ? _mm_unpackhi_epi32(t, t) : _mm_unpacklo_epi32(t, t))
                                        : (k % 2 ? _mm_unpackhi_epi16(t, t) : _mm_unpacklo_epi16(t, t));
            auto* at = reinterpret_cast<__m128i*>(pixels + (i + size_t(k) * kStep / 4) * kPixelBytes);
            const __m128i old = _mm_loadu_si128(at);
            _mm_storeu_si128(at, _mm_or_si128(_mm_or_si128(_mm_and_si128(old, keepMask), _mm_and_si128(spread, intoMask)), whiteLanes));
        }
    }
    if constexpr (Deep)
        unpackPlaneTable(reinterpret_cast<const uint16_t*>(samples) + i, slot, opaqueSlot, pixels + i * kPixelBytes, count - i);
    else
        unpackBytePlane(samples + i, slot, opaqueSlot, pixels + i * kPixelBytes, count - i);
}

// Eight pixels' samples of one slot a step: each pixel's 64 bits shifted down to its slot,
// gathered into 32-bit lanes and rounded as the packed conversion does.
void packPlaneSse2(const uint8_t* pixels, int slot, uint16_t* samples, size_t count) {
    const __m128i centre = _mm_set1_epi16(int16_t(0x8000));
    const __m128i low16 = _mm_set_epi32(0, 0xFFFF, 0, 0xFFFF);
    const __m128i shift = _mm_cvtsi32_si128(16 * slot);
    const auto pair = [&](const uint8_t* at) {  // s0 s1 as 32-bit lanes 0 and 1
        const __m128i v = _mm_and_si128(_mm_srl_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), shift), low16);
        return _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
    };
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const uint8_t* at = pixels + i * 8;
        const __m128i low = _mm_unpacklo_epi64(pair(at), pair(at + 16));
        const __m128i high = _mm_unpacklo_epi64(pair(at + 32), pair(at + 48));
        const __m128i packed = _mm_packs_epi32(fromPlugin32(low), fromPlugin32(high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i), _mm_xor_si128(packed, centre));
    }
    packPlaneTable(pixels + i * 8, slot, samples + i, count - i);
}

#endif

}  // namespace

void unpackPlanePlain(const uint8_t* samples, const RawFormat& format, int plane, uint8_t* pixels, size_t count) {
    const int slot = slotOf(format, plane), opaque = opaqueSlotOf(format, plane);
    if (format.deep) unpackPlaneTable(reinterpret_cast<const uint16_t*>(samples), slot, opaque, pixels, count);
    else unpackBytePlane(samples, slot, opaque, pixels, count);
}

void packPlanePlain(const uint8_t* pixels, const RawFormat& format, int plane, uint8_t* samples, size_t count) {
    if (format.deep) packPlaneTable(pixels, slotOf(format, plane), reinterpret_cast<uint16_t*>(samples), count);
    else packBytePlane(pixels, slotOf(format, plane), samples, count);
}

void unpackPlane(const uint8_t* samples, const RawFormat& format, int plane, uint8_t* pixels, size_t count) {
#if defined(__SSE2__)
    const int slot = slotOf(format, plane), opaque = opaqueSlotOf(format, plane);
    (format.deep ? unpackPlaneSse2<true> : unpackPlaneSse2<false>)(samples, slot, opaque, pixels, count);
#else
    unpackPlanePlain(samples, format, plane, pixels, count);
#endif
}

void packPlane(const uint8_t* pixels, const RawFormat& format, int plane, uint8_t* samples, size_t count) {
#if defined(__SSE2__)
    // 8-bit frames leave as packed pixels; their planes have only the plain way.
    if (format.deep) return packPlaneSse2(pixels, slotOf(format, plane), reinterpret_cast<uint16_t*>(samples), count);
#endif
    packPlanePlain(pixels, format, plane, samples, count);
}

refhost::PixelLayout layoutFor(const RawFormat& raw) {
    using refhost::PixelLayout;
    return raw.deep ? (raw.bgra ? PixelLayout::BGRA16 : PixelLayout::ARGB16)
                    : (raw.bgra ? PixelLayout::BGRA8 : PixelLayout::ARGB8);
}

size_t rawFrameBytes(const RawFormat& raw, int width, int height) {
    return size_t(width) * size_t(height) * raw.bytesPerPixel();
}

void unpackPixelsPlain(const uint8_t* raw, const RawFormat& format, uint8_t* pixels, size_t count) {
    if (!format.deep) {
        if (raw != pixels) std::memcpy(pixels, raw, count * 4);
        return;
    }
    unpackPlain(raw, format.bgra ? kRgbaToBgra : kRgbaToArgb, pixels, count);
}

void packPixelsPlain(const uint8_t* pixels, const RawFormat& format, uint8_t* raw, size_t count) {
    if (!format.deep) {
        if (raw != pixels) std::memcpy(raw, pixels, count * 4);
        return;
    }
    packPlain(pixels, format.bgra ? kRgbaToBgra : kRgbaToArgb, raw, count);
}

void unpackPixels(const uint8_t* raw, const RawFormat& format, uint8_t* pixels, size_t count) {
#if defined(__SSE2__)
    if (format.deep) {
        if (format.bgra) unpackSse2<kSwapRedBlue>(raw, pixels, count);
        else unpackSse2<kAlphaFirst>(raw, pixels, count);
        const size_t done = count & ~size_t(1);
        unpackPixelsPlain(raw + done * 8, format, pixels + done * 8, count - done);
        return;
    }
#endif
    unpackPixelsPlain(raw, format, pixels, count);
}

void packPixels(const uint8_t* pixels, const RawFormat& format, uint8_t* raw, size_t count) {
#if defined(__SSE2__)
    if (format.deep) {
        if (format.bgra) packSse2<kSwapRedBlue>(pixels, raw, count);
        else packSse2<kAlphaLast>(pixels, raw, count);
        const size_t done = count & ~size_t(1);
        packPixelsPlain(pixels + done * 8, format, raw + done * 8, count - done);
        return;
    }
#endif
    packPixelsPlain(pixels, format, raw, count);
}

void unpackFrame(const uint8_t* raw, const RawFormat& format, refhost::Image& image) {
    const uint32_t width = image.shape().width, height = image.shape().height;
    const size_t rawRow = size_t(width) * format.bytesPerPixel();
    for (uint32_t y = 0; y < height; ++y) unpackPixels(raw + y * rawRow, format, image.row(y), width);
}

void packFrame(const refhost::Image& image, const RawFormat& format, uint8_t* raw) {
    const uint32_t width = image.shape().width, height = image.shape().height;
    const size_t rawRow = size_t(width) * format.bytesPerPixel();
    auto& source = const_cast<refhost::Image&>(image);  // row() is not const; nothing is written
    for (uint32_t y = 0; y < height; ++y) packPixels(source.row(y), format, raw + y * rawRow, width);
}

}  // namespace tarnix
