// Vignette: darkens towards the edges and corners like the light fall-off of an old lens, with
// a gamma whose strength grows linearly with the distance from the frame centre.
#include "stages/tone/Vignette.h"

#include <algorithm>
#include <cmath>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/PowerOfTwo.h"

namespace {

// Map entry of a pixel whose multiplier is exactly 1: it is left alone.
constexpr int16_t kUntouched = -1;

// The distance of a pixel from the centre. Offsets are whole or half pixels, so their squares
// and the sum are exact in double and the square root is the correctly rounded hypotenuse,
// the same on every platform whatever its hypot does.
inline double centreDistance(float dx, float dy) { return std::sqrt(double(dx) * double(dx) + double(dy) * double(dy)); }

// The frame's fall-off: half sizes, corner distance and inner radius in single precision.
struct Falloff {
    float halfW, halfH, maxR, inner;
    int32_t cx, cy;
    double outer;  // the multiplier at the corner distance and beyond

    Falloff(int32_t width, int32_t height, float size, float intensity)
        : halfW(float(width) * 0.5f),
          halfH(float(height) * 0.5f),
          maxR(float(centreDistance(halfW, halfH))),
          inner(size / 100.0f * maxR),
          cx(int32_t(halfW)),
          cy(int32_t(halfH)),
          outer(1.0 - double(intensity)) {}

    // For a pixel past the inner radius: falling linearly from 1 there to 1 - intensity at the
    // corner distance, and 1 - intensity beyond it.
    double multiplier(double d) const {
        double m = outer;
        if (d <= maxR)
            m = m + (1.0 - m) * double(float((maxR - d) / (maxR - inner)));
        return m;
    }
};

// The gamma step of a multiplier: k = trunc(1000 m) - 1 in single precision, so the curve's
// g = (k + 1) / 1000 is m cut to three decimals. Multipliers below 0.001 (and NaN) take the
// first step, those past the last step of the table its last one.
int16_t gammaStep(double m) {
    const float mf = float(m);
    if (mf == 1.0f)
        return kUntouched;
    const float scaled = 1000.0f * mf;
    if (!(scaled >= 1.0f))
        return 0;
    if (scaled >= float(kVignetteSteps))
        return kVignetteSteps - 1;
    return int16_t(int32_t(scaled) - 1);
}

// The darkening of each gamma step used in the frame, numbered 0 .. count - 1 ("curves").
template <class Tag, bool = kIs16Bit<Tag>>
struct Darkening;

// 8-bit: the instance's gamma table rounded to bytes, filled before the pixels and stored
// level by level (entry (v, c) at v * count + c), so neighbouring pixels, whose steps are
// neighbours, read neighbouring bytes.
template <class Tag>
struct Darkening<Tag, false> {
    using Channel = typename Tag::Channel;
    using Element = Channel;
    Channel* entries;
    int64_t count;

    static int64_t elements(int64_t count) { return count * 256; }
    Darkening(Element* block, int64_t curveCount) : entries(block), count(curveCount) {}

    void prepare(int64_t c, int32_t k, const InstanceBlock* block) {
        for (int32_t v = 0; v < 256; ++v) {
            const float entry = block ? block->vignetteGammaTable[v][k] : vignetteGammaEntry(v, k);
            entries[v * count + c] = Channel(std::clamp(int32_t(double(entry) + 0.5), 0, 255));
        }
    }

    // R, G and B through curve c; alpha untouched.
    void darken(Channel* px, int64_t c) const {
        using F = typename Tag::FORMAT;
        px[F::R] = entries[px[F::R] * count + c];
        px[F::G] = entries[px[F::G] * count + c];
        px[F::B] = entries[px[F::B] * count + c];
    }
};

// 16-bit: v' = trunc(16384 (v / 16384)^(1 / g) + 0.5) with the single-precision g of the 8-bit
// table, the power in double as the C library's pow gives it. A curve per step would be too
// big to stay in cache and too costly to fill (16385 powers each, few of them read), so each
// sample is worked out: 2^(log2(v / 16384) / g) from a table of logarithms, which lies within
// 1e-10 of a level of the power; only where that falls within 1e-7 of a rounding boundary is
// pow itself asked, so the result is the power's to the last level.
template <class Tag>
struct Darkening<Tag, true> {
    using Channel = typename Tag::Channel;
    static constexpr int32_t kLevels = Tag::white + 1;
    static constexpr double kWhite = Tag::white;
    static constexpr double kMargin = 1e-7;
    using Element = double;
    double* exponents;  // 1 / g of each curve
    double* logs;       // log2(v / white) for v = 0 .. white

    static int64_t elements(int64_t count) { return count + kLevels; }
    Darkening(Element* block, int64_t curveCount) : exponents(block), logs(block + curveCount) {
        for (int32_t v = 0; v < kLevels; ++v)
            logs[v] = std::log2(double(v) / kWhite);  // -inf at 0, which the power takes to 0
    }

    void prepare(int64_t c, int32_t k, const InstanceBlock*) { exponents[c] = 1.0 / double(float(k + 1) / 1000.0f); }

    // Samples above white (a host out of range) count as white.
    static uint32_t sample(Channel v) { return v < Tag::white ? uint32_t(v) : uint32_t(Tag::white); }

    // The level of sample i from its power of two, near or exact: pow settles values close to
    // a rounding boundary.
    static Channel settled(double power, uint32_t i, double exponent) {
        // x lies in 0.5 .. white + 0.5, so the conversions below are plain truncations.
        const double x = kWhite * power + 0.5;
        int32_t n = int32_t(x);
        const double fraction = x - double(n);
        if (fraction < kMargin || fraction > 1.0 - kMargin)
            n = int32_t(kWhite * std::pow(double(i) / kWhite, exponent) + 0.5);
        return Channel(n < Tag::white ? n : Tag::white);
    }

