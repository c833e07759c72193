// The two compositing families, CompositeRect and BlendImages, over one per-pixel kernel.
//
// Each blend mode is a small op struct with its formula beside it. The mode is turned into an
// op type once per call; the row kernel is a template over the pixel-format tag and the op,
// so the pixel loop holds no mode or format dispatch. The alpha arithmetic of a pixel depends
// only on its two alpha samples, so it is worked out once per distinct pair and reused while
// the pair repeats (almost always along a row), together with an exact reciprocal for the
// division of the over step.
//
// Beside that plain kernel sit two vector paths. One is for the common case of one alpha pair
// over the whole frame (an opaque picture under a layer of constant alpha: grain, fading, gate
// weave): it composites a block of pixels at a time while they carry the first pixel's pair.
// Where that pair ends, the other takes the rest over an opaque picture with any top alpha
// (the textures of funk, splotches and dust, whose alpha is their grey in most formats); blocks
// it cannot take go to the plain kernel.
#include <algorithm>
#include <optional>
#include <tuple>
#include <type_traits>

#include "lib/Common/PluginHost_API.h"
#include "lib/Common/ExactDivision.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/simd/Cpu.h"
#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/LaneWidths.h"
#include "lib/Common/simd/LaneWidths512.h"
#include "lib/Common/PlainBlend.h"

namespace {

// The constants of the formulas for one sample width. 16-bit values reach 16384 and, with
// colour dodge and burn, intermediate blends exceed 32 bits, hence the 64-bit arithmetic there.
template <class Tag>
struct Depth {
    using Channel = typename Tag::Channel;
    using Wide = std::conditional_t<kIs16Bit<Tag>, int64_t, int32_t>;

    static constexpr Wide white = Tag::white;                   // 255 or 16384
    static constexpr Wide threshold = white / 2;                // 127 or 8192
    static constexpr int shift = kIs16Bit<Tag> ? 14 : 8;
    static constexpr Wide bias = Wide(1) << (shift - 1);        // 128 or 8192
    static constexpr Wide overScale = kIs16Bit<Tag> ? 16385 : 255;

    // (x + 128) >> 8: the round-half-up product scaling of every formula.
    static constexpr Wide scaled(Wide x) { return (x + bias) >> shift; }

    static constexpr Channel stored(Wide v) { return Channel(v < 0 ? 0 : (v > white ? white : v)); }
};

struct Straight {
    static constexpr bool premultiplied = false;
};

// Both sides computed and one kept by a mask: on picture data the side of a mid-grey
// threshold is close to a coin toss, and a mispredicted branch costs more than the arithmetic.
template <class W>
W select(bool condition, W ifTrue, W ifFalse) {
    const W mask = -W(condition);
    return (ifTrue & mask) | (ifFalse & ~mask);
}

// m = s
template <class K>
struct NormalOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W) { return s; }
};

// m = (s * d + 128) >> 8
template <class K>
struct MultiplyOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) { return K::scaled(s * d); }
};

// m = 255 - (((255 - s) * (255 - d) + 128) >> 8)
template <class K>
struct ScreenOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) { return K::white - K::scaled((K::white - s) * (K::white - d)); }
};

// d < 127: m = (2 s d + 128) >> 8; else m = d + (((2 s - 255) (255 - d) + 128) >> 8)
template <class K>
struct OverlayOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) {
        return select(d < K::threshold, K::scaled(2 * s * d), d + K::scaled((2 * s - K::white) * (K::white - d)));
    }
};

// m = d + (((255 - 2 s) * (((d d + 128) >> 8) - d) + 128) >> 8)
template <class K>
struct SoftLightOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) { return d + K::scaled((K::white - 2 * s) * (K::scaled(d * d) - d)); }
};

// s < 127: m = (2 s d + 128) >> 8; else m = 255 - ((2 (255 - s) (255 - d) + 128) >> 8)
template <class K>
struct HardLightOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) {
        return select(s < K::threshold, K::scaled(2 * s * d), K::white - K::scaled(2 * (K::white - s) * (K::white - d)));
    }
};

