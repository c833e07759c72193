// The noise pass in AVX2 lanes: eight pixels a group, each channel's samples in one vector.
// Every step is the same operation in the same precision as the per-sample form, so that the
// lanes give the same bits; the curves and weights are checked against their tables first.
#include "stages/tone/grain/GrainNoiseLanes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/simd/LaneWidths.h"
#include "lib/Common/simd/TargetAvx2.h"
#include "lib/Common/FloatMath.h"
#include "pipeline/Random.h"

namespace grain_noise {
namespace {

// Lane k of a group holds pixel pixelOfLane(k): in order for 8-bit pixels, taken as 32-bit
// words; for 16-bit pixels, taken as two vectors of four 64-bit words, the order their
// halves interleave to.
template <class Tag>
constexpr int32_t pixelOfLane(int k) {
    return kIs16Bit<Tag> ? (k & 1) * 4 + k / 2 : k;
}

// Byte shuffles between 16-bit pixels' samples at position `at` and 32-bit lanes: the vector
// of pixels 0-3 pairs with the even lanes (half 0), that of pixels 4-7 with the odd ones. In
// each 128-bit half of either, word w (bytes 8w..8w+7) is the pixel of lane 2w + half.
struct Bytes {
    char b[32];
};
constexpr Bytes sampleToLane(int at, int half) {
    Bytes m{};
    for (int i = 0; i < 32; ++i) {
        const int word = (i % 16) / 8, lane = (i % 8) / 4, byte = i % 4;
        m.b[i] = lane == half && byte < 2 ? char(8 * word + 2 * at + byte) : char(0x80);
    }
    return m;
}
constexpr Bytes laneToSample(int at, int half) {
    Bytes m{};
    for (int i = 0; i < 32; ++i) {
        const int word = (i % 16) / 8, byte = i % 8 - 2 * at;
        m.b[i] = byte == 0 || byte == 1 ? char(8 * word + 4 * half + byte) : char(0x80);
    }
    return m;
}

}  // namespace
}  // namespace grain_noise

TX_BEGIN_AVX2

namespace grain_noise {
namespace {

using V = simd::Avx2Lanes;

// Lambdas are avoided below: a lambda's body is not sure to take the target switch.
template <class Tag>
class Lanes {
public:
    using F = typename Tag::FORMAT;
    using Channel = typename Tag::Channel;
    static constexpr int32_t white = Tag::white;
    static constexpr int32_t neutral = kGrey<Tag>;
    static constexpr float invWhite = kInvWhite<Tag>;

    explicit Lanes(const LaneConstants& k)
        : magic_(V::set32(int32_t(k.magic))), modulus_(V::set32(int32_t(k.modulus))), toIndex_(V::set32(k.toIndex)),
          shift_(V::shiftCount(k.shift)), black_(V::set32(k.black)), fadeFrom_(V::set32(k.fadeFrom)),
          blackSpan_(V::setFloat(k.blackSpan)), whiteSpan_(V::setFloat(k.whiteSpan)) {
        for (int c = 0; c < 3; ++c) {
            slope_[c] = V::setFloat(k.slope[c]), intercept_[c] = V::setFloat(k.intercept[c]);
            fixedSlope_[c] = V::set32(int32_t(k.fixedSlope[c]));
            fixedIntercept_[c] = kIs16Bit<Tag> ? V::set64(int64_t(k.fixedIntercept[c]))
                                               : V::set32(int32_t(uint32_t(k.fixedIntercept[c])));
            lowEnd_[c] = V::setFloat(k.lowEnd[c]), highEnd_[c] = V::setFloat(k.highEnd[c]);
        }
    }

    // The curve index of each draw: v mod m - n + grey, not yet held to 0..white.
    V::I indexOf(V::I v) const {
        const V::I q = V::shiftRight32(V::mulLow32(v, magic_), shift_);
        return V::add32(V::sub32(v, V::mulLow32(q, modulus_)), toIndex_);
    }

