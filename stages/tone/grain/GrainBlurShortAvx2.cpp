// The window for radii up to 1 on 8-bit samples in 16-bit lanes at the AVX2 width: four
// pixels a vector where the single-precision form fits two. Each term and value is a product
// with a fitted multiplier (ShortKernels), equal to the float product for everything it meets,
// so the rows are those of the float form. Only the functions below the target switch use AVX2.
#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/TargetAvx2.h"
#include "stages/tone/grain/GrainBlurWindow.h"

#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
TX_BEGIN_AVX2

namespace grain_blur {
namespace {

constexpr int kQuadBytes = 16;  // four 8-bit pixels

// A lane pattern of four values repeated over the sixteen 16-bit lanes.
__m256i pattern(const int16_t (&v)[4]) {
    return _mm256_setr_epi16(v[0], v[1], v[2], v[3], v[0], v[1], v[2], v[3], v[0], v[1], v[2], v[3], v[0], v[1], v[2],
                             v[3]);
}

// A multiplier of up to 2^16: its low half for the high product, and the sample itself
// added where it is 2^16 (a weight of 1).
struct Multiplier {
    __m256i low, whole;
    explicit Multiplier(const uint32_t (&m)[4]) {
        int16_t low4[4], whole4[4];
        for (int i = 0; i < 4; ++i) {
            low4[i] = int16_t(uint16_t(m[i] & 0xFFFF));
            whole4[i] = int16_t(m[i] >= 65536 ? -1 : 0);
        }
        low = pattern(low4);
        whole = pattern(whole4);
    }
    __m256i times(__m256i x) const { return _mm256_add_epi16(_mm256_mulhi_epu16(x, low), _mm256_and_si256(x, whole)); }
};

template <class Tag, bool FittedValues>
class ShortVectors {
public:
    struct Terms {
        __m256i side, centre;
    };

    explicit ShortVectors(const ShortKernels& k) : k_(k), edge_(k.edge), inner_(k.inner), sides_(pattern(k.sides)) {
        int16_t low[4], high[4];
        for (int i = 0; i < 4; ++i) {
            low[i] = int16_t(uint16_t(k.norm[i] & 0xFFFF));
            high[i] = int16_t(k.norm[i] >> 16);
        }
        normLow_ = pattern(low);
        normHigh_ = pattern(high);
        const float* n = k.normWeight;
        normFloat_ = _mm256_setr_ps(n[0], n[1], n[2], n[3], n[0], n[1], n[2], n[3]);
    }

    Terms terms(__m256i p) const {
        const __m256i o = edge_.times(p);
        return {_mm256_and_si256(o, sides_), _mm256_add_epi16(o, inner_.times(p))};
    }
    // trunc(sum * k): (sum * m) >> 20 as the high product with m's low half plus the low
    // product with its high half, shifted by 4; or the float product, in 32-bit lanes whose
    // unpacks keep each half's pixels in place for the pack. A negative sum's value is 0, as
    // the byte store would hold it.
    __m256i value(__m256i sum) const {
        const __m256i held = _mm256_max_epi16(sum, _mm256_setzero_si256());
        if constexpr (FittedValues) {
            const __m256i product = _mm256_add_epi16(_mm256_mulhi_epu16(held, normLow_), _mm256_mullo_epi16(held, normHigh_));
            return _mm256_srli_epi16(product, ShortKernels::kValueShift - 16);
        } else {
            const __m256i zero = _mm256_setzero_si256();
            return _mm256_packs_epi32(floatValues(_mm256_unpacklo_epi16(held, zero)),
                                      floatValues(_mm256_unpackhi_epi16(held, zero)));
        }
    }

    // The offsets of lines that start at the four pixels `at` (16 bytes; four lines' first
    // pixels, as the vertical pass has them, or one pixel repeated).
    __m256i offsets(const uint8_t* at) const {
        alignas(32) int16_t lanes[16];
        for (int i = 0; i < 16; ++i) lanes[i] = int16_t(k_.lineOffset(i % 4, at[i]));
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
    }

    // Values back to bytes, held to 0..255, with the alpha of `source`.
    static __m128i bytes(__m256i values, __m256i source) {
        const __m256i withAlpha = _mm256_blend_epi16(values, source, 0x11 << Tag::FORMAT::A);
        return _mm_packus_epi16(_mm256_castsi256_si128(withAlpha), _mm256_extracti128_si256(withAlpha, 1));
    }

private:
    // A member rather than a lambda, whose body would not be sure to take the target options.
    __m256i floatValues(__m256i sums) const {
        return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sums), normFloat_));
    }

    const ShortKernels& k_;
    Multiplier edge_, inner_;
    __m256i sides_, normLow_, normHigh_;
    __m256 normFloat_;
};

