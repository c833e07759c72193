#include "stages/tone/grain/Grain.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/Cpu.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/PixelFormats.h"
#include "lib/Common/FloatMath.h"
#include "lib/Common/simd/LaneWidths.h"
#include "pipeline/Random.h"
#include "stages/tone/grain/GrainBlur.h"
#include "stages/tone/grain/GrainBlurWindow.h"

namespace {

// Hard light keyed on the layer: mid grey leaves the picture, lighter and darker noise
// lighten and darken it.
constexpr float kLayerOpacity = 0.56f;

// v mod (2n + 1) - n for a draw v of 0..32767. The remainder comes from an exact reciprocal
// rather than a division per draw; a modulus beyond every draw leaves v as it is.
struct GrainOffset {
    int64_t amplitude = 0;
    uint64_t modulus = 0;
    uint64_t reciprocal = 0;  // floor(2^32 / modulus) + 1: exact for 15-bit draws

    explicit GrainOffset(int32_t n) : amplitude(n) {
        // C's remainder by a negative divisor is the remainder by its magnitude.
        const int64_t m = 2 * int64_t(n) + 1;
        modulus = uint64_t(m < 0 ? -m : m);
        if (modulus <= 32767)
            reciprocal = (uint64_t(1) << 32) / modulus + 1;
    }
    int64_t operator()(uint32_t v) const {
        const uint64_t quotient = (uint64_t(v) * reciprocal) >> 32;
        return int64_t(v - quotient * modulus) - amplitude;
    }
};

// The per-pixel work of the noise pass, with everything it needs decided for the frame.
template <class Tag>
struct GrainPixel {
    using Channel = typename Tag::Channel;
    static constexpr int32_t white = Tag::white;
    static constexpr int32_t neutral = grain_noise::kGrey<Tag>;
    static constexpr float invWhite = grain_noise::kInvWhite<Tag>;

    GrainOffset offset;
    const Channel* const* curves;
    const float* weights;

    // The draw's offset from mid grey, held to the range, through the channel's curve.
    Channel mapped(int c, uint32_t draw) const {
        return curves[c][std::clamp<int64_t>(neutral + offset(draw), 0, white)];
    }

    // The mapped value drawn toward mid grey by the weight w of the picture value:
    // (mapped / W * w + (1 - w) * grey / W) * W, in single precision.
    static Channel drawnToGrey(float mapped, float w) {
        const float v = (mapped * invWhite * w + (1.0f - w) * float(neutral) * invWhite) * float(white);
        return Channel(v > 0.0f ? (v < float(white) ? v : float(white)) : 0.0f);
    }