// m = min(s, d)
template <class K>
struct DarkenOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) { return std::min(s, d); }
};

// m = max(s, d)
template <class K>
struct LightenOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) { return std::max(s, d); }
};

// s < 255: m = d * 255 / (255 - s); else 255. Unclamped: the mix and over steps see it whole.
template <class K>
struct ColorDodgeOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) { return s < K::white ? d * K::white / (K::white - s) : K::white; }
};

// s > 0: m = 255 + (d - 255) * 255 / s; else 0
template <class K>
struct ColorBurnOp : Straight {
    using W = typename K::Wide;
    static W blend(W s, W d) { return s > 0 ? K::white + (d - K::white) * K::white / s : 0; }
};

// Add and Difference work on premultiplied colours: combine() gives the numerator that is
// scaled by the final multiplier and divided by A = min(a, 255).
template <class K>
struct AddOp {
    static constexpr bool premultiplied = true;
    using W = typename K::Wide;
    static W combine(W sp, W dp, W coverage) { return std::min(sp + dp, coverage); }
};

template <class K>
struct DifferenceOp {
    static constexpr bool premultiplied = true;
    using W = typename K::Wide;
    static W combine(W sp, W dp, W) { return sp > dp ? sp - dp : dp - sp; }
};

// Hands the op type of a handled mode to `body`; false for modes without a kernel.
template <class K, class Body>
bool withBlendOp(int32_t mode, Body&& body) {
    switch (mode) {
    case BLEND_NORMAL: body.template operator()<NormalOp<K>>(); return true;
    case BLEND_ADD: body.template operator()<AddOp<K>>(); return true;
    case BLEND_MULTIPLY: body.template operator()<MultiplyOp<K>>(); return true;
    case BLEND_SCREEN:
    case BLEND_SCREEN_ALT: body.template operator()<ScreenOp<K>>(); return true;
    case BLEND_OVERLAY: body.template operator()<OverlayOp<K>>(); return true;
    case BLEND_SOFT_LIGHT: body.template operator()<SoftLightOp<K>>(); return true;
    case BLEND_HARD_LIGHT: body.template operator()<HardLightOp<K>>(); return true;
    case BLEND_DARKEN: body.template operator()<DarkenOp<K>>(); return true;
    case BLEND_LIGHTEN: body.template operator()<LightenOp<K>>(); return true;
    case BLEND_DIFFERENCE: body.template operator()<DifferenceOp<K>>(); return true;
    case BLEND_COLOR_DODGE: body.template operator()<ColorDodgeOp<K>>(); return true;
    case BLEND_COLOR_BURN: body.template operator()<ColorBurnOp<K>>(); return true;
    default: return false;
    }
}

// What a pixel's colours become, decided by its two scaled alphas.
enum class Coverage : uint8_t {
    KeepBase,     // a_s = 0: base colours stay
    TakeSource,   // a_d = 0: source colours as they are
    Opaque,       // a_s = 255: the (mixed) blend itself
    Over,         // partial source over a present base, divided by A
    Premultiplied // Add and Difference
};

template <class K>
struct AlphaTerms {
    using W = typename K::Wide;
    W topAlpha = 0;        // a_s
    W baseAlpha = 0;       // a_d
    W baseWeight = 0;      // 255 - a_d, the unblended source share of the mix step
    W overWeight = 0;      // w = ((255 - a_s) a_d + 128) >> 8
    bool mixWithBase = false;  // a_d < 255
    Coverage coverage = Coverage::KeepBase;
    typename K::Channel storedAlpha = 0;
    W coverageLimit = 0;   // Add and Difference: A = min(a, 255)
    ExactDivisor byCoverage;
};

