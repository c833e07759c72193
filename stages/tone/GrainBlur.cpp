#include "stages/tone/GrainBlur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

#include "lib/Common/PixelFormats.h"
#include "lib/Common/Cpu.h"
#include "lib/Common/PixelVectors.h"
#include "stages/tone/GrainBlurFixed.h"

namespace {

using grain_blur::ChannelKernel;

// The truncated weighted terms of every sample value 0..white, per channel: each sample enters
// and leaves the sums twice, and a table lookup is far cheaper than the conversions.
template <class Tag>
struct TermTables {
    using Channel = typename Tag::Channel;
    static constexpr int32_t entries = Tag::white + 1;
    std::vector<uint16_t> terms = std::vector<uint16_t>(size_t(6 * entries));

    explicit TermTables(const ChannelKernel (&kernels)[3]) {
        for (int c = 0; c < 3; ++c)
            for (int32_t v = 0; v < entries; ++v) {
                terms[size_t((2 * c) * entries + v)] = uint16_t(kernels[c].outer(v));
                terms[size_t((2 * c + 1) * entries + v)] = uint16_t(kernels[c].rest(v));
            }
    }
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

// Radii up to 1 (R = 0 or 1), the defaults' case, by a window instead of running sums.
//
// The sum's steps telescope: at x it is the window o(x-1) + o(x) + r(x) + o(x+1), with o and r
// the truncated outer and rest terms of a sample and the side taps present only where R = 1
// (at R = 0, r is 0 and o the sample itself), plus a constant of the line: the start value
// less the window at the first pixel. The window carries no state, so four lanes (one pixel's
// channels) are filtered at once. Every conversion and product is the plain path's own:
// int -> float exact, single-precision products, truncation by cvttps2dq as by a C cast.
template <class Tag>
class NarrowKernels {
public:
    explicit NarrowKernels(const ChannelKernel (&kernels)[3]) {
        using F = typename Tag::FORMAT;
        constexpr int channelOf[3] = {F::R, F::G, F::B};
        // Alpha lanes get zero weights; their results are replaced by the source alpha.
        alignas(16) float edges[4] = {}, inners[4] = {}, norms[4] = {}, signs[4] = {};
        alignas(16) int32_t sideMask[4] = {};
        for (int c = 0; c < 3; ++c) {
            const int lane = channelOf[c];
            edges[lane] = kernels[c].edge;
            inners[lane] = kernels[c].inner;
            norms[lane] = kernels[c].norm;
            signs[lane] = float(2 * kernels[c].reach - 1);
            sideMask[lane] = kernels[c].reach == 1 ? -1 : 0;
        }
        edge_ = _mm_load_ps(edges);
        inner_ = _mm_load_ps(inners);
        norm_ = _mm_load_ps(norms);
        startSign_ = _mm_load_ps(signs);
        sides_ = _mm_load_si128(reinterpret_cast<const __m128i*>(sideMask));
    }

    // A pixel's part in the window: o where it is a side tap (else 0), o + r as the centre.
    struct Terms {
        __m128i side, centre;
    };
    Terms terms(__m128i pixel) const {
        const __m128 p = asFloat(pixel);
        const __m128i o = outer(p);
        return {_mm_and_si128(o, sides_), _mm_add_epi32(o, _mm_cvttps_epi32(_mm_mul_ps(p, inner_)))};
    }
    // The start value trunc(2 p0 f + p0 (2R - 1)) less the window at the first pixel.
    __m128i lineOffset(__m128i first) const {
        const __m128 p = asFloat(first);
        const __m128i start = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_add_ps(p, p), edge_), _mm_mul_ps(p, startSign_)));
        const Terms t = terms(first);
        return _mm_sub_epi32(start, _mm_add_epi32(_mm_add_epi32(t.side, t.side), t.centre));
    }
    // trunc(sum * k), held to 0..white when stored. The sum stays far below 2^24, so the
    // conversion is exact, and the product far below 2^31, so it cannot overflow.
    __m128i value(__m128i sum) const { return _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(sum), norm_)); }

private:
    // Samples past white (a host out of range) count as white.
    static __m128 asFloat(__m128i pixel) {
        const __m128 p = _mm_cvtepi32_ps(pixel);
        return kIs16Bit<Tag> ? _mm_min_ps(p, _mm_set1_ps(float(Tag::white))) : p;
    }
    __m128i outer(__m128 p) const { return _mm_cvttps_epi32(_mm_mul_ps(p, edge_)); }

    __m128 edge_, inner_, norm_, startSign_;
    __m128i sides_;
};