    // Samples past white (a host out of range) take the last weight.
    Channel result(Channel m, Channel p) const { return drawnToGrey(float(m), weights[std::min<int32_t>(p, white)]); }
};

// A layer pixel put together in a register and written whole: one store per pixel instead
// of four.
template <class Tag>
using PixelWord = std::conditional_t<kIs16Bit<Tag>, uint64_t, uint32_t>;

// A layer pixel from its draws (R, G, B, or one for all three) and the picture pixel, one
// channel at a time: `sample(c, draw, p)` gives channel c's result.
template <class Tag, bool ColourNoise, class Sample>
auto channelByChannel(Sample sample) {
    return [sample](const uint16_t* d, const typename Tag::Channel* in) {
        using F = typename Tag::FORMAT;
        using Word = PixelWord<Tag>;
        constexpr int kBits = 8 * sizeof(typename Tag::Channel);
        return Word(sample(0, d[0], in[F::R])) << (F::R * kBits) |
               Word(sample(1, d[ColourNoise ? 1 : 0], in[F::G])) << (F::G * kBits) |
               Word(sample(2, d[ColourNoise ? 2 : 0], in[F::B])) << (F::B * kBits) |
               Word(fromByte<Tag>(255)) << (F::A * kBits);
    };
}

// The same for 16-bit pixels with the single-precision steps of the three channels taken
// side by side in one vector, lanes in the pixel's channel order; `mapped(c, draw)` gives
// channel c's mapped value.
template <class Tag, bool ColourNoise, class Mapped>
auto channelsAtOnce(const GrainPixel<Tag>& px, Mapped mapped) {
    static_assert(kIs16Bit<Tag>, "8-bit pixels take their results from a table");
    using F = typename Tag::FORMAT;
    float grey[4], white[4];
    for (float& v : grey) v = float(GrainPixel<Tag>::neutral);
    for (float& v : white) v = float(Tag::white);
    grey[F::A] = 0.0f;
    using V = simd::Sse2Lanes;
    return [px, mapped, grey = V::floatPattern(grey), white = V::floatPattern(white)](const uint16_t* d, const uint16_t* in) {
        float m[4], w[4];
        const int channels[3] = {F::R, F::G, F::B};
        for (int c = 0; c < 3; ++c) {
            const int at = channels[c];
            const int32_t p = in[at];
            m[at] = float(mapped(c, d[ColourNoise ? c : 0]));
            w[at] = px.weights[std::min<int32_t>(p, Tag::white)];
        }
        m[F::A] = 0.0f;
        w[F::A] = 0.0f;
        // (mapped * (1 / W) * w + (1 - w) * grey * (1 / W)) * W, then held to 0..W.
        const V::F invWhite = V::setFloat(GrainPixel<Tag>::invWhite);
        const V::F weight = V::floats(w[0], w[1], w[2], w[3]);
        const V::F toward = V::mulFloat(V::mulFloat(V::floats(m[0], m[1], m[2], m[3]), invWhite), weight);
        const V::F rest = V::mulFloat(V::mulFloat(V::subFloat(V::setFloat(1.0f), weight), grey), invWhite);
        const V::F v = V::mulFloat(V::addFloat(toward, rest), white);
        const V::I held = V::truncate(V::minFloat(V::maxFloat(v, V::zeroFloat()), white));
        const uint64_t samples = V::low64(V::pack32(held, held));
        return samples | uint64_t(fromByte<Tag>(255)) << (F::A * 16);
    };
}

// Rows top to bottom, pixels left to right; colour noise draws R, G, B in that order. The
// draws are taken a stretch of a row ahead, which frees the pixels from their sequence.
// `pixelOf(draws, picture pixel)` gives a layer pixel.
template <class Tag, bool ColourNoise, class PixelOf>
void noiseRows(uint32_t& state, const RasterDesc& picture, const RasterDesc& layer, int32_t width, int32_t first,
               int32_t end, PixelOf pixelOf) {
    using Word = PixelWord<Tag>;
    constexpr int32_t kStretch = 512, kDrawsPerPixel = ColourNoise ? 3 : 1;
    uint16_t draws[kStretch * kDrawsPerPixel];
    for (int32_t y = first; y < end; ++y) {
        const auto* in = rowOf<Tag>(picture, y);
        auto* out = rowOf<Tag>(layer, y);
        for (int32_t x = 0; x < width; x += kStretch) {
            const int32_t count = std::min(kStretch, width - x);
            rng::fill(state, draws, size_t(count) * kDrawsPerPixel);
            const uint16_t* d = draws;
            for (int32_t i = 0; i < count; ++i, in += 4, out += 4, d += kDrawsPerPixel) {
                const Word result = pixelOf(d, in);
                std::memcpy(out, &result, sizeof result);
            }
        }
    }
}

// The curve tables and weights of the instance, or the call's own when the host has no
// instance data to give (false when the heap refuses them).
template <class Tag>
class GrainTables {
public:
    using Channel = typename Tag::Channel;

    explicit GrainTables(PluginHost_API& host) {
        InstanceData* data = host.instanceData();
        if (InstanceBlock* block = data ? data->block : nullptr) {
            for (int c = 0; c < 3; ++c) {
                if constexpr (kIs16Bit<Tag>)
                    curves[c] = block->curveTables[c];
                else
                    curves[c] = block->curveTable8(c);
            }
            weights = block->grainSuppressionWeights;
        } else {
            mOwn = CallBuffer<Own>(1);
            if (!mOwn)
                return;
            for (int c = 0; c < 3; ++c) curves[c] = mOwn[0].curves[c];
            weights = mOwn[0].weights;
        }
    }

    explicit operator bool() const { return weights != nullptr; }

    Channel* curves[3] = {};
    float* weights = nullptr;

private:
    struct Own {
        Channel curves[3][Tag::white + 1];
        float weights[Tag::white + 1];
    };
    CallBuffer<Own> mOwn;
};

}  // namespace

void GrainSuppressionWeights(int32_t white, float suppressBlack, float suppressWhite, float* weights) {
    // Thresholds truncated as the host's runtime would; NaN and huge values saturate.
    const int64_t black = truncToInt32(suppressBlack);
    const int64_t fadeFrom = truncToInt32(suppressWhite);
    for (int32_t i = 0; i <= white; ++i) {
        // Neither ramp can divide by zero: i < black needs black >= 1, i > fadeFrom with
        // i <= white needs white - fadeFrom >= 1.
        if (i < black)
            weights[i] = float(i) / float(black);
        else if (i > fadeFrom)
            weights[i] = float(white - i) / float(white - fadeFrom);
        else
            weights[i] = 1.0f;
    }
}

