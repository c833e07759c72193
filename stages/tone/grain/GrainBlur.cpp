#include "stages/tone/grain/GrainBlur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "lib/Common/CallBuffer.h"
#include "lib/Common/simd/Cpu.h"
#include "lib/Common/PixelFormats.h"
#include "stages/tone/grain/GrainBlurWindow.h"

namespace {

using grain_blur::ChannelKernel;

// The truncated weighted terms of every sample value 0..white, per channel: each sample enters
// and leaves the sums twice, and a table lookup is far cheaper than the conversions. False when
// the heap refuses them.
template <class Tag>
struct TermTables {
    using Channel = typename Tag::Channel;
    static constexpr int32_t entries = Tag::white + 1;
    CallBuffer<uint16_t> terms{size_t(6 * entries)};

    explicit TermTables(const ChannelKernel (&kernels)[3]) {
        if (!terms)
            return;
        for (int c = 0; c < 3; ++c)
            for (int32_t v = 0; v < entries; ++v) {
                terms[size_t((2 * c) * entries + v)] = uint16_t(kernels[c].outer(v));
                terms[size_t((2 * c + 1) * entries + v)] = uint16_t(kernels[c].rest(v));
            }
    }
    explicit operator bool() const { return bool(terms); }
    const uint16_t* outer(int c) const { return &terms[size_t(2 * c * entries)]; }
    const uint16_t* rest(int c) const { return &terms[size_t((2 * c + 1) * entries)]; }
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

// A sum's value held to 0..white before the conversion (never NaN here).
template <class Tag>
typename Tag::Channel held(float v) {
    return typename Tag::Channel(std::min(std::max(v, 0.0f), float(Tag::white)));
}

template <class Tag>
void blurBundle(const Bundle& bundle, const ChannelKernel (&kernels)[3], const TermTables<Tag>& tables) {
    using Channel = typename Tag::Channel;
    using F = typename Tag::FORMAT;
    constexpr int channelOf[3] = {F::R, F::G, F::B};
    // Locals, so that the byte-wide stores below cannot force them to be read again.
    const Bundle b = bundle;
    const int64_t last = b.length - 1;
    const int64_t reach[3] = {kernels[0].reach, kernels[1].reach, kernels[2].reach};
    const float norm[3] = {kernels[0].norm, kernels[1].norm, kernels[2].norm};
    const uint16_t* outer[3] = {tables.outer(0), tables.outer(1), tables.outer(2)};
    const uint16_t* rest[3] = {tables.rest(0), tables.rest(1), tables.rest(2)};
    // Samples past white (a host out of range) count as white.
    const auto read = [](const uint8_t* at) {
        return std::min<int32_t>(*reinterpret_cast<const Channel*>(at), Tag::white);
    };
    const auto sample = [&](int lane, int64_t position, int c) {
        return read(b.source + lane * b.sourceAcross + position * b.sourceAlong + channelOf[c] * ptrdiff_t(sizeof(Channel)));
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
                sum -= steps * (outer[c][p0] + rest[c][p0]);
                const int64_t lastRest = std::min(k.reach - 2, last), lastOuter = std::min(k.reach - 1, last);
                for (int64_t j = 0; j <= lastRest; ++j) sum += rest[c][sample(lane, j, c)];
                for (int64_t j = 1; j <= lastOuter; ++j) sum += outer[c][sample(lane, j, c)];
                sum += (k.reach - 2 - lastRest) * rest[c][sample(lane, last, c)];
                sum += (k.reach - 1 - lastOuter) * outer[c][sample(lane, last, c)];
            }
            sums[lane][c] = sum;
        }
    }

    const auto clamped = [last](int64_t position) { return std::clamp<int64_t>(position, 0, last); };
    for (int64_t x = 0; x < b.length; ++x) {
        // Where the four changing taps of each channel sit; the same in every lane.
        ptrdiff_t gainRest[3], gainOuter[3], loseOuter[3], loseRest[3];
        for (int c = 0; c < 3; ++c) {
            const ptrdiff_t channel = channelOf[c] * ptrdiff_t(sizeof(Channel));
            gainRest[c] = clamped(x + reach[c] - 1) * b.sourceAlong + channel;
            gainOuter[c] = clamped(x + reach[c]) * b.sourceAlong + channel;
            loseOuter[c] = clamped(x - reach[c] - 1) * b.sourceAlong + channel;
            loseRest[c] = clamped(x - reach[c]) * b.sourceAlong + channel;
        }
        const ptrdiff_t alpha = x * b.sourceAlong + F::A * ptrdiff_t(sizeof(Channel));
        for (int lane = 0; lane < b.lanes; ++lane) {
            const uint8_t* line = b.source + lane * b.sourceAcross;
            Channel* out = reinterpret_cast<Channel*>(b.destination + lane * b.destinationAcross + x * b.destinationAlong);
            for (int c = 0; c < 3; ++c) {
                int64_t& sum = sums[lane][c];
                sum += rest[c][read(line + gainRest[c])] + outer[c][read(line + gainOuter[c])] -
                       outer[c][read(line + loseOuter[c])] - rest[c][read(line + loseRest[c])];
                out[channelOf[c]] = held<Tag>(float(sum) * norm[c]);
            }
            out[F::A] = *reinterpret_cast<const Channel*>(line + alpha);
        }
    }
}

// The kernels of a pass, or nothing when it has nothing to do.
struct PassSetup {
    ChannelKernel kernels[3];
    int32_t width, height;
};