template <class K, class Op>
AlphaTerms<K> alphaTerms(typename K::Wide topAlpha, typename K::Wide baseAlpha) {
    using W = typename K::Wide;
    AlphaTerms<K> t;
    t.topAlpha = topAlpha;
    t.baseAlpha = baseAlpha;
    const W a = baseAlpha + topAlpha - K::scaled(baseAlpha * topAlpha);
    t.storedAlpha = K::stored(a);
    if (topAlpha == 0) {
        t.coverage = Coverage::KeepBase;
        return t;
    }
    if (baseAlpha == 0) {
        t.coverage = Coverage::TakeSource;
        t.storedAlpha = K::stored(topAlpha);
        return t;
    }
    if constexpr (Op::premultiplied) {
        t.coverage = Coverage::Premultiplied;
        t.coverageLimit = std::min(a, K::white);
        t.byCoverage.set(t.coverageLimit);
    } else {
        t.mixWithBase = baseAlpha < K::white;
        t.baseWeight = K::white - baseAlpha;
        if (topAlpha != K::white) {
            t.coverage = Coverage::Over;
            t.overWeight = K::scaled((K::white - topAlpha) * baseAlpha);
            t.byCoverage.set(t.overWeight + topAlpha);
        } else {
            t.coverage = Coverage::Opaque;
            t.storedAlpha = K::stored(topAlpha);
        }
    }
    return t;
}

// The opacity of CompositeRect: a double scaling the source alpha; the base alpha as is.
struct RectOpacity {
    double top;
    template <class W>
    W topAlpha(W as) const { return W(double(as) * top); }
    template <class W>
    W baseAlpha(W ad) const { return ad; }
};

// The opacities of BlendImages: floats scaling both alphas.
struct ImageOpacity {
    float top;
    float base;
    template <class W>
    W topAlpha(W as) const { return W(float(as) * top); }
    template <class W>
    W baseAlpha(W ad) const { return W(float(ad) * base); }
};

// An opacity outside 0..1 would make alphas that the formulas are not meant for (and could
// overflow them); it is held to that range, NaN counting as 0.
template <class T>
T unitOpacity(T opacity) {
    if (!(opacity > T(0)))
        return T(0);
    return opacity > T(1) ? T(1) : opacity;
}

// One row of `count` pixels: the top over the base into out. out may alias the base or the
// top pixel for pixel; every sample of a pixel is read before any is written.
template <class Tag, class Op, class Opacity>
class RowCompositor {
public:
    using K = Depth<Tag>;
    using W = typename K::Wide;
    using Channel = typename Tag::Channel;
    using F = typename Tag::FORMAT;

    explicit RowCompositor(const Opacity& opacity) : opacity_(opacity) {}

    void run(const Channel* top, const Channel* base, Channel* out, int32_t count) {
        for (int32_t x = 0; x < count; ++x, top += 4, base += 4, out += 4) {
            const W as = top[F::A];
            const W ad = base[F::A];
            if (as != cachedTop_ || ad != cachedBase_) {
                cachedTop_ = as;
                cachedBase_ = ad;
                terms_ = alphaTerms<K, Op>(opacity_.topAlpha(as), opacity_.baseAlpha(ad));
            }
            const W s[3] = {top[F::R], top[F::G], top[F::B]};
            const W d[3] = {base[F::R], base[F::G], base[F::B]};
            W c[3];
            switch (terms_.coverage) {
            case Coverage::KeepBase:
                c[0] = d[0], c[1] = d[1], c[2] = d[2];
                break;
            case Coverage::TakeSource:
                c[0] = s[0], c[1] = s[1], c[2] = s[2];
                break;
            default:
                for (int k = 0; k < 3; ++k)
                    c[k] = blendChannel(s[k], d[k]);
                break;
            }
            out[F::R] = K::stored(c[0]);
            out[F::G] = K::stored(c[1]);
            out[F::B] = K::stored(c[2]);
            out[F::A] = terms_.storedAlpha;
        }
    }

private:
    W blendChannel(W s, W d) const {
        const AlphaTerms<K>& t = terms_;
        if constexpr (Op::premultiplied) {
            // s' = (s a_s + 128) >> 8 (s at a_s = 255); c = combine * 255 / A
            const W sp = t.topAlpha == K::white ? s : K::scaled(s * t.topAlpha);
            const W dp = t.baseAlpha == K::white ? d : K::scaled(d * t.baseAlpha);
            return t.byCoverage.quotient(Op::combine(sp, dp, t.coverageLimit) * K::overScale);
        } else {
            W m = Op::blend(s, d);
            // m' = (((255 - a_d) s + 128) >> 8) + ((m a_d + 128) >> 8) while the base is partial
            if (t.mixWithBase)
                m = K::scaled(t.baseWeight * s) + K::scaled(m * t.baseAlpha);
            if (t.coverage != Coverage::Over)
                return m;
            // c = ((((w d + 128) >> 8) + ((m' a_s + 128) >> 8)) * 255) / A
            return t.byCoverage.quotient((K::scaled(t.overWeight * d) + K::scaled(m * t.topAlpha)) * K::overScale);
        }
    }