template <class Tag>
void GrainChannelCurves(float red, float green, float blue, typename Tag::Channel* const curves[3]) {
    // f = half - (p / 100) * half squeezes the output range to f .. white - f. Always built,
    // 100 % included, so the grain never depends on what post contrast left in the tables.
    constexpr double white = Tag::white;
    constexpr double half = white / 2.0;
    const float strengths[3] = {red / 100.0f, green / 100.0f, blue / 100.0f};
    double levels[3][5];
    for (int c = 0; c < 3; ++c) {
        const double f = half - double(strengths[c]) * half;
        levels[c][0] = 1.0;
        levels[c][1] = 0.0;
        levels[c][2] = 1.0;
        levels[c][3] = f / white;
        levels[c][4] = (white - f) / white;
    }
    typename Tag::Channel* tables[3] = {curves[0], curves[1], curves[2]};
    BuildChannelCurves<typename Tag::Channel>(Tag::white, levels, tables);
}

namespace {

// The noise layer over the common area of the picture and the layer, made rows at a time from
// the top, the generator carried from call to call. Where the processor has AVX2 and the
// settings behind the tables are known, samples are worked out eight at a time (once the
// lanes are found to give every table entry: some tens of microseconds a frame). Otherwise,
// on large frames each channel's mapped value for every draw (32768 each) and, in
// 8-bit, every (mapped, picture value) pair's result are worked out once: the tables pay for
// themselves once a frame has more samples than they have entries. Memory refused for them
// only means the slower way.
template <class Tag>
class NoiseMaker {
public:
    using Channel = typename Tag::Channel;

    NoiseMaker(bool colorNoise, float amount, uint32_t seed, const Channel* const curves[3], const float* weights,
               const RasterDesc& picture, const RasterDesc& layer, const grain_noise::Shaping* shaping)
        // n = trunc(amount * W + 0.5): the product in float, the half added in double.
        : px_{GrainOffset(truncToInt32(double(amount * float(Tag::white)) + 0.5)), curves, weights},
          colorNoise_(colorNoise), state_(seed), picture_(picture), layer_(layer),
          width_(std::min(picture.width, layer.width)), height_(std::min(picture.height, layer.height)) {
        const int64_t samples = int64_t(width_) * height_ * 3;
        if (shaping && cpu::hasAvx2() &&
            grain_noise::prepareLanes<Tag>(lanes_, int32_t(px_.offset.amplitude), *shaping, curves, weights)) {
            inLanes_ = true;
            return;
        }
        if (samples > int64_t(3 * kDraws))
            byDraw_ = CallBuffer<Channel>(3 * kDraws);
        if (byDraw_)
            for (int c = 0; c < 3; ++c)
                for (uint32_t draw = 0; draw < kDraws; ++draw) byDraw_[c * kDraws + draw] = px_.mapped(c, draw);
        if constexpr (!kIs16Bit<Tag>) {
            if (samples > 65536)
                results_ = CallBuffer<uint8_t>(65536);
            if (results_)
                for (int32_t mapped = 0; mapped < 256; ++mapped)
                    for (int32_t p = 0; p < 256; ++p)
                        results_[size_t(mapped) << 8 | size_t(p)] = px_.result(Channel(mapped), Channel(p));
        }
    }

    int32_t height() const { return height_; }

    // Rows first..end-1, after the rows before them.
    void rows(int32_t first, int32_t end) { rowsInto(layer_, first, end); }