// Block i of a line of `width` pixels; the last one padded with the line's last pixel.
template <class Tag>
pixel_vectors::Block lineBlock(const uint8_t* line, int32_t i, int32_t width) {
    using namespace pixel_vectors;
    const uint8_t* at = line + ptrdiff_t(i) * kBlockBytes<Tag>;
    const int32_t left = width - i * kBlockPixels;
    return left >= kBlockPixels ? loadBlock<Tag>(at) : loadPartialBlock<Tag>(at, int(left));
}

// Four filtered pixels (32-bit lanes) held to 0..white and stored as block i, with the alpha
// of `source`.
template <class Tag>
void storeLineBlock(uint8_t* line, int32_t i, int32_t width, const __m128i (&values)[4], pixel_vectors::Block source) {
    using namespace pixel_vectors;
    const __m128i alpha = alphaLanes<Tag>();
    const Block b{withAlpha(heldToWhite<Tag>(twoPixels(values[0], values[1])), source.low, alpha),
                  withAlpha(heldToWhite<Tag>(twoPixels(values[2], values[3])), source.high, alpha)};
    uint8_t* at = line + ptrdiff_t(i) * kBlockBytes<Tag>;
    const int32_t left = width - i * kBlockPixels;
    if (left >= kBlockPixels)
        storeBlock<Tag>(at, b);
    else
        storePartialBlock<Tag>(at, b, int(left));
}

// One row, rolling along it: each pixel's terms are worked out once, as the right-hand
// neighbour of the pixel before it.
template <class Tag>
void narrowRow(const NarrowKernels<Tag>& k, const uint8_t* source, uint8_t* destination, int32_t width) {
    using namespace pixel_vectors;
    const int32_t blocks = (width + kBlockPixels - 1) / kBlockPixels;
    Block block = lineBlock<Tag>(source, 0, width);
    const __m128i first = firstPixel(block.low);
    const __m128i offset = k.lineOffset(first);
    auto current = k.terms(first);
    __m128i before = current.side;  // the pixel before the first repeats it
    for (int32_t i = 0; i < blocks; ++i) {
        // Past the last block the line's last pixel repeats; a padded block already ends in it.
        const bool last = i + 1 == blocks;
        const Block next = last ? block : lineBlock<Tag>(source, i + 1, width);
        const __m128i following[4] = {secondPixel(block.low), firstPixel(block.high), secondPixel(block.high),
                                      last ? secondPixel(block.high) : firstPixel(next.low)};
        __m128i values[4];
        for (int j = 0; j < 4; ++j) {
            const auto after = k.terms(following[j]);
            values[j] = k.value(_mm_add_epi32(_mm_add_epi32(before, after.side), _mm_add_epi32(current.centre, offset)));
            before = current.side;
            current = after;
        }
        storeLineBlock<Tag>(destination, i, width, values, block);
        block = next;
    }
}