    Opacity opacity_;
    W cachedTop_ = -1;
    W cachedBase_ = -1;
    AlphaTerms<K> terms_;
};

// ---- The vector path: one alpha pair, a block of pixels at a time in 16-bit lanes ----

}  // namespace

namespace narrow_lanes {
namespace {
using V = simd::Sse2Lanes;
#include "lib/Common/BlendLanes.inc"
}  // namespace
}  // namespace narrow_lanes

// The AVX2 width. Its functions pass vectors only among themselves; the rest of this unit
// reaches it through constantPairRows, which takes and returns no vector. The Windows compiler
// still warns about the vector-passing ABI when it specialises a copy of an AVX2 function for
// constant arguments (it judges the copy without the target); that warning is spurious here.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
TX_BEGIN_AVX2
namespace wide_lanes {
namespace {
using V = simd::Avx2Lanes;
#include "lib/Common/BlendLanes.inc"
}  // namespace
}  // namespace wide_lanes
TX_END_AVX2

// The AVX-512 width, for 8-bit samples only: a block of sixteen 8-bit pixels is one 64-byte
// line, and those kernels run at nearly twice the AVX2 speed; 16-bit blocks of 128 bytes
// measured slower than AVX2 for normal and multiply, so 16-bit samples keep AVX2.
TX_BEGIN_AVX512
namespace widest_lanes {
namespace {
using V = simd::Avx512Lanes;
#include "lib/Common/BlendLanes.inc"
}  // namespace
}  // namespace widest_lanes
TX_END_AVX2