    // Row y, after the rows before it, into `row` rather than the layer's own row.
    void row(int32_t y, uint8_t* row) {
        RasterDesc place = layer_;
        place.pixels = row;
        place.rowBytes = 0;  // every row of `place` is `row`
        rowsInto(place, y, y + 1);
    }

private:
    void rowsInto(const RasterDesc& layer, int32_t first, int32_t end) {
        if (inLanes_) {
            grain_noise::laneRows<Tag>(lanes_, colorNoise_, state_, picture_, layer, width_, first, end);
            return;
        }
        // Each sample's way of working decided once per call: tabulated or in place. Tables
        // held in locals, which the layer's stores cannot be taken to change.
        const GrainPixel<Tag> px = px_;
        const auto run = [&](auto pixelOf) {
            if (colorNoise_)
                noiseRows<Tag, true>(state_, picture_, layer, width_, first, end, pixelOf(std::true_type{}));
            else
                noiseRows<Tag, false>(state_, picture_, layer, width_, first, end, pixelOf(std::false_type{}));
        };
        const auto withResult = [&](auto mapped) {
            if constexpr (kIs16Bit<Tag>) {
                run([&](auto colour) { return channelsAtOnce<Tag, decltype(colour)::value>(px, mapped); });
            } else {
                const auto pass = [&](auto result) {
                    const auto sample = [=](int c, uint32_t draw, Channel p) { return result(mapped(c, draw), p); };
                    run([&](auto colour) { return channelByChannel<Tag, decltype(colour)::value>(sample); });
                };
                if (results_) {
                    const uint8_t* table = results_.data();
                    pass([table](Channel m, Channel p) { return table[size_t(m) << 8 | p]; });
                } else {
                    pass([px](Channel m, Channel p) { return px.result(m, p); });
                }
            }
        };
        if (byDraw_) {
            const Channel* table = byDraw_.data();
            withResult([table](int c, uint32_t draw) { return table[size_t(c) * kDraws + draw]; });
        } else {
            withResult([px](int c, uint32_t draw) { return px.mapped(c, draw); });
        }
    }

    static constexpr size_t kDraws = 32768;

    GrainPixel<Tag> px_;
    bool colorNoise_;
    uint32_t state_;
    RasterDesc picture_, layer_;
    int32_t width_, height_;
    CallBuffer<Channel> byDraw_;
    CallBuffer<uint8_t> results_;
    grain_noise::LaneConstants lanes_{};
    bool inLanes_ = false;
};

// The stage's work on either side of the softening, a row at a time: noise before it, the
// blend after it.
template <class Tag>
struct GrainRows {
    PluginHost_API* host;
    NoiseMaker<Tag>* noise;
    RasterDesc layer, picture;
    Status status;

    static void ready(void* context, int32_t y, uint8_t* row) {
        auto* self = static_cast<GrainRows*>(context);
        if (y < self->noise->height())
            self->noise->row(y, row);
    }
    static void done(void* context, int32_t y, uint8_t* row) {
        auto* self = static_cast<GrainRows*>(context);
        const RasterDesc picture = rowView(self->picture, y);
        const Status blended = BlendImagesRow<Tag>(self->host, y, BLEND_HARD_LIGHT, kLayerOpacity, 1.0f,
                                                   rowView(self->layer, row), picture, picture);
        // The first row that fails is the stage's status, as one blend of the whole frame would give it.
        if (self->status == STATUS_OK)
            self->status = blended;
    }
};

// How a frame's noise is made, softened and laid over the picture.
enum class GrainRoute {
    kBlurByRows,  // made a row at a time for both of the blur's passes by rows, each row blended once done
    kWholeFrame,  // made over the frame, softened by two whole passes, blended at once
};

// The route, chosen once from the radii and the frame's rasters. The row route keeps each row
// in the caches from its noise to its blend, and writes only the working rasters' first rows.
GrainRoute routeOf(const float (&radii)[3], const RasterDesc& layer, const RasterDesc& buffer) {
    // Both passes a row at a time need radii up to 1, with one above 0 (NaN counts as none).
    const auto narrow = [](float r) { return grain_blur::ChannelKernel(r).reach <= 1; };
    const auto above0 = [](float r) { return r > 0.0f; };
    if (!std::all_of(std::begin(radii), std::end(radii), narrow) || !std::any_of(std::begin(radii), std::end(radii), above0))
        return GrainRoute::kWholeFrame;
    // The blur's passes by rows cover the common area of the layer and its buffer; where that
    // is empty, the whole-frame passes still offer the host its blend.
    if (std::min(layer.width, buffer.width) > 0 && std::min(layer.height, buffer.height) > 0)
        return GrainRoute::kBlurByRows;
    return GrainRoute::kWholeFrame;
}

}  // namespace

template <class Tag>
void GrainNoise(bool colorNoise, float amount, uint32_t seed, const typename Tag::Channel* const curves[3],
                const float* weights, const RasterDesc& picture, const RasterDesc& layer,
                const grain_noise::Shaping* shaping) {
    NoiseMaker<Tag> noise(colorNoise, amount, seed, curves, weights, picture, layer, shaping);
    noise.rows(0, noise.height());
}

