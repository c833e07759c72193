// Vignette: darkens towards the edges and corners like the light fall-off of an old lens, with
// a gamma whose strength grows linearly with the distance from the frame centre.
#include "stages/tone/Vignette.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/ChannelTables.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/PowerOfTwo.h"
#include "lib/Common/ProcessLock.h"
#include "lib/Common/simd/Cpu.h"

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

// 8-bit: the instance's gamma table rounded to bytes, filled before the pixels, a curve's 256
// entries together: a pixel's three lookups index one curve, and neighbouring pixels, whose
// curves are the same or neighbours, stay within a few cache lines.
template <class Tag>
struct Darkening<Tag, false> {
    using Channel = typename Tag::Channel;
    using Element = Channel;
    Channel* entries;

    static int64_t elements(int64_t count) { return count * 256; }
    Darkening(Element* block, int64_t) : entries(block) {}

    void prepareLevels() {}

    void prepare(int64_t c, int32_t k, const InstanceBlock* block) {
        for (int32_t v = 0; v < 256; ++v) {
            const float entry = block ? block->vignetteGammaTable[v][k] : vignetteGammaEntry(v, k);
            entries[c * 256 + v] = Channel(std::clamp(int32_t(double(entry) + 0.5), 0, 255));
        }
    }

    // R, G and B through the tables handed over, with `Tabled`, then through curve c; alpha
    // untouched.
    // The three samples are read before any is written: a byte store could alias the tables,
    // and would otherwise hold back every read after it.
    template <bool Tabled>
    void darken(Channel* px, int64_t c, const Channel* const* before, int32_t) const {
        using F = typename Tag::FORMAT;
        const Channel* curve = entries + c * 256;
        const Channel r = px[F::R], g = px[F::G], b = px[F::B];
        const Channel r2 = curve[Tabled ? before[0][r] : r], g2 = curve[Tabled ? before[1][g] : g],
                      b2 = curve[Tabled ? before[2][b] : b];
        px[F::R] = r2;
        px[F::G] = g2;
        px[F::B] = b2;
    }
    // A pixel the vignette leaves: through the tables handed over alone.
    template <bool Tabled>
    void pass(Channel* px, const Channel* const* before, int32_t) const {
        using F = typename Tag::FORMAT;
        if constexpr (Tabled) {
            const Channel r = before[0][px[F::R]], g = before[1][px[F::G]], b = before[2][px[F::B]];
            px[F::R] = r;
            px[F::G] = g;
            px[F::B] = b;
        }
    }
};

// 16-bit: v' = trunc(16384 (v / 16384)^(1 / g) + 0.5) with the single-precision g of the 8-bit
// table, the power in double as the C library's pow gives it. A curve per step would be too
// big to stay in cache and too costly to fill (16385 powers each, few of them read), so each
// sample is worked out from a table of logarithms, exact to the last level.
template <class Tag>
struct Darkening<Tag, true> {
    using Channel = typename Tag::Channel;
    static constexpr int32_t kLevels = Tag::white + 1;
    using Element = double;
    double* exponents;  // 1 / g of each curve
    double* logs;       // log2(v / white) for v = 0 .. white

    static int64_t elements(int64_t count) { return count + kLevels; }
    Darkening(Element* block, int64_t curveCount) : exponents(block), logs(block + curveCount) {}

    // What every curve reads, filled once per plan.
    void prepareLevels() {
        for (int32_t v = 0; v < kLevels; ++v)
            logs[v] = std::log2(double(v) / double(Tag::white));  // -inf at 0, which the power takes to 0
    }

    void prepare(int64_t c, int32_t k, const InstanceBlock*) { exponents[c] = 1.0 / double(float(k + 1) / 1000.0f); }