namespace {

// The rows of a raster that the kernels read or write, as a byte range.
struct ByteSpan {
    const uint8_t* first;
    const uint8_t* end;
    bool overlaps(const ByteSpan& other) const { return first < other.end && other.first < end; }
};

template <class Tag>
ByteSpan spanOf(const typename Tag::Channel* firstPixel, int32_t rowBytes, int32_t width, int32_t height) {
    const auto* start = reinterpret_cast<const uint8_t*>(firstPixel);
    const auto* lastRow = start + ptrdiff_t(height - 1) * rowBytes;
    const ptrdiff_t used = ptrdiff_t(width) * Tag::bytesPerPixel;
    return rowBytes >= 0 ? ByteSpan{start, lastRow + used} : ByteSpan{lastRow, start + used};
}

// The vector path reads four pixels before it writes them, which equals the plain order only
// when the output either is an input, pixel for pixel, or shares no byte with it.
template <class Tag>
bool separateOrSame(const typename Tag::Channel* input, int32_t inputRowBytes, const typename Tag::Channel* output,
                    int32_t outputRowBytes, int32_t width, int32_t height) {
    if (input == output && inputRowBytes == outputRowBytes)
        return true;
    return !spanOf<Tag>(input, inputRowBytes, width, height).overlaps(spanOf<Tag>(output, outputRowBytes, width, height));
}

// The widest lanes the processor has, from the vector path's first row: AVX-512 for 8-bit
// samples only (its 16-bit instances are not even made), AVX2, SSE2. Returns the rows done.
template <class Tag, class Op, class... Args>
int32_t constantPairRowsAtWidest(Args&... args) {
    if constexpr (!kIs16Bit<Tag>)
        if (cpu::hasAvx512())
            return widest_lanes::constantPairRows<Tag, Op>(args...);
    return cpu::hasAvx2() ? wide_lanes::constantPairRows<Tag, Op>(args...)
                          : narrow_lanes::constantPairRows<Tag, Op>(args...);
}
template <class Tag, class Op, class... Args>
void opaqueBaseRowsAtWidest(Args&... args) {
    if constexpr (!kIs16Bit<Tag>)
        if (cpu::hasAvx512())
            return widest_lanes::opaqueBaseRows<Tag, Op>(args...);
    if (cpu::hasAvx2())
        wide_lanes::opaqueBaseRows<Tag, Op>(args...);
    else
        narrow_lanes::opaqueBaseRows<Tag, Op>(args...);
}

// The plain kernel over rows, after the vector path where the mode has one and it is allowed,
// for as long as it lasts. `row(k)` gives row k's top, base and output pixels.
template <class Tag, class Op, class Opacity, class Rows>
void compositeRows(const Opacity& opacity, bool vector, int32_t width, int32_t height, Rows row) {
    using K = Depth<Tag>;
    using W = typename K::Wide;
    RowCompositor<Tag, Op, Opacity> compositor(opacity);
    int32_t k = 0;
    if constexpr (narrow_lanes::LaneBlend<Op>::exists) {
        // The pair of the first pixel, while its scaled alphas lie within 0..white.
        const auto [firstTop, firstBase, firstOut] = row(0);
        const W topAlpha = firstTop[Tag::FORMAT::A], baseAlpha = firstBase[Tag::FORMAT::A];
        const W as = opacity.topAlpha(topAlpha), ad = opacity.baseAlpha(baseAlpha);
        if (vector && as >= 0 && as <= K::white && ad >= 0 && ad <= K::white) {
            const AlphaTerms<K> terms = alphaTerms<K, Op>(as, ad);
            k = constantPairRowsAtWidest<Tag, Op>(terms, topAlpha, baseAlpha, compositor, width, height, row);
        }
        // What is left, over an opaque base, pixel by pixel in lanes. The table of scaled top
        // alphas pays for itself from a few times its size in pixels on; without it the plain
        // kernel gives the same bytes.
        if (vector && k < height && opacity.baseAlpha(K::white) == K::white &&
            int64_t(width) * (height - k) >= 4 * (int64_t(K::white) + 1)) {
            CallBuffer<int16_t> scaled(size_t(K::white) + 1);
            if (scaled) {
                for (W v = 0; v <= K::white; ++v)
                    scaled[size_t(v)] = int16_t(opacity.topAlpha(v));
                const int16_t* table = scaled.data();
                opaqueBaseRowsAtWidest<Tag, Op>(table, compositor, width, k, height, row);
                k = height;
            }
        }
    }
    for (; k < height; ++k) {
        const auto [top, base, out] = row(k);
        compositor.run(top, base, out, width);
    }
}

// The two families, with or without the vector path.
template <class Tag>
Status compositeRect(PluginHost_API* host, int32_t mode, const RasterDesc& source, const RasterDesc& destination,
                     const Rect16& sourceRect, const Rect16& destinationRect, double opacity, bool vector) {
    const int32_t width = int32_t(sourceRect.right) - sourceRect.left;
    const int32_t height = int32_t(sourceRect.bottom) - sourceRect.top;
    if (width != int32_t(destinationRect.right) - destinationRect.left ||
        height != int32_t(destinationRect.bottom) - destinationRect.top)
        return STATUS_UNSUPPORTED;
    // The host is offered the blend; there is no host operation to hand it to, so our own
    // kernel runs whatever the answer (and the binding always declines).
    if (host)
        host->hostComposites(mode);

    // Pairs whose destination or source pixel lies outside its raster are skipped.
    const int32_t firstRow = std::max({0, -int32_t(destinationRect.top), -int32_t(sourceRect.top)});
    const int32_t endRow = std::min({height, destination.height - destinationRect.top, source.height - sourceRect.top});
    const int32_t firstColumn = std::max({0, -int32_t(destinationRect.left), -int32_t(sourceRect.left)});
    const int32_t endColumn =
        std::min({width, destination.width - destinationRect.left, source.width - sourceRect.left});
    if (firstRow >= endRow || firstColumn >= endColumn)
        return STATUS_OK;

    const RectOpacity scale{unitOpacity(opacity)};
    const auto row = [&](int32_t k) {
        const auto* top = rowOf<Tag>(source, sourceRect.top + firstRow + k) + 4 * (sourceRect.left + firstColumn);
        auto* out = rowOf<Tag>(destination, destinationRect.top + firstRow + k) + 4 * (destinationRect.left + firstColumn);
        return std::tuple<const typename Tag::Channel*, const typename Tag::Channel*, typename Tag::Channel*>{top, out, out};
    };
    const int32_t columns = endColumn - firstColumn, rows = endRow - firstRow;
    const auto [firstTop, firstBase, firstOut] = row(0);
    vector = vector && separateOrSame<Tag>(firstTop, source.rowBytes, firstOut, destination.rowBytes, columns, rows);
    withBlendOp<Depth<Tag>>(mode, [&]<class Op>() { compositeRows<Tag, Op>(scale, vector, columns, rows, row); });
    return STATUS_OK;
}

template <class Tag>
Status blendImages(PluginHost_API* host, int32_t mode, float topOpacity, float baseOpacity, const RasterDesc& top,
                   const RasterDesc& base, const RasterDesc& destination, bool vector) {
    if (host)
        host->hostComposites(mode);
    // The base decides the extent; a smaller top or destination is not read or written past.
    const int32_t width = std::min({base.width, top.width, destination.width});
    const int32_t height = std::min({base.height, top.height, destination.height});
    if (width <= 0 || height <= 0)
        return STATUS_OK;

    const ImageOpacity scale{unitOpacity(topOpacity), unitOpacity(baseOpacity)};
    const auto row = [&](int32_t y) {
        return std::tuple<const typename Tag::Channel*, const typename Tag::Channel*, typename Tag::Channel*>{
            rowOf<Tag>(top, y), rowOf<Tag>(base, y), rowOf<Tag>(destination, y)};
    };
    auto* out = rowOf<Tag>(destination, 0);
    vector = vector && separateOrSame<Tag>(rowOf<Tag>(top, 0), top.rowBytes, out, destination.rowBytes, width, height) &&
             separateOrSame<Tag>(rowOf<Tag>(base, 0), base.rowBytes, out, destination.rowBytes, width, height);
    withBlendOp<Depth<Tag>>(mode, [&]<class Op>() { compositeRows<Tag, Op>(scale, vector, width, height, row); });
    return STATUS_OK;
}

}  // namespace