    Channel level(Channel v, double exponent) const {
        const uint32_t i = sample(v);
        return settled(std::exp2(logs[i] * exponent), i, exponent);
    }

    void darken(Channel* px, int64_t c) const {
        using F = typename Tag::FORMAT;
        const double exponent = exponents[c];
        px[F::R] = level(px[F::R], exponent);
        px[F::G] = level(px[F::G], exponent);
        px[F::B] = level(px[F::B], exponent);
    }

    // A row at once, its powers taken together in the processor's lanes (`powers` holds three a
    // pixel): the same levels as darken gives, as both are the power's to the last level.
    void darkenRow(Channel* px, const int16_t* curveAt, int32_t centre, int32_t width, double* powers) const {
        using F = typename Tag::FORMAT;
        const auto curveOf = [&](int32_t x) { return curveAt[x < centre ? centre - x : x - centre]; };
        int32_t n = 0;
        for (int32_t x = 0; x < width; ++x) {
            const int16_t c = curveOf(x);
            if (c == kUntouched)
                continue;
            for (int k : {F::R, F::G, F::B})
                powers[n++] = logs[sample(px[4 * x + k])] * exponents[c];
        }
        Exp2Near(powers, powers, n);
        n = 0;
        for (int32_t x = 0; x < width; ++x) {
            const int16_t c = curveOf(x);
            if (c == kUntouched)
                continue;
            for (int k : {F::R, F::G, F::B}) {
                Channel& v = px[4 * x + k];
                v = settled(powers[n++], sample(v), exponents[c]);
            }
        }
    }
};

}  // namespace

template <class Tag>
Status VignetteStage(TX_STAGE_ARGS, float size, float intensity) {
    using Channel = typename Tag::Channel;
    using Curves = Darkening<Tag>;
    (void)frame;
    (void)source;
    const RasterDesc out = output.describe();
    if (!out.pixels || out.width <= 0 || out.height <= 0)
        return STATUS_OK;
    const Falloff f(out.width, out.height, size, intensity);
    // Every multiplier lies between 1 and 1 - intensity; when that narrows to 1, nothing moves.
    if (float(f.outer) == 1.0f)
        return STATUS_OK;

    // Gamma steps by horizontal and vertical distance from (cx, cy), one quadrant mirrored onto
    // all four. Past cx and cy only where a frame too wide for single precision puts pixels
    // there; those entries stay untouched.
    const int64_t mapWidth = std::max(f.cx, out.width - 1 - f.cx) + 1;
    const int64_t mapHeight = std::max(f.cy, out.height - 1 - f.cy) + 1;
    CallBuffer<int16_t> mapBlock(size_t(mapWidth * mapHeight));
    if (!mapBlock)
        return STATUS_NO_RASTER;
    int16_t* map = mapBlock.data();
    std::fill_n(map, mapWidth * mapHeight, kUntouched);

    // Each row walks towards the centre and stops at the inner radius: nearer pixels are
    // inside as well.
    bool used[kVignetteSteps] = {};
    for (int32_t y = 0; y <= f.cy; ++y) {
        const float dy = std::fabs(float(y) - f.halfH);
        int16_t* row = map + int64_t(dy) * mapWidth;
        for (int32_t x = 0; x <= f.cx; ++x) {
            const float dx = std::fabs(float(x) - f.halfW);
            const double d = centreDistance(dx, dy);
            if (!(d > f.inner))
                break;
            const int16_t k = gammaStep(f.multiplier(d));
            row[int64_t(dx)] = k;
            if (k != kUntouched)
                used[k] = true;
        }
    }

    // One curve per step in use, numbered in step order; the map then holds curve numbers.
    int16_t curveOf[kVignetteSteps];
    int32_t curveCount = 0;
    for (int32_t k = 0; k < kVignetteSteps; ++k)
        curveOf[k] = used[k] ? int16_t(curveCount++) : kUntouched;
    if (curveCount == 0)
        return STATUS_OK;  // intensity 0, or every pixel inside the inner radius

    CallBuffer<typename Curves::Element> curveBlock(size_t(Curves::elements(curveCount)));
    if (!curveBlock)
        return STATUS_NO_RASTER;
    Curves curves(curveBlock.data(), curveCount);
    const InstanceData* data = host.instanceData();
    const InstanceBlock* block = data ? data->block : nullptr;
    for (int32_t k = 0; k < kVignetteSteps; ++k)
        if (curveOf[k] != kUntouched)
            curves.prepare(curveOf[k], k, block);
    for (int64_t i = 0; i < mapWidth * mapHeight; ++i)
        if (map[i] != kUntouched)
            map[i] = curveOf[map[i]];

    // 16-bit rows take their powers together where the heap gives room for a row of them; the
    // pixel-by-pixel form gives the same levels.
    CallBuffer<double> powers;
    if constexpr (kIs16Bit<Tag>)
        powers = CallBuffer<double>(size_t(out.width) * 3);
    for (int32_t y = 0; y < out.height; ++y) {
        const int16_t* row = map + int64_t(y < f.cy ? f.cy - y : y - f.cy) * mapWidth;
        Channel* px = rowOf<Tag>(out, y);
        if constexpr (kIs16Bit<Tag>) {
            if (powers) {
                curves.darkenRow(px, row, f.cx, out.width, powers.data());
                continue;
            }
        }
        for (int32_t x = 0; x < out.width; ++x, px += 4) {
            const int16_t curve = row[x < f.cx ? f.cx - x : x - f.cx];
            if (curve != kUntouched)
                curves.darken(px, curve);
        }
    }
    return STATUS_OK;
}

template Status VignetteStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