    template <bool Tabled>
    void darken(Channel* px, int64_t c, const Channel* const* before, int32_t white) const {
        RaiseToPowers<Tag>(px, &exponents[c], logs, 1, Tabled ? before : nullptr, white);
    }
    template <bool Tabled>
    void pass(Channel* px, const Channel* const* before, int32_t white) const {
        static constexpr double kNone = 0.0;
        if constexpr (Tabled)
            RaiseToPowers<Tag>(px, &kNone, logs, 1, before, white);
    }

    // The exponent of each pixel of a row whose map row is `curveAt`, 0 where the pixel stays.
    void exponentsOf(const int16_t* curveAt, int32_t centre, int32_t width, double* rowExponents) const {
        for (int32_t x = 0; x < width; ++x) {
            const int16_t c = curveAt[x < centre ? centre - x : x - centre];
            rowExponents[x] = c == kUntouched ? 0.0 : exponents[c];
        }
    }

    // A row at once, its powers taken together in the processor's lanes: the same levels as
    // darken gives.
    void darkenRow(Channel* px, int32_t width, const double* rowExponents, const Channel* const* before,
                   int32_t white) const {
        RaiseToPowers<Tag>(px, rowExponents, logs, width, before, white);
    }
};

// A frame's fall-off worked out: gamma curve numbers over one quadrant (kUntouched where a
// pixel stays) and the curves themselves. It depends on the frame's size, the two settings
// and the depth only, so a memo of the last one serves every frame that repeats them.
template <class Element>
struct Plan {
    int64_t mapWidth = 0, mapHeight = 0;
    int32_t curveCount = 0;
    CallBuffer<int16_t> map;
    CallBuffer<Element> curves;
};

template <class Tag>
Status makePlan(const Falloff& f, int32_t width, int32_t height, const InstanceBlock* block,
                Plan<typename Darkening<Tag>::Element>& plan) {
    using Curves = Darkening<Tag>;
    // Gamma steps by horizontal and vertical distance from (cx, cy), one quadrant mirrored onto
    // all four. Past cx and cy only where a frame too wide for single precision puts pixels
    // there; those entries stay untouched.
    plan.mapWidth = std::max(f.cx, width - 1 - f.cx) + 1;
    plan.mapHeight = std::max(f.cy, height - 1 - f.cy) + 1;
    plan.map = CallBuffer<int16_t>(size_t(plan.mapWidth * plan.mapHeight));
    if (!plan.map)
        return STATUS_NO_RASTER;
    int16_t* map = plan.map.data();
    const int64_t mapWidth = plan.mapWidth, mapSize = plan.mapWidth * plan.mapHeight;
    std::fill_n(map, mapSize, kUntouched);

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
    plan.curveCount = curveCount;
    if (curveCount == 0)
        return STATUS_OK;  // intensity 0, or every pixel inside the inner radius

    plan.curves = CallBuffer<typename Curves::Element>(size_t(Curves::elements(curveCount)));
    if (!plan.curves)
        return STATUS_NO_RASTER;
    Curves curves(plan.curves.data(), curveCount);
    curves.prepareLevels();
    for (int32_t k = 0; k < kVignetteSteps; ++k)
        if (curveOf[k] != kUntouched)
            curves.prepare(curveOf[k], k, block);
    for (int64_t i = 0; i < mapSize; ++i)
        if (map[i] != kUntouched)
            map[i] = curveOf[map[i]];
    return STATUS_OK;
}

// The last plan an instance made, with what it was made from.
struct VignetteMemo final : StageMemo {
    struct Key {
        int32_t width = 0, height = 0;
        uint32_t size = 0, intensity = 0;  // the settings' bits: -0 and NaN are keys like any other
        const InstanceBlock* block = nullptr;
        bool deep = false;
        bool operator==(const Key&) const = default;
    };
    bool valid = false;
    Key key;
    Plan<uint8_t> bytes;  // 8-bit curves
    Plan<double> deep;    // 16-bit curves

