// Every vector path against the plain kernel beside it, bit for bit: random frames of the four
// formats, widths 1..37 and a few hundred, padded rows, 16-bit samples past white, and the
// cases that must fall back to the plain kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "lib/Common/PixelFormats.h"
#include "refhost/Images.h"
#include "sdk/acf_ptr.h"
#include "stages/tone/GrainBlur.h"

using refhost::Image;
using refhost::ImageSpec;
using refhost::PixelLayout;

namespace {

using AllFormats = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;

template <class Tag>
constexpr PixelLayout kLayout = kIs16Bit<Tag> ? (Tag::FORMAT::A == 0 ? PixelLayout::ARGB16 : PixelLayout::BGRA16)
                                              : (Tag::FORMAT::A == 0 ? PixelLayout::ARGB8 : PixelLayout::BGRA8);

RasterDesc descOf(Image& im) {
    return RasterDesc{im.pixels(), 0, int32_t(im.spec().width), int32_t(im.spec().height), im.rowBytes(),
                      uint32_t(im.bytesPerPixel())};
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<uint32_t> testWidths() {
    std::vector<uint32_t> widths;
    for (uint32_t w = 1; w <= 37; ++w) widths.push_back(w);
    for (uint32_t w : {250u, 301u, 333u}) widths.push_back(w);
    return widths;
}

// Random samples in rows padded by 0..16 bytes; in 16-bit frames, when asked, one sample in
// eight past white, as a host out of range may hand over.
template <class Tag>
AcfPtr<Image> randomFrame(uint32_t w, uint32_t h, std::mt19937& rng, bool pastWhite = true) {
    AcfPtr<Image> im(new Image(ImageSpec{w, h, kLayout<Tag>, int32_t(4 * (rng() % 5))}));
    im->fillRandom(rng());
    if (kIs16Bit<Tag> && pastWhite)
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c)
                    if (rng() % 8 == 0) im->setChannel(x, y, c, Tag::white + 1 + rng() % (65535 - Tag::white));
    return im;
}

template <class Tag>
AcfPtr<Image> copyOf(Image& im) {
    AcfPtr<Image> copy(new Image(im.spec()));
    for (uint32_t y = 0; y < im.spec().height; ++y)
        for (uint32_t x = 0; x < im.spec().width; ++x)
            for (int c = 0; c < 4; ++c) copy->setChannel(x, y, c, im.channel(x, y, c));
    return copy;
}

// Same samples and untouched guards and padding in both.
void expectSame(const Image& fast, const Image& plain) {
    EXPECT_TRUE(fast.samePixels(plain));
    EXPECT_TRUE(fast.guardsIntact());
    EXPECT_TRUE(plain.guardsIntact());
}

template <class Tag>
class FastPaths : public ::testing::Test {};
TYPED_TEST_SUITE(FastPaths, AllFormats);

}  // namespace

// Radii at most 1 take the windowed vector path; the rest must reach the running sums as before.
TYPED_TEST(FastPaths, GrainBlurMatchesTheRunningSums) {
    using Tag = TypeParam;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const auto radius = [&]() -> float {
        switch (rng() % 8) {
        case 0: return 0.0f;
        case 1: return 1.0f;
        case 2: return -1.5f;
        case 3: return kNaN;
        case 4: return 1.0f + 40.0f * unit(rng);  // large, often beyond a short line
        default: return unit(rng);               // fractional: the defaults' case
        }
    };
    for (uint32_t w : testWidths()) {
        const uint32_t h = 1 + rng() % 9;
        AcfPtr<Image> source = randomFrame<Tag>(w, h, rng);
        for (int trial = 0; trial < 6; ++trial) {
            // Mostly all three within the narrow path, sometimes one beyond it.
            const float r[3] = {radius(), radius(), trial % 3 == 2 ? radius() : unit(rng)};
            for (bool vertical : {false, true}) {
                SCOPED_TRACE(::testing::Message() << w << "x" << h << " radii " << r[0] << " " << r[1] << " "
                                                  << r[2] << (vertical ? " vertical" : " horizontal"));
                AcfPtr<Image> fast = randomFrame<Tag>(w, h, rng), plain = copyOf<Tag>(*fast.get());
                GrainBlur<Tag>(r[0], r[1], r[2], vertical, descOf(*source.get()), descOf(*fast.get()));
                GrainBlurPlain<Tag>(r[0], r[1], r[2], vertical, descOf(*source.get()), descOf(*plain.get()));
                expectSame(*fast.get(), *plain.get());
            }
        }
    }
}
