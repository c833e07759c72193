#include "stages/tone/GrainBlur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "lib/Common/PixelFormats.h"

namespace {

// One channel's kernel, worked out once per pass, in single precision like the radii.
struct ChannelKernel {
    int64_t reach = 0;   // R = ceil(r)
    float edge = 1.0f;   // f: the weight of the two outer taps
    float inner = 0.0f;  // 1 - f: what an outer tap lacks of a full one
    float norm = 1.0f;   // k = 1 / ((2R - 1) + 2f)

    explicit ChannelKernel(float radius) {
        const float r = radius > 0.0f ? std::min(radius, kMaxGrainRadius) : 0.0f;
        reach = int64_t(std::ceil(r));
        edge = 1.0f - (float(reach) - r);
        inner = 1.0f - edge;
        norm = 1.0f / (float(2 * reach - 1) + 2.0f * edge);
    }

    // The weighted terms, truncated as they enter and leave the sum.
    int64_t outer(int32_t p) const { return int64_t(float(p) * edge); }
    int64_t rest(int32_t p) const { return int64_t(float(p) * inner); }

    // The sum centred before the first sample, where every tap reads the first sample.
    int64_t start(int32_t p0) const { return int64_t(float(p0 * 2) * edge + float(int64_t(p0) * (2 * reach - 1))); }
};

// A bundle of neighbouring lines filtered in lockstep: rows for the horizontal pass, a strip
// of columns for the vertical one, so that both walk memory row by row. Offsets in bytes.
struct Bundle {
    const uint8_t* source;
    uint8_t* destination;
    ptrdiff_t sourceAlong, sourceAcross;
    ptrdiff_t destinationAlong, destinationAcross;
    int64_t length;
    int lanes;
};

constexpr int kMaxLanes = 16;

template <class Tag>
typename Tag::Channel held(float v) {
    constexpr float white = float(Tag::white);
    return typename Tag::Channel(v > 0.0f ? (v < white ? v : white) : 0.0f);
}

template <class Tag>
void blurBundle(const Bundle& b, const ChannelKernel (&kernels)[3]) {
    using Channel = typename Tag::Channel;
    using F = typename Tag::FORMAT;
    constexpr ptrdiff_t channelBytes[3] = {F::R * ptrdiff_t(sizeof(Channel)), F::G * ptrdiff_t(sizeof(Channel)),
                                           F::B * ptrdiff_t(sizeof(Channel))};
    constexpr int outIndex[3] = {F::R, F::G, F::B};
    const int64_t last = b.length - 1;
    const auto sample = [&](int lane, int64_t position, int c) {
        return int32_t(*reinterpret_cast<const Channel*>(b.source + lane * b.sourceAcross + position * b.sourceAlong +
                                                          channelBytes[c]));
    };

    // Running sums brought to the position before the first sample. The steps centred on
    // -R+1 .. -1 only lose copies of the first sample and gain the first R samples (the last
    // one repeated when the line is shorter than the kernel); the steps before them cancel.
    int64_t sums[kMaxLanes][3];
    for (int lane = 0; lane < b.lanes; ++lane) {
        for (int c = 0; c < 3; ++c) {
            const ChannelKernel& k = kernels[c];
            const int32_t p0 = sample(lane, 0, c);
            int64_t sum = k.start(p0);
            if (k.reach >= 2) {
                const int64_t steps = k.reach - 1;
                sum -= steps * (k.outer(p0) + k.rest(p0));
                const int64_t lastRest = std::min(k.reach - 2, last), lastOuter = std::min(k.reach - 1, last);
                for (int64_t j = 0; j <= lastRest; ++j) sum += k.rest(sample(lane, j, c));
                for (int64_t j = 1; j <= lastOuter; ++j) sum += k.outer(sample(lane, j, c));
                sum += (k.reach - 2 - lastRest) * k.rest(sample(lane, last, c));
                sum += (k.reach - 1 - std::max<int64_t>(lastOuter, 0)) * k.outer(sample(lane, last, c));
            }
            sums[lane][c] = sum;
        }
    }

    const auto clamped = [last](int64_t position) { return std::clamp<int64_t>(position, 0, last); };
    for (int64_t x = 0; x < b.length; ++x) {
        // Where the four changing taps of each channel sit; the same in every lane.
        ptrdiff_t gainRest[3], gainOuter[3], loseOuter[3], loseRest[3];
        for (int c = 0; c < 3; ++c) {
            const int64_t reach = kernels[c].reach;
            gainRest[c] = clamped(x + reach - 1) * b.sourceAlong + channelBytes[c];
            gainOuter[c] = clamped(x + reach) * b.sourceAlong + channelBytes[c];
            loseOuter[c] = clamped(x - reach - 1) * b.sourceAlong + channelBytes[c];
            loseRest[c] = clamped(x - reach) * b.sourceAlong + channelBytes[c];
        }
        for (int lane = 0; lane < b.lanes; ++lane) {
            const uint8_t* line = b.source + lane * b.sourceAcross;
            const auto at = [line](ptrdiff_t offset) { return int32_t(*reinterpret_cast<const Channel*>(line + offset)); };
            Channel* out = reinterpret_cast<Channel*>(b.destination + lane * b.destinationAcross + x * b.destinationAlong);
            for (int c = 0; c < 3; ++c) {
                const ChannelKernel& k = kernels[c];
                int64_t& sum = sums[lane][c];
                sum += k.rest(at(gainRest[c])) + k.outer(at(gainOuter[c])) - k.outer(at(loseOuter[c])) -
                       k.rest(at(loseRest[c]));
                out[outIndex[c]] = held<Tag>(float(sum) * k.norm);
            }
            out[F::A] = *reinterpret_cast<const Channel*>(line + x * b.sourceAlong + F::A * ptrdiff_t(sizeof(Channel)));
        }
    }
}

}  // namespace

template <class Tag>
void GrainBlur(float radiusRed, float radiusGreen, float radiusBlue, bool vertical, const RasterDesc& source,
               const RasterDesc& destination) {
    // NaN compares false here as well, so it counts as no radius.
    if (!(radiusRed > 0.0f) && !(radiusGreen > 0.0f) && !(radiusBlue > 0.0f))
        return;
    const int32_t width = std::min(source.width, destination.width);
    const int32_t height = std::min(source.height, destination.height);
    if (width <= 0 || height <= 0)
        return;
    const ChannelKernel kernels[3] = {ChannelKernel(radiusRed), ChannelKernel(radiusGreen), ChannelKernel(radiusBlue)};
    const ptrdiff_t pixel = Tag::bytesPerPixel;

    const int32_t lines = vertical ? width : height;
    for (int32_t first = 0; first < lines; first += kMaxLanes) {
        const int lanes = int(std::min<int32_t>(kMaxLanes, lines - first));
        Bundle b;
        if (vertical) {
            b = Bundle{source.pixels + first * pixel, destination.pixels + first * pixel, source.rowBytes, pixel,
                       destination.rowBytes, pixel, height, lanes};
        } else {
            b = Bundle{source.pixels + ptrdiff_t(first) * source.rowBytes,
                       destination.pixels + ptrdiff_t(first) * destination.rowBytes,
                       pixel,
                       source.rowBytes,
                       pixel,
                       destination.rowBytes,
                       width,
                       lanes};
        }
        blurBundle<Tag>(b, kernels);
    }
}

template void GrainBlur<PIXEL_ARGB8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlur<PIXEL_BGRA8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlur<PIXEL_ARGB14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlur<PIXEL_BGRA14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