template <class Tag>
Status CompositeRect(PluginHost_API* host, int32_t mode, const RasterDesc& source, const RasterDesc& destination,
                     const Rect16& sourceRect, const Rect16& destinationRect, double opacity) {
    return compositeRect<Tag>(host, mode, source, destination, sourceRect, destinationRect, opacity, true);
}

template <class Tag>
Status CompositeRectPlain(PluginHost_API* host, int32_t mode, const RasterDesc& source, const RasterDesc& destination,
                          const Rect16& sourceRect, const Rect16& destinationRect, double opacity) {
    return compositeRect<Tag>(host, mode, source, destination, sourceRect, destinationRect, opacity, false);
}

template <class Tag>
Status BlendImages(PluginHost_API* host, int32_t mode, float topOpacity, float baseOpacity, const RasterDesc& top,
                   const RasterDesc& base, const RasterDesc& destination) {
    return blendImages<Tag>(host, mode, topOpacity, baseOpacity, top, base, destination, true);
}

template <class Tag>
Status BlendImagesRow(PluginHost_API* host, int32_t y, int32_t mode, float topOpacity, float baseOpacity,
                      const RasterDesc& top, const RasterDesc& base, const RasterDesc& destination) {
    if (y == 0 && host)
        host->hostComposites(mode);
    return blendImages<Tag>(nullptr, mode, topOpacity, baseOpacity, top, base, destination, true);
}