    // Channel c's curve entry for indices t, held to the table's ends, as floats.
    template <CurveForm Form>
    V::F mapped(int c, V::I t) const {
        V::F inside;
        if constexpr (Form == CurveForm::Fixed && kIs16Bit<Tag>) {
            // Each 64-bit sum's bits from the binary point up are the entry: shifted down to
            // the even lanes, up to the odd ones.
            const V::I even = V::add64(V::mulEven32(t, fixedSlope_[c]), fixedIntercept_[c]);
            const V::I odd = V::add64(V::mulEven32(V::shiftRight64By32(t), fixedSlope_[c]), fixedIntercept_[c]);
            inside = V::toFloat(V::evenOddLanes32(V::shiftRight64(even, V::shiftCount(kFixedShift<Tag>)),
                                                  V::shiftLeft64(odd, V::shiftCount(32 - kFixedShift<Tag>))));
        } else if constexpr (Form == CurveForm::Fixed) {
            const V::I sum = V::add32(V::mulLow32(t, fixedSlope_[c]), fixedIntercept_[c]);
            inside = V::toFloat(V::shiftRight32(sum, kFixedShift<Tag>));
        } else {
            inside = V::truncateFloat(V::addFloat(V::mulFloat(V::toFloat(t), slope_[c]), intercept_[c]));
        }
        const V::I below = V::greater32(V::set32(1), t);
        const V::I above = V::greater32(t, V::set32(white - 1));
        inside = V::selectFloat(below, lowEnd_[c], inside);
        return V::selectFloat(above, highEnd_[c], inside);
    }

    // The weights of picture values p (0..white), each one division as the table's are.
    V::F weight(V::I p) const {
        const V::F value = V::toFloat(p), one = V::setFloat(1.0f);
        const V::I inBlack = V::greater32(black_, p);
        const V::I inWhite = V::greater32(p, fadeFrom_);
        const V::F fromWhite = V::subFloat(V::setFloat(float(white)), value);
        const V::F num = V::selectFloat(inBlack, value, V::selectFloat(inWhite, fromWhite, one));
        const V::F den = V::selectFloat(inBlack, blackSpan_, V::selectFloat(inWhite, whiteSpan_, one));
        return V::divFloat(num, den);
    }

    // (mapped * (1 / W) * w + (1 - w) * grey * (1 / W)) * W, held to 0..W; the sample is its
    // truncation.
    static V::F held(V::F m, V::F w) {
        const V::F inv = V::setFloat(invWhite), whiteF = V::setFloat(float(white));
        const V::F rest = V::mulFloat(V::subFloat(V::setFloat(1.0f), w), V::setFloat(float(neutral)));
        V::F v;
        if constexpr (kIs16Bit<Tag>) {
            // 1/W and W are 2^-14 and 2^14 here: scaling by them is exact and rounds as the
            // unscaled value does, so the three scalings can go.
            v = V::addFloat(V::mulFloat(m, w), rest);
        } else {
            const V::F toward = V::mulFloat(V::mulFloat(m, inv), w);
            v = V::mulFloat(V::addFloat(toward, V::mulFloat(rest, inv)), whiteF);
        }
        // max puts NaN to 0, as the comparison chain does.
        return V::minFloat(V::maxFloat(v, V::zeroFloat()), whiteF);
    }

    // Channel c's samples of eight pixels from their draw indices and the picture's pixels,
    // held to 0..W but not yet truncated.
    template <int c, CurveForm Form>
    V::F sample(V::I index, const V::I (&picture)[2]) const {
        return held(mapped<Form>(c, index), weight(channel<positionOf(c)>(picture)));
    }
    // The three channels' samples as the layer's pixels, over `layer` (opaque, colours 0).
    static void put(const V::F (&samples)[3], V::I (&layer)[2]) {
        put<positionOf(0)>(layer, V::truncate(samples[0]));
        put<positionOf(1)>(layer, V::truncate(samples[1]));
        put<positionOf(2)>(layer, V::truncate(samples[2]));
    }
    // Eight pixels in lane order: 8-bit, one vector of 32-bit words; 16-bit, pixels 0-3 and
    // 4-7 as 64-bit words.
    static void load(const Channel* at, V::I (&pixels)[2]) {
        pixels[0] = V::loadBytes(at);
        if constexpr (kIs16Bit<Tag>)
            pixels[1] = V::loadBytes(at + 16);
    }
    // The first `count` (1..8) of them, the rest zero.
    static void loadSome(const Channel* at, int32_t count, V::I (&pixels)[2]) {
        if (count == 8) {
            load(at, pixels);
        } else {
            Channel copy[8 * 4] = {};
            std::memcpy(copy, at, size_t(count) * 4 * sizeof(Channel));
            load(copy, pixels);
        }
    }
    static void store(Channel* at, const V::I (&pixels)[2]) {
        V::storeBytes(at, pixels[0]);
        if constexpr (kIs16Bit<Tag>)
            V::storeBytes(at + 16, pixels[1]);
    }
    // Opaque, colours 0.
    static void opaque(V::I (&pixels)[2]) {
        if constexpr (kIs16Bit<Tag>)
            pixels[0] = pixels[1] = V::set64(int64_t(uint64_t(fromByte<Tag>(255)) << (16 * F::A)));
        else
            pixels[0] = V::set32(int32_t(uint32_t(255) << (8 * F::A)));
    }

private:
    static constexpr int positionOf(int c) { return c == 0 ? F::R : c == 1 ? F::G : F::B; }