// Quad i of a line widened, the line's last pixel repeated past its end (the edge rule).
__m256i lineQuad(const uint8_t* line, int32_t i, int32_t width) {
    const uint8_t* at = line + ptrdiff_t(i) * kQuadBytes;
    const int32_t left = width - 4 * i;
    if (left >= 4)
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
    alignas(16) uint8_t bytes[kQuadBytes];
    std::memcpy(bytes, at, size_t(left) * 4);
    for (int k = left; k < 4; ++k) std::memcpy(bytes + 4 * k, at + 4 * (left - 1), 4);
    return _mm256_cvtepu8_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(bytes)));
}

void storeLineQuad(uint8_t* line, int32_t i, int32_t width, __m128i b) {
    uint8_t* at = line + ptrdiff_t(i) * kQuadBytes;
    const int32_t left = width - 4 * i;
    if (left >= 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), b);
    } else {
        alignas(16) uint8_t bytes[kQuadBytes];
        _mm_store_si128(reinterpret_cast<__m128i*>(bytes), b);
        std::memcpy(at, bytes, size_t(left) * 4);
    }
}

// Pixels x - 1 of a quad from it and the quad before; x + 1 from it and the one after.
__m256i pixelsBefore(__m256i previous, __m256i v) {
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(previous, v, 0x21), 8);
}
__m256i pixelsAfter(__m256i v, __m256i next) {
    return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, next, 0x21), v, 8);
}
__m256i repeatFirst(__m256i v) { return _mm256_permute4x64_epi64(v, 0x00); }
__m256i repeatLast(__m256i v) { return _mm256_permute4x64_epi64(v, 0xFF); }

template <class Tag, class Vectors>
void shortRow(const Vectors& k, const uint8_t* source, uint8_t* destination, int32_t width) {
    using Terms = typename Vectors::Terms;
    const int32_t quads = (width + 3) / 4;
    __m256i quad = lineQuad(source, 0, width);
    const __m256i first = repeatFirst(quad);
    alignas(16) uint8_t firstPixels[kQuadBytes];
    for (int k4 = 0; k4 < 4; ++k4) std::memcpy(firstPixels + 4 * k4, source, 4);
    const __m256i lineOffset = k.offsets(firstPixels);
    Terms current = k.terms(quad);
    __m256i before = k.terms(first).side;  // the pixel before the first repeats it
    for (int32_t i = 0; i < quads; ++i) {
        const bool last = i + 1 == quads;
        const __m256i next = last ? quad : lineQuad(source, i + 1, width);
        const Terms following = last ? Terms{repeatLast(current.side), current.centre} : k.terms(next);
        const __m256i sides =
            _mm256_add_epi16(pixelsBefore(before, current.side), pixelsAfter(current.side, following.side));
        const __m256i sum = _mm256_add_epi16(sides, _mm256_add_epi16(current.centre, lineOffset));
        storeLineQuad(destination, i, width, Vectors::bytes(k.value(sum), quad));
        before = current.side;
        current = following;
        quad = next;
    }
}

// Columns walked row by row, as FloatColumns walks them, with 16-bit sums.
template <class Tag, class Vectors>
class ShortColumns {
public:
    using Terms = typename Vectors::Terms;

    ShortColumns(const Vectors& k, const RowRing& source, const RowRing& destination, int32_t width,
                 int32_t height)
        : k_(k), source_(source), destination_(destination), width_(width), height_(height), quads_((width + 3) / 4),
          kept_(size_t(quads_) * kPerQuad) {}

    explicit operator bool() const { return bool(kept_); }

    void start() {
        const uint8_t* first = source_.row(0);
        for (int32_t i = 0; i < quads_; ++i) {
            const __m256i pixels = lineQuad(first, i, width_);
            alignas(16) uint8_t padded[kQuadBytes];
            _mm_store_si128(reinterpret_cast<__m128i*>(padded), _mm_packus_epi16(_mm256_castsi256_si128(pixels),
                                                                                 _mm256_extracti128_si256(pixels, 1)));
            const Terms t = k_.terms(pixels);
            const __m256i offset = k_.offsets(padded);
            int16_t* kept = kept_.data() + size_t(i) * kPerQuad;
            store(kept + kOffsets, offset);
            store(kept + kPartial, _mm256_add_epi16(_mm256_add_epi16(t.side, t.centre), offset));
            store(kept + kSide, t.side);
        }
    }