template <class Tag>
Status GrainStage(TX_STAGE_ARGS, bool colorNoise, float amount, float red, float green, float blue, float softnessRed, float softnessGreen, float softnessBlue, float suppressBlack, float suppressWhite) {
    (void)frame;
    (void)source;
    // The generator restarts from the frame number, sign included, on every call; its
    // state lives in this call only, so concurrent renders cannot disturb each other.
    const uint32_t seed = uint32_t(host.frameNumber());
    const RasterDesc picture = output.describe();

    ScratchRaster layer(host, output.raster);
    if (!layer)
        return STATUS_NO_RASTER;
    GrainTables<Tag> tables(host);
    if (!tables)
        return STATUS_NO_RASTER;
    GrainSuppressionWeights(Tag::white, suppressBlack, suppressWhite, tables.weights);
    GrainChannelCurves<Tag>(red, green, blue, tables.curves);
    const grain_noise::Shaping shaping{{red, green, blue}, suppressBlack, suppressWhite};
    NoiseMaker<Tag> noise(colorNoise, amount, seed, tables.curves, tables.weights, picture, layer.desc(), &shaping);

    ScratchRaster blurred(host, output.raster);
    if (!blurred)
        return STATUS_NO_RASTER;
    // Radius = softness / 2: the product in double, narrowed.
    const float radii[3] = {float(double(softnessRed) * 0.5), float(double(softnessGreen) * 0.5),
                            float(double(softnessBlue) * 0.5)};

    const GrainRoute route = routeOf(radii, layer.desc(), blurred.desc());
    // On the row route the working rasters' first rows hold the rows in work, and the picture
    // rows the noise reads lie below those already blended.
    GrainRows<Tag> rows{&host, &noise, layer.desc(), picture, STATUS_OK};
    switch (route) {
    case GrainRoute::kBlurByRows:
        // Refused working memory is known before the first row is asked for.
        TX_PROPAGATE(GrainBlurByRows<Tag>(radii[0], radii[1], radii[2], layer.desc(), blurred.desc(),
                                          grain_blur::RowHooks{&rows, &GrainRows<Tag>::ready, &GrainRows<Tag>::done}));
        return rows.status;
    case GrainRoute::kWholeFrame:
        break;
    }
    noise.rows(0, noise.height());
    TX_PROPAGATE(GrainBlur<Tag>(radii[0], radii[1], radii[2], false, layer.desc(), blurred.desc()));
    TX_PROPAGATE(GrainBlur<Tag>(radii[0], radii[1], radii[2], true, blurred.desc(), layer.desc()));
    return BlendImages<Tag>(&host, BLEND_HARD_LIGHT, kLayerOpacity, 1.0f, layer.desc(), picture, picture);
}

template void GrainChannelCurves<PIXEL_ARGB8>(float, float, float, uint8_t* const[3]);
template void GrainChannelCurves<PIXEL_BGRA8>(float, float, float, uint8_t* const[3]);
template void GrainChannelCurves<PIXEL_ARGB14>(float, float, float, uint16_t* const[3]);
template void GrainChannelCurves<PIXEL_BGRA14>(float, float, float, uint16_t* const[3]);

template void GrainNoise<PIXEL_ARGB8>(bool, float, uint32_t, const uint8_t* const[3], const float*, const RasterDesc&,
                                      const RasterDesc&, const grain_noise::Shaping*);
template void GrainNoise<PIXEL_BGRA8>(bool, float, uint32_t, const uint8_t* const[3], const float*, const RasterDesc&,
                                      const RasterDesc&, const grain_noise::Shaping*);
template void GrainNoise<PIXEL_ARGB14>(bool, float, uint32_t, const uint16_t* const[3], const float*,
                                       const RasterDesc&, const RasterDesc&, const grain_noise::Shaping*);
template void GrainNoise<PIXEL_BGRA14>(bool, float, uint32_t, const uint16_t* const[3], const float*,
                                       const RasterDesc&, const RasterDesc&, const grain_noise::Shaping*);

template Status GrainStage<PIXEL_ARGB8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool, float, float, float, float, float, float, float, float, float);
template Status GrainStage<PIXEL_BGRA8>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool, float, float, float, float, float, float, float, float, float);
template Status GrainStage<PIXEL_ARGB14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool, float, float, float, float, float, float, float, float, float);
template Status GrainStage<PIXEL_BGRA14>(const FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, bool, float, float, float, float, float, float, float, float, float);