    template <class Element>
    Plan<Element>& plan() {
        if constexpr (std::is_same_v<Element, double>)
            return deep;
        else
            return bytes;
    }
};

// The instance's vignette memo for the length of a render, or null: no instance, no heap for
// it, or another thread rendering the instance right now.
class MemoLease {
public:
    explicit MemoLease(PluginHost_API& host) {
        InstanceData* data = host.instanceData();
        if (!data)
            return;
        VignetteMemo* memo = nullptr;
        {
            ProcessLock lock;
            if (!data->vignetteMemo)
                data->vignetteMemo.reset(new (std::nothrow) VignetteMemo);
            memo = static_cast<VignetteMemo*>(data->vignetteMemo.get());
        }
        if (memo && !memo->inUse.test_and_set(std::memory_order_acquire))
            mMemo = memo;
    }
    ~MemoLease() {
        if (mMemo)
            mMemo->inUse.clear(std::memory_order_release);
    }
    MemoLease(const MemoLease&) = delete;
    MemoLease& operator=(const MemoLease&) = delete;
    VignetteMemo* get() const { return mMemo; }

private:
    VignetteMemo* mMemo = nullptr;
};

// Rows through their curves one pixel at a time, and through the tables handed over first with
// `Tabled`. Left of the centre the map is read backwards, from it on forwards. The rows as far
// above the centre as below it share a map row: taken side by side (`below` may be null), each
// curve is read for both while it is in cache.
template <bool Tabled, class Tag>
void darkenByPixel(const Darkening<Tag>& curves, typename Tag::Channel* above, typename Tag::Channel* below,
                   const int16_t* row, int32_t cx, int32_t width, const typename Tag::Channel* const* before,
                   int32_t white) {
    const auto both = [&](auto second) {
        const auto one = [&](int32_t x, int16_t curve) {
            if (curve != kUntouched) {
                curves.template darken<Tabled>(above + 4 * x, curve, before, white);
                if constexpr (!std::is_same_v<decltype(second), std::nullptr_t>)
                    curves.template darken<Tabled>(second + 4 * x, curve, before, white);
            } else {
                curves.template pass<Tabled>(above + 4 * x, before, white);
                if constexpr (!std::is_same_v<decltype(second), std::nullptr_t>)
                    curves.template pass<Tabled>(second + 4 * x, before, white);
            }
        };
        const int32_t left = std::min(cx, width);
        for (int32_t x = 0; x < left; ++x) one(x, row[cx - x]);
        for (int32_t x = left; x < width; ++x) one(x, row[x - cx]);
    };
    if (below)
        both(below);
    else
        both(nullptr);
}

}  // namespace