    // The sample at position `at` of each pixel, 16-bit samples past white held to it.
    template <int at>
    static V::I channel(const V::I (&pixels)[2]) {
        if constexpr (kIs16Bit<Tag>) {
            const V::I first = V::shuffleBytes(pixels[0], shuffle(kSampleToLane<at, 0>));
            const V::I second = V::shuffleBytes(pixels[1], shuffle(kSampleToLane<at, 1>));
            return V::min32(V::bitOr(first, second), V::set32(white));
        } else {
            return V::bitAnd(V::shiftRight32(pixels[0], 8 * at), V::set32(0xFF));
        }
    }
    template <int at>
    static void put(V::I (&pixels)[2], V::I samples) {
        if constexpr (kIs16Bit<Tag>) {
            pixels[0] = V::bitOr(pixels[0], V::shuffleBytes(samples, shuffle(kLaneToSample<at, 0>)));
            pixels[1] = V::bitOr(pixels[1], V::shuffleBytes(samples, shuffle(kLaneToSample<at, 1>)));
        } else {
            pixels[0] = V::bitOr(pixels[0], V::shiftLeft32(samples, 8 * at));
        }
    }

    template <int at, int half>
    static constexpr Bytes kSampleToLane = sampleToLane(at, half);
    template <int at, int half>
    static constexpr Bytes kLaneToSample = laneToSample(at, half);
    static V::I shuffle(const Bytes& m) { return V::loadBytes(m.b); }

    V::I magic_, modulus_, toIndex_;
    V::Count shift_;
    V::I black_, fadeFrom_;
    V::F blackSpan_, whiteSpan_;
    V::F slope_[3], intercept_[3], lowEnd_[3], highEnd_[3];
    V::I fixedSlope_[3], fixedIntercept_[3];
};

// The generator's lanes: vector c holds the states of channel c's draws (or of every channel's
// one draw) for the group's pixels, each moved a group's draws at a time.
template <class Tag, bool Colour>
class Generator {
public:
    static constexpr int kVectors = Colour ? 3 : 1;
    static constexpr uint64_t kGroupDraws = 8 * kVectors;