template <class Tag>
Status BlendImagesPlain(PluginHost_API* host, int32_t mode, float topOpacity, float baseOpacity, const RasterDesc& top,
                        const RasterDesc& base, const RasterDesc& destination) {
    return blendImages<Tag>(host, mode, topOpacity, baseOpacity, top, base, destination, false);
}

template Status CompositeRect<PIXEL_ARGB8>(PluginHost_API*, int32_t, const RasterDesc&, const RasterDesc&,
                                           const Rect16&, const Rect16&, double);
template Status CompositeRect<PIXEL_BGRA8>(PluginHost_API*, int32_t, const RasterDesc&, const RasterDesc&,
                                           const Rect16&, const Rect16&, double);
template Status CompositeRect<PIXEL_ARGB14>(PluginHost_API*, int32_t, const RasterDesc&, const RasterDesc&,
                                            const Rect16&, const Rect16&, double);
template Status CompositeRect<PIXEL_BGRA14>(PluginHost_API*, int32_t, const RasterDesc&, const RasterDesc&,
                                            const Rect16&, const Rect16&, double);

template Status BlendImages<PIXEL_ARGB8>(PluginHost_API*, int32_t, float, float, const RasterDesc&,
                                         const RasterDesc&, const RasterDesc&);
template Status BlendImages<PIXEL_BGRA8>(PluginHost_API*, int32_t, float, float, const RasterDesc&,
                                         const RasterDesc&, const RasterDesc&);
template Status BlendImages<PIXEL_ARGB14>(PluginHost_API*, int32_t, float, float, const RasterDesc&,
                                          const RasterDesc&, const RasterDesc&);
template Status BlendImages<PIXEL_BGRA14>(PluginHost_API*, int32_t, float, float, const RasterDesc&,
                                          const RasterDesc&, const RasterDesc&);
#define TX_BLEND_IMAGES_ROW(Tag)                                                                            \
    template Status BlendImagesRow<Tag>(PluginHost_API*, int32_t, int32_t, float, float, const RasterDesc&, \
                                        const RasterDesc&, const RasterDesc&);
TX_BLEND_IMAGES_ROW(PIXEL_ARGB8)
TX_BLEND_IMAGES_ROW(PIXEL_BGRA8)
TX_BLEND_IMAGES_ROW(PIXEL_ARGB14)
TX_BLEND_IMAGES_ROW(PIXEL_BGRA14)
#undef TX_BLEND_IMAGES_ROW

template Status CompositeRectPlain<PIXEL_ARGB8>(PluginHost_API*, int32_t, const RasterDesc&, const RasterDesc&,
                                               const Rect16&, const Rect16&, double);
template Status CompositeRectPlain<PIXEL_BGRA8>(PluginHost_API*, int32_t, const RasterDesc&, const RasterDesc&,
                                               const Rect16&, const Rect16&, double);
template Status CompositeRectPlain<PIXEL_ARGB14>(PluginHost_API*, int32_t, const RasterDesc&, const RasterDesc&,
                                                const Rect16&, const Rect16&, double);
template Status CompositeRectPlain<PIXEL_BGRA14>(PluginHost_API*, int32_t, const RasterDesc&, const RasterDesc&,
                                                const Rect16&, const Rect16&, double);

template Status BlendImagesPlain<PIXEL_ARGB8>(PluginHost_API*, int32_t, float, float, const RasterDesc&,
                                             const RasterDesc&, const RasterDesc&);
template Status BlendImagesPlain<PIXEL_BGRA8>(PluginHost_API*, int32_t, float, float, const RasterDesc&,
                                             const RasterDesc&, const RasterDesc&);
template Status BlendImagesPlain<PIXEL_ARGB14>(PluginHost_API*, int32_t, float, float, const RasterDesc&,
                                              const RasterDesc&, const RasterDesc&);
template Status BlendImagesPlain<PIXEL_BGRA14>(PluginHost_API*, int32_t, float, float, const RasterDesc&,
                                              const RasterDesc&, const RasterDesc&);