// Columns, walked row by row: each output row from the side terms of the rows above and below
// and the centre terms of its own row. Every row's terms are worked out once, as the row
// below, and kept while the next two rows need them; each column's offset comes from the
// first row.
template <class Tag>
void narrowColumns(const NarrowKernels<Tag>& k, const RasterDesc& source, const RasterDesc& destination,
                   int32_t width, int32_t height) {
    using namespace pixel_vectors;
    struct BlockTerms {
        __m128i side[4], centre[4];
    };
    struct BlockOffsets {
        __m128i lanes[4];
    };
    const int32_t blocks = (width + kBlockPixels - 1) / kBlockPixels;
    const auto row = [&](int32_t y) { return source.pixels + ptrdiff_t(y) * source.rowBytes; };
    const auto termsOf = [&](Block b, BlockTerms& t) {
        const __m128i pixels[4] = {firstPixel(b.low), secondPixel(b.low), firstPixel(b.high), secondPixel(b.high)};
        for (int j = 0; j < 4; ++j) {
            const auto terms = k.terms(pixels[j]);
            t.side[j] = terms.side;
            t.centre[j] = terms.centre;
        }
    };

    std::vector<BlockTerms> ring(static_cast<size_t>(3 * blocks));
    std::vector<BlockOffsets> offsets(static_cast<size_t>(blocks));
    const auto rowTerms = [&](int32_t y) { return &ring[size_t(y % 3) * size_t(blocks)]; };
    for (int32_t i = 0; i < blocks; ++i) {
        const Block first = lineBlock<Tag>(row(0), i, width);
        termsOf(first, rowTerms(0)[i]);
        const __m128i pixels[4] = {firstPixel(first.low), secondPixel(first.low), firstPixel(first.high),
                                   secondPixel(first.high)};
        for (int j = 0; j < 4; ++j) offsets[size_t(i)].lanes[j] = k.lineOffset(pixels[j]);
    }
    for (int32_t y = 0; y < height; ++y) {
        // Rows past either end repeat the end rows.
        const BlockTerms* above = rowTerms(std::max(y - 1, 0));
        const BlockTerms* at = rowTerms(y);
        const bool belowInside = y + 1 < height;
        BlockTerms* below = rowTerms(belowInside ? y + 1 : y);
        const uint8_t* in = row(y);
        const uint8_t* next = belowInside ? row(y + 1) : nullptr;
        uint8_t* out = destination.pixels + ptrdiff_t(y) * destination.rowBytes;
        for (int32_t i = 0; i < blocks; ++i) {
            if (belowInside)
                termsOf(lineBlock<Tag>(next, i, width), below[i]);
            __m128i values[4];
            for (int j = 0; j < 4; ++j) {
                const __m128i sides = _mm_add_epi32(above[i].side[j], below[i].side[j]);
                values[j] = k.value(_mm_add_epi32(sides, _mm_add_epi32(at[i].centre[j], offsets[size_t(i)].lanes[j])));
            }
            storeLineBlock<Tag>(out, i, width, values, lineBlock<Tag>(in, i, width));
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

template <class Tag>
void runningSumPass(const PassSetup& setup, bool vertical, const RasterDesc& source, const RasterDesc& destination) {
    const auto& kernels = setup.kernels;
    const int32_t width = setup.width, height = setup.height;
    const TermTables<Tag> tables(kernels);
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
}

}  // namespace

template <class Tag>
void GrainBlurPlain(float radiusRed, float radiusGreen, float radiusBlue, bool vertical, const RasterDesc& source,
                    const RasterDesc& destination) {
    if (const auto setup = preparePass(radiusRed, radiusGreen, radiusBlue, source, destination))
        runningSumPass<Tag>(*setup, vertical, source, destination);
}

template <class Tag>
void GrainBlur(float radiusRed, float radiusGreen, float radiusBlue, bool vertical, const RasterDesc& source,
               const RasterDesc& destination) {
    const auto setup = preparePass(radiusRed, radiusGreen, radiusBlue, source, destination);
    if (!setup)
        return;
    const bool narrow = std::all_of(std::begin(setup->kernels), std::end(setup->kernels),
                                    [](const ChannelKernel& k) { return k.reach <= 1; });
    if (!narrow) {
        runningSumPass<Tag>(*setup, vertical, source, destination);
        return;
    }
    if constexpr (!kIs16Bit<Tag>) {
        if (const auto fixed = grain_blur::FixedKernels<Tag>::find(setup->kernels)) {
            const bool wide = cpu::hasAvx2();
            if (fixed->norm)
                (wide ? grain_blur::fixedPassAvx2<Tag, true> : grain_blur::fixedPassSse2<Tag, true>)(
                    *fixed, vertical, source, destination, setup->width, setup->height);
            else
                (wide ? grain_blur::fixedPassAvx2<Tag, false> : grain_blur::fixedPassSse2<Tag, false>)(
                    *fixed, vertical, source, destination, setup->width, setup->height);
            return;
        }
    }
    const NarrowKernels<Tag> kernels(setup->kernels);
    if (vertical) {
        narrowColumns<Tag>(kernels, source, destination, setup->width, setup->height);
    } else {
        for (int32_t y = 0; y < setup->height; ++y)
            narrowRow<Tag>(kernels, source.pixels + ptrdiff_t(y) * source.rowBytes,
                           destination.pixels + ptrdiff_t(y) * destination.rowBytes, setup->width);
    }
}

template void GrainBlur<PIXEL_ARGB8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlur<PIXEL_BGRA8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlur<PIXEL_ARGB14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlur<PIXEL_BGRA14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlurPlain<PIXEL_ARGB8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlurPlain<PIXEL_BGRA8>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlurPlain<PIXEL_ARGB14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
template void GrainBlurPlain<PIXEL_BGRA14>(float, float, float, bool, const RasterDesc&, const RasterDesc&);