    explicit Generator(uint32_t state) {
        for (int c = 0; c < kVectors; ++c) {
            alignas(32) uint32_t lanes[8];
            for (int lane = 0; lane < 8; ++lane) {
                lanes[lane] = rng::jumpOf(uint64_t(kVectors * pixelOfLane<Tag>(lane) + c + 1))(state);
            }
            states_[c] = V::loadBytes(lanes);
        }
    }
    // Draws 0..32767 of vector c, then the next group's states.
    V::I draws(int c) {
        const V::I v = V::bitAnd(V::shiftRight32(states_[c], 16), V::set32(0x7FFF));
        states_[c] = V::add32(V::mulLow32(states_[c], V::set32(int32_t(kGroup.multiplier))), V::set32(int32_t(kGroup.increment)));
        return v;
    }

private:
    static constexpr rng::Jump kGroup = rng::jumpOf(kGroupDraws);
    V::I states_[kVectors];
};

// A group's samples, channel by channel, from the generator's next draws: one draw per
// channel with colour noise, else one for all three.
template <class Tag, bool Colour, CurveForm Form>
void groupSamples(const Lanes<Tag>& lanes, Generator<Tag, Colour>& generator, const V::I (&pixels)[2],
                  V::F (&samples)[3]) {
    if constexpr (Colour) {
        samples[0] = lanes.template sample<0, Form>(lanes.indexOf(generator.draws(0)), pixels);
        samples[1] = lanes.template sample<1, Form>(lanes.indexOf(generator.draws(1)), pixels);
        samples[2] = lanes.template sample<2, Form>(lanes.indexOf(generator.draws(2)), pixels);
    } else {
        const V::I index = lanes.indexOf(generator.draws(0));
        samples[0] = lanes.template sample<0, Form>(index, pixels);
        samples[1] = lanes.template sample<1, Form>(index, pixels);
        samples[2] = lanes.template sample<2, Form>(index, pixels);
    }
}

template <class Tag, bool Colour, CurveForm Form>
void rowsOf(const LaneConstants& k, uint32_t& state, const RasterDesc& picture, const RasterDesc& layer, int32_t width,
            int32_t first, int32_t end) {
    using L = Lanes<Tag>;
    using Channel = typename Tag::Channel;
    const L lanes(k);
    const rng::Jump row = rng::jumpOf(uint64_t(width) * (Colour ? 3 : 1));
    for (int32_t y = first; y < end; ++y) {
        const Channel* in = rowOf<Tag>(picture, y);
        Channel* out = rowOf<Tag>(layer, y);
        Generator<Tag, Colour> generator(state);
        for (int32_t x = 0; x < width; x += 8) {
            // A short last group goes through group-sized copies.
            const int32_t count = std::min(8, width - x);
            V::I pixels[2], result[2];
            V::F samples[3];
            L::loadSome(in + 4 * x, count, pixels);
            groupSamples<Tag, Colour, Form>(lanes, generator, pixels, samples);
            L::opaque(result);
            L::put(samples, result);
            if (count == 8) {
                L::store(out + 4 * x, result);
            } else {
                Channel copy[8 * 4];
                L::store(copy, result);
                std::memcpy(out + 4 * x, copy, size_t(count) * 4 * sizeof(Channel));
            }
        }
        state = row(state);
    }
}

// Every entry of channel c's curve inside the ends, as the lanes make it.
template <class Tag, CurveForm Form>
bool curvesMatch(const Lanes<Tag>& lanes, const typename Tag::Channel* const curves[3]) {
    alignas(32) int32_t entries[8];
    for (int c = 0; c < 3; ++c)
        for (int32_t t = 1; t < Tag::white; t += 8) {
            const V::I index = V::add32(V::set32(t), V::laneNumbers32());
            V::store32(entries, V::truncate(lanes.template mapped<Form>(c, index)));
            for (int32_t i = 0; i < 8 && t + i < Tag::white; ++i)
                if (entries[i] != int32_t(curves[c][t + i]))
                    return false;
        }
    return true;
}

// Fixed-point constants for each channel's entries inside the ends: for a slope within two
// steps of the double slope, the intercepts that give every entry are an interval (each entry
// bounds it from both sides); the smallest one is taken. False when no slope has one, or the
// 8-bit sums would not stay within 32 bits.
template <class Tag>
bool fitFixed(LaneConstants& k, const typename Tag::Channel* const curves[3]) {
    constexpr int shift = kFixedShift<Tag>;
    constexpr int64_t one = int64_t(1) << shift;
    constexpr int64_t sumLimit = kIs16Bit<Tag> ? INT64_MAX : int64_t(1) << 32;
    for (int c = 0; c < 3; ++c) {
        const double nearest = std::nearbyint(k.slopeD[c] * double(one));
        if (!(nearest >= 0.0 && nearest < 4294967296.0))
            return false;
        bool fitted = false;
        for (const int64_t step : {0, -1, 1, -2, 2}) {
            const int64_t slope = int64_t(nearest) + step;
            if (slope < 0 || slope > int64_t(UINT32_MAX))
                continue;
            int64_t low = 0, high = INT64_MAX;
            for (int32_t t = 1; t < Tag::white; ++t) {
                const int64_t entry = curves[c][t];
                low = std::max(low, entry * one - t * slope);
                high = std::min(high, (entry + 1) * one - 1 - t * slope);
            }
            if (low <= high && int64_t(Tag::white - 1) * slope + low < sumLimit) {
                k.fixedSlope[c] = uint32_t(slope), k.fixedIntercept[c] = uint64_t(low);
                fitted = true;
                break;
            }
        }
        if (!fitted)
            return false;
    }
    return true;
}

}  // namespace

template <class Tag>
bool prepareLanes(LaneConstants& k, int32_t amplitude, const Shaping& shaping, const typename Tag::Channel* const curves[3],
                  const float* weights) {
    using L = Lanes<Tag>;
    constexpr int32_t white = Tag::white;
    // Indices and the curves' float steps stay exact within 2^24.
    if (amplitude < -(1 << 24) || amplitude > (1 << 24))
        return false;
    const int64_t m = 2 * int64_t(amplitude) + 1;
    const uint32_t modulus = uint32_t(m < 0 ? -m : m);
    k.toIndex = L::neutral - amplitude;
    if (modulus <= 32767) {
        // magic = ceil(2^(15 + l) / m), l = ceil(log2 m): floor(v * magic / 2^(15 + l)) is
        // floor(v / m) for every v < 2^15, and v * magic stays below 2^31.
        int l = 0;
        while ((uint32_t(1) << l) < modulus)
            ++l;
        k.modulus = modulus;
        k.magic = uint32_t(((uint64_t(1) << (15 + l)) + modulus - 1) / modulus);
        k.shift = 15 + l;
    } else {
        k.modulus = 0, k.magic = 0, k.shift = 0;  // every draw is its own remainder
    }

    // The curves as their builder makes them: f = W/2 - s W/2, the output range f .. W - f.
    for (int c = 0; c < 3; ++c) {
        const double half = double(white) / 2.0;
        const double f = half - double(shaping.strengths[c] / 100.0f) * half;
        const double slope = (double(white) - f) / double(white) - f / double(white);
        k.slopeD[c] = slope;
        k.slope[c] = float(slope), k.intercept[c] = float(f + 0.5);
        k.lowEnd[c] = float(curves[c][0]), k.highEnd[c] = float(curves[c][white]);
    }
    const int64_t black = truncToInt32(shaping.suppressBlack), fadeFrom = truncToInt32(shaping.suppressWhite);
    k.black = int32_t(std::clamp<int64_t>(black, -1, white + 1));
    k.fadeFrom = int32_t(std::clamp<int64_t>(fadeFrom, -1, white + 1));
    k.blackSpan = float(black);
    k.whiteSpan = float(int64_t(white) - fadeFrom);

    // Every weight as the lanes make it, then the curves in the cheaper form where it serves.
    const L lanes(k);
    alignas(32) float w[8];
    for (int32_t p = 0; p <= white; p += 8) {
        const V::I values = V::add32(V::set32(p), V::laneNumbers32());
        V::storeFloat(w, lanes.weight(V::min32(values, V::set32(white))));
        for (int32_t i = 0; i < 8 && p + i <= white; ++i)
            if (std::memcmp(&w[i], &weights[p + i], sizeof(float)) != 0)
                return false;
    }
    k.curveForm = CurveForm::Float;
    if (curvesMatch<Tag, CurveForm::Float>(lanes, curves))
        return true;
    k.curveForm = CurveForm::Fixed;
    return fitFixed<Tag>(k, curves) && curvesMatch<Tag, CurveForm::Fixed>(L(k), curves);
}

template <class Tag>
void laneRows(const LaneConstants& k, bool colorNoise, uint32_t& state, const RasterDesc& picture,
              const RasterDesc& layer, int32_t width, int32_t first, int32_t end) {
    using Rows = void (*)(const LaneConstants&, uint32_t&, const RasterDesc&, const RasterDesc&, int32_t, int32_t, int32_t);
    constexpr Rows colour[2] = {rowsOf<Tag, true, CurveForm::Float>, rowsOf<Tag, true, CurveForm::Fixed>};
    constexpr Rows grey[2] = {rowsOf<Tag, false, CurveForm::Float>, rowsOf<Tag, false, CurveForm::Fixed>};
    (colorNoise ? colour : grey)[size_t(k.curveForm)](k, state, picture, layer, width, first, end);
}

#define GRAIN_NOISE_LANES(Tag)                                                                                      \
    template bool prepareLanes<Tag>(LaneConstants&, int32_t, const Shaping&, const Tag::Channel* const[3],           \
                                    const float*);                                                                  \
    template void laneRows<Tag>(const LaneConstants&, bool, uint32_t&, const RasterDesc&, const RasterDesc&, int32_t, \
                                int32_t, int32_t);
GRAIN_NOISE_LANES(PIXEL_ARGB8)
GRAIN_NOISE_LANES(PIXEL_BGRA8)
GRAIN_NOISE_LANES(PIXEL_ARGB14)
GRAIN_NOISE_LANES(PIXEL_BGRA14)
#undef GRAIN_NOISE_LANES

}  // namespace grain_noise

TX_END_AVX2