    void row(int32_t y) {
        const bool belowInside = y + 1 < height_;
        const uint8_t* in = source_.row(y);
        const uint8_t* next = belowInside ? source_.row(y + 1) : nullptr;
        uint8_t* out = destination_.row(y);
        for (int32_t i = 0; i < quads_; ++i) {
            int16_t* kept = kept_.data() + size_t(i) * kPerQuad;
            const __m256i partial = load(kept + kPartial), side = load(kept + kSide);
            __m256i value;
            if (belowInside) {
                const Terms t = k_.terms(lineQuad(next, i, width_));
                value = k_.value(_mm256_add_epi16(partial, t.side));
                store(kept + kPartial, _mm256_add_epi16(_mm256_add_epi16(side, t.centre), load(kept + kOffsets)));
                store(kept + kSide, t.side);
            } else {
                value = k_.value(_mm256_add_epi16(partial, side));
            }
            storeLineQuad(out, i, width_, Vectors::bytes(value, lineQuad(in, i, width_)));
        }
    }

private:
    // Per quad: the next row's sum less its lower side term, the last row's side term, the
    // columns' offsets.
    static constexpr size_t kPartial = 0, kSide = 16, kOffsets = 32, kPerQuad = 48;
    static __m256i load(const int16_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }
    static void store(int16_t* at, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v); }

    const Vectors& k_;
    RowRing source_, destination_;
    int32_t width_, height_, quads_;
    CallBuffer<int16_t> kept_;
};

template <class Tag, class Vectors>
struct ShortRows {
    const Vectors& k;
    RowRing source, destination;
    int32_t width;
    void operator()(int32_t y) const { shortRow<Tag>(k, source.row(y), destination.row(y), width); }
};

template <class Tag, bool FittedValues>
bool shortPass(const ShortKernels& kernels, bool vertical, const RasterDesc& source, const RasterDesc& destination,
               int32_t width, int32_t height) {
    using Vectors = ShortVectors<Tag, FittedValues>;
    const Vectors k(kernels);
    if (vertical) {
        ShortColumns<Tag, Vectors> columns(k, RowRing::whole(source), RowRing::whole(destination), width, height);
        if (!columns)
            return false;
        columns.start();
        for (int32_t y = 0; y < height; ++y) columns.row(y);
        return true;
    }
    for (int32_t y = 0; y < height; ++y)
        shortRow<Tag>(k, source.pixels + ptrdiff_t(y) * source.rowBytes,
                      destination.pixels + ptrdiff_t(y) * destination.rowBytes, width);
    return true;
}

template <class Tag, bool FittedValues>
bool shortBoth(const ShortKernels& kernels, const RasterDesc& layer, const RasterDesc& buffer, int32_t width,
               int32_t height, const RowHooks& hooks) {
    using Vectors = ShortVectors<Tag, FittedValues>;
    const Vectors k(kernels);
    const auto layerRows = RowRing::first(layer, kLayerRowsHeld);
    const auto bufferRows = RowRing::first(buffer, kBufferRowsHeld);
    ShortColumns<Tag, Vectors> columns(k, bufferRows, layerRows, width, height);
    if (!columns)
        return false;
    bothPassesByRows(columns, ShortRows<Tag, Vectors>{k, layerRows, bufferRows, width}, layerRows, height, hooks);
    return true;
}

}  // namespace

template <class Tag>
bool shortPassAvx2(const ShortKernels& kernels, bool vertical, const RasterDesc& source, const RasterDesc& destination,
                   int32_t width, int32_t height) {
    return (kernels.valuesFitted ? shortPass<Tag, true> : shortPass<Tag, false>)(kernels, vertical, source, destination,
                                                                                 width, height);
}

template <class Tag>
bool shortBothAvx2(const ShortKernels& kernels, const RasterDesc& layer, const RasterDesc& buffer, int32_t width,
                   int32_t height, const RowHooks& hooks) {
    return (kernels.valuesFitted ? shortBoth<Tag, true> : shortBoth<Tag, false>)(kernels, layer, buffer, width, height,
                                                                                 hooks);
}

#define GRAIN_BLUR_SHORT_ENTRIES(Tag)                                                                        \
    template bool shortPassAvx2<Tag>(const ShortKernels&, bool, const RasterDesc&, const RasterDesc&, int32_t, \
                                     int32_t);                                                                 \
    template bool shortBothAvx2<Tag>(const ShortKernels&, const RasterDesc&, const RasterDesc&, int32_t, int32_t, \
                                     const RowHooks&);
GRAIN_BLUR_SHORT_ENTRIES(PIXEL_ARGB8)
GRAIN_BLUR_SHORT_ENTRIES(PIXEL_BGRA8)
#undef GRAIN_BLUR_SHORT_ENTRIES

}  // namespace grain_blur

TX_END_AVX2