std::optional<PassSetup> preparePass(float radiusRed, float radiusGreen, float radiusBlue, const RasterDesc& source,
                                     const RasterDesc& destination) {
    // NaN compares false here as well, so it counts as no radius.
    if (!(radiusRed > 0.0f) && !(radiusGreen > 0.0f) && !(radiusBlue > 0.0f))
        return std::nullopt;
    const PassSetup setup{{ChannelKernel(radiusRed), ChannelKernel(radiusGreen), ChannelKernel(radiusBlue)},
                          std::min(source.width, destination.width),
                          std::min(source.height, destination.height)};
    if (setup.width <= 0 || setup.height <= 0)
        return std::nullopt;
    return setup;
}

// False, with nothing written, when the term tables are refused.
template <class Tag>
bool runningSumPass(const PassSetup& setup, bool vertical, const RasterDesc& source, const RasterDesc& destination) {
    const auto& kernels = setup.kernels;
    const int32_t width = setup.width, height = setup.height;
    const TermTables<Tag> tables(kernels);
    if (!tables)
        return false;
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
        blurBundle<Tag>(b, kernels, tables);
    }
    return true;
}

// The 16-bit-lane window's kernels (8-bit frames), where the processor has AVX2 and every
// channel's terms have a multiplier.
template <class Tag>
bool shortLanes(const PassSetup& setup, grain_blur::ShortKernels& k) {
    return cpu::hasAvx2() && grain_blur::ShortKernels::of<Tag>(setup.kernels, k);
}

// A pass that could not have its working memory.
Status doneOrRefused(bool done) { return done ? STATUS_OK : STATUS_NO_RASTER; }

}  // namespace

template <class Tag>
Status GrainBlurPlain(float radiusRed, float radiusGreen, float radiusBlue, bool vertical, const RasterDesc& source,
                      const RasterDesc& destination) {
    const auto setup = preparePass(radiusRed, radiusGreen, radiusBlue, source, destination);
    return doneOrRefused(!setup || runningSumPass<Tag>(*setup, vertical, source, destination));
}

template <class Tag>
Status GrainBlur(float radiusRed, float radiusGreen, float radiusBlue, bool vertical, const RasterDesc& source,
                 const RasterDesc& destination) {
    const auto setup = preparePass(radiusRed, radiusGreen, radiusBlue, source, destination);
    if (!setup)
        return STATUS_OK;
    const bool narrow = std::all_of(std::begin(setup->kernels), std::end(setup->kernels),
                                    [](const ChannelKernel& k) { return k.reach <= 1; });
    if (!narrow)
        return doneOrRefused(runningSumPass<Tag>(*setup, vertical, source, destination));
    if constexpr (!kIs16Bit<Tag>) {
        if (grain_blur::ShortKernels k; shortLanes<Tag>(*setup, k))
            return doneOrRefused((cpu::hasAvx512() ? grain_blur::shortPassAvx512<Tag> : grain_blur::shortPassAvx2<Tag>)(
                k, vertical, source, destination, setup->width, setup->height));
    }
    return doneOrRefused((cpu::hasAvx2() ? grain_blur::floatPassAvx2<Tag> : grain_blur::floatPassSse2<Tag>)(
        grain_blur::FloatKernels::of<Tag>(setup->kernels), vertical, source, destination, setup->width, setup->height));
}

template <class Tag>
Status GrainBlurByRows(float radiusRed, float radiusGreen, float radiusBlue, const RasterDesc& layer,
                       const RasterDesc& buffer, const grain_blur::RowHooks& hooks) {
    const auto setup = preparePass(radiusRed, radiusGreen, radiusBlue, layer, buffer);
    if (!setup || !std::all_of(std::begin(setup->kernels), std::end(setup->kernels),
                               [](const ChannelKernel& k) { return k.reach <= 1; }))
        return STATUS_OK;
    const bool wide = cpu::hasAvx2();
    const int32_t width = setup->width, height = setup->height;
    if constexpr (!kIs16Bit<Tag>) {
        if (grain_blur::ShortKernels k; shortLanes<Tag>(*setup, k))
            return doneOrRefused((cpu::hasAvx512() ? grain_blur::shortBothAvx512<Tag> : grain_blur::shortBothAvx2<Tag>)(
                k, layer, buffer, width, height, hooks));
    }
    return doneOrRefused((wide ? grain_blur::floatBothAvx2<Tag> : grain_blur::floatBothSse2<Tag>)(
        grain_blur::FloatKernels::of<Tag>(setup->kernels), layer, buffer, width, height, hooks));
}

template Status GrainBlur<PIXEL_ARGB8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template Status GrainBlur<PIXEL_BGRA8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template Status GrainBlur<PIXEL_ARGB14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template Status GrainBlur<PIXEL_BGRA14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template Status GrainBlurPlain<PIXEL_ARGB8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template Status GrainBlurPlain<PIXEL_BGRA8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template Status GrainBlurPlain<PIXEL_ARGB14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template Status GrainBlurPlain<PIXEL_BGRA14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template Status GrainBlurByRows<PIXEL_ARGB8>(float, float, float, const RasterDesc&, const RasterDesc&,
                                         const grain_blur::RowHooks&);
template Status GrainBlurByRows<PIXEL_BGRA8>(float, float, float, const RasterDesc&, const RasterDesc&,
                                         const grain_blur::RowHooks&);
template Status GrainBlurByRows<PIXEL_ARGB14>(float, float, float, const RasterDesc&, const RasterDesc&,
                                         const grain_blur::RowHooks&);
template Status GrainBlurByRows<PIXEL_BGRA14>(float, float, float, const RasterDesc&, const RasterDesc&,
                                         const grain_blur::RowHooks&);