template <class Tag>
Status VignetteAfter(TX_STAGE_ARGS, float size, float intensity, const HandedTables& handed) {
    using Channel = typename Tag::Channel;
    using Curves = Darkening<Tag>;
    using Element = typename Curves::Element;
    (void)frame;
    (void)source;
    const RasterDesc out = output.describe();
    if (!out.pixels || out.width <= 0 || out.height <= 0)
        return STATUS_OK;  // nothing for the tables either
    // Where the vignette does nothing, or cannot, the tables still go over the frame.
    const auto tablesOnly = [&](Status status) {
        ApplyHandedTables<Tag>(out, handed);
        return status;
    };
    const Falloff f(out.width, out.height, size, intensity);
    // Every multiplier lies between 1 and 1 - intensity; when that narrows to 1, nothing moves.
    if (float(f.outer) == 1.0f)
        return tablesOnly(STATUS_OK);

    const InstanceData* data = host.instanceData();
    const InstanceBlock* block = data ? data->block : nullptr;
    const VignetteMemo::Key key{out.width, out.height, std::bit_cast<uint32_t>(size),
                                std::bit_cast<uint32_t>(intensity), block, kIs16Bit<Tag>};
    MemoLease lease(host);
    VignetteMemo* memo = lease.get();
    Plan<Element> made;
    Plan<Element>* plan = &made;
    if (memo && memo->valid && memo->key == key) {
        plan = &memo->plan<Element>();
    } else {
        if (memo)
            memo->valid = false;
        if (const Status planned = makePlan<Tag>(f, out.width, out.height, block, made); planned != STATUS_OK)
            return tablesOnly(planned);
        if (memo) {
            memo->bytes = {};  // the other depth's plan, should the depth have changed, goes too
            memo->deep = {};
            memo->plan<Element>() = std::move(made);
            memo->key = key;
            memo->valid = true;
            plan = &memo->plan<Element>();
        }
    }
    if (plan->curveCount == 0)
        return tablesOnly(STATUS_OK);
    const int16_t* map = plan->map.data();
    const int64_t mapWidth = plan->mapWidth;
    Curves curves(plan->curves.data(), plan->curveCount);
    const Channel* const tables[3] = {handed.table<Tag>(0), handed.table<Tag>(1), handed.table<Tag>(2)};
    const Channel* const* before = handed ? tables : nullptr;

    // 16-bit rows take their powers together where the heap gives room for a row of exponents;
    // the pixel-by-pixel form gives the same levels.
    if constexpr (kIs16Bit<Tag>) {
        CallBuffer<double> rowExponents(size_t(out.width));
        if (rowExponents) {
            // The rows as far above the centre as below it share a map row, and so their exponents.
            const int32_t farthest = std::max(f.cy, out.height - 1 - f.cy);
            for (int32_t d = 0; d <= farthest; ++d) {
                curves.exponentsOf(map + int64_t(d) * mapWidth, f.cx, out.width, rowExponents.data());
                if (d > 0 && d <= f.cy)
                    curves.darkenRow(rowOf<Tag>(out, f.cy - d), out.width, rowExponents.data(), before, handed.white);
                if (f.cy + d < out.height)
                    curves.darkenRow(rowOf<Tag>(out, f.cy + d), out.width, rowExponents.data(), before, handed.white);
            }
            return STATUS_OK;
        }
    }
    // Where the byte permutes take 8-bit tables sixteen pixels at a time, they go over each row
    // first, while it is in cache, and the curves are read alone: fewer loads a pixel.
    const bool tablesFirst = !kIs16Bit<Tag> && before && cpu::hasAvx512Vbmi();
    if (tablesFirst)
        before = nullptr;
    const int32_t farthest = std::max(f.cy, out.height - 1 - f.cy);
    for (int32_t d = 0; d <= farthest; ++d) {
        const int16_t* row = map + int64_t(d) * mapWidth;
        Channel* above = d > 0 && d <= f.cy ? rowOf<Tag>(out, f.cy - d) : nullptr;
        Channel* below = f.cy + d < out.height ? rowOf<Tag>(out, f.cy + d) : nullptr;
        if (!above)
            std::swap(above, below);
        if (!above)
            continue;
        if (tablesFirst) {
            for (Channel* px : {above, below})
                if (px)
                    ApplyHandedTables<Tag>(rowView(out, reinterpret_cast<uint8_t*>(px)), handed);
        }
        if (before)
            darkenByPixel<true>(curves, above, below, row, f.cx, out.width, before, handed.white);
        else
            darkenByPixel<false>(curves, above, below, row, f.cx, out.width, before, handed.white);
    }
    return STATUS_OK;
}

template <class Tag>
Status VignetteStage(TX_STAGE_ARGS, float size, float intensity) {
    return VignetteAfter<Tag>(frame, host, source, output, size, intensity, HandedTables{});
}

template Status VignetteStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float);
template Status VignetteAfter<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float,
                                        const HandedTables&);
template Status VignetteAfter<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float,
                                        const HandedTables&);
template Status VignetteAfter<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float,
                                        const HandedTables&);
template Status VignetteAfter<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, float, float,
                                        const HandedTables&);
