// Host services over host images: descriptions, copies and clears on padded strides, scratch
// rasters from the host's memory service, frame facts and parameter reads.
#include <cmath>

#include "TestSupport.h"
#include "lib/Common/PluginRaster_API.h"
#include "refhost/Faults.h"
#include "sdk/sdk_ids.h"

using namespace refhost;
using namespace testing_support;

namespace {

class HostRaster : public ::testing::TestWithParam<PixelLayout> {
protected:
    AcfPtr<HostComponent> host{new HostComponent};
    ImageSpec shape(uint32_t w, uint32_t h, int32_t padding) const { return ImageSpec{w, h, GetParam(), padding}; }
    bool sixteen() const { return isSixteenBit(GetParam()); }
};

// Every sample of `image` is `expected(x, y, c)`.
template <class Expected>
void expectSamples(const Image& image, Expected expected) {
    for (uint32_t y = 0; y < image.shape().height; ++y)
        for (uint32_t x = 0; x < image.shape().width; ++x)
            for (int c = 0; c < 4; ++c) ASSERT_EQ(image.channel(x, y, c), expected(x, y, c)) << x << "," << y;
}

// Raster objects are destroyed by their users.
struct RasterGuard {
    PluginRaster_API* r;
    ~RasterGuard() {
        if (r) r->destroy();
    }
};

}  // namespace

TEST_P(HostRaster, DescriptionsCarryLayoutCodeStrideAndDepth) {
    FrameSetup f(host.get(), shape(7, 5, 12));
    RasterDesc d;
    f.services->describeOutput(&d);
    const uint32_t expectedCode[] = {0, 1, 5, 6};
    EXPECT_EQ(d.format, expectedCode[int(GetParam())]);
    EXPECT_EQ(d.bytesPerPixel, sixteen() ? 8u : 4u);
    EXPECT_EQ(d.rowBytes, int32_t(7 * d.bytesPerPixel + 12));
    EXPECT_EQ(d.width, 7);
    EXPECT_EQ(d.height, 5);
    EXPECT_EQ(d.pixels, f.output->pixels());
    EXPECT_FALSE(d.notRGB);
    EXPECT_EQ(d.scale, 1.0f);

    RasterGuard out{f.services->outputRaster()};
    EXPECT_EQ(out.r->depthKind(), sixteen() ? DEPTH_16BIT : DEPTH_8BIT);
    EXPECT_EQ(out.r->width(), 7);
    EXPECT_EQ(out.r->lastRow(), 4);
    EXPECT_EQ(out.r->rowBytes(), d.rowBytes);

    // Any other colour space gets one of the codes that are not rendered.
    ImageSpec yuv = shape(7, 5, 12);
    yuv.colorSpace = AVX_COLORSPACE_YUV;
    FrameSetup g(host.get(), yuv);
    g.services->describeOutput(&d);
    const uint32_t otherCode[] = {15, 16, 17, 18};
    EXPECT_EQ(d.format, otherCode[int(GetParam())]);
    EXPECT_TRUE(d.notRGB);
}

TEST_P(HostRaster, CopiesAndClearsStayInsideTheirRows) {
    FrameSetup f(host.get(), shape(9, 6, 20));
    f.output.reset(new Image(shape(9, 6, 4)));
    f.services->outputImage = f.output.get();
    f.input->fillRandom(3);

    f.services->copyInputToOutput();
    EXPECT_TRUE(f.output->samePixels(*f.input.get()));
    EXPECT_TRUE(f.output->guardsIntact());
    EXPECT_TRUE(f.input->guardsIntact());

    // Rows 1..3 (bottom inclusive), columns 2..5 (right exclusive).
    RasterGuard out{f.services->outputRaster()};
    const Rect16 rect{1, 2, 3, 6};
    f.services->clearRect(out.r, &rect);
    expectSamples(*f.output.get(), [&](uint32_t x, uint32_t y, int c) {
        return y >= 1 && y <= 3 && x >= 2 && x < 6 ? 0u : f.input->channel(x, y, c);
    });
    const Rect16 upsideDown{4, 0, 2, 9};
    f.services->clearRect(out.r, &upsideDown);
    EXPECT_EQ(f.output->channel(0, 4, 1), f.input->channel(0, 4, 1));

    // Source rows 2..9 are cut at the source's last row (5); placed at column 4, row 0.
    RasterGuard in{f.services->inputRaster(0)};
    f.services->clearImage(out.r);
    const Rect16 block{2, 1, 9, 4};
    f.services->copyRect(in.r, out.r, block, 4, 0);
    expectSamples(*f.output.get(), [&](uint32_t x, uint32_t y, int c) {
        return y <= 3 && x >= 4 && x < 7 ? f.input->channel(x - 3, y + 2, c) : 0u;
    });
    EXPECT_TRUE(f.output->guardsIntact());
}

TEST_P(HostRaster, ScratchRastersComeFromTheHostMemoryService) {
    FrameSetup f(host.get(), shape(5, 3, 8));
    MemoryService& memory = host->memory();
    int32_t status = -1;
    PluginRaster_API* scratch = f.services->allocateRaster(11, 7, DEPTH_8BIT, &status);
    ASSERT_NE(scratch, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(memory.liveBlocks(), 1);
    const int bpp = sixteen() ? 8 : 4;  // laid out like the output, whatever depth was asked
    EXPECT_EQ(memory.liveBytes(), 11 * 7 * bpp);
    RasterDesc d;
    f.services->describeRaster(scratch, &d);
    EXPECT_EQ(d.rowBytes, 11 * bpp);
    EXPECT_EQ(d.width, 11);
    EXPECT_EQ(scratch->depthKind(), sixteen() ? DEPTH_16BIT : DEPTH_8BIT);

    // A raster copy between host image and scratch uses each one's own stride.
    f.input->fillRandom(9);
    RasterGuard in{f.services->inputRaster(0)};
    f.services->copyImage(in.r, scratch);
    for (int c = 0; c < 4; ++c) {
        const uint8_t* p = d.pixels + 2 * d.rowBytes + 4 * bpp + (bpp / 4) * c;
        const uint32_t v = bpp == 8 ? uint32_t(p[0] | p[1] << 8) : p[0];
        EXPECT_EQ(v, f.input->channel(4, 2, GetParam() == PixelLayout::BGRA8 || GetParam() == PixelLayout::BGRA16 ? 3 - c : c));
    }

    f.services->releaseRaster(scratch);
    EXPECT_EQ(memory.liveBlocks(), 0);

    faults().reset();
    faults().failAllocationAt = 1;
    status = 0;
    EXPECT_EQ(f.services->allocateRaster(11, 7, DEPTH_8BIT, &status), nullptr);
    EXPECT_LT(status, 0);
    faults().reset();  // sizes the host is never asked for: test_host_limits
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, HostRaster, ::testing::ValuesIn(kAllLayouts));

TEST(HostServices, FieldFactorScalesRatiosAndAspect) {
    AcfPtr<HostComponent> host(new HostComponent);
    ImageSpec s{4, 4};
    s.pixelAspect = 0.9f;
    FrameSetup f(host.get(), s);
    for (int i = 0; i < 4; ++i) f.effectContext->scaleTerms[i] = i + 1;  // X 1/2, Y 3/4
    RasterGuard out{f.services->outputRaster()};
    EXPECT_EQ(f.services->scaleX(), 0.5);
    EXPECT_EQ(f.services->scaleY(), 0.75);
    EXPECT_EQ(f.services->pixelAspect(out.r), double(0.9f));
    f.services->mFieldFactor = 2.0;
    EXPECT_EQ(f.services->scaleX(), 0.25);
    EXPECT_EQ(f.services->scaleY(), 0.375);
    EXPECT_EQ(f.services->pixelAspect(out.r), double(0.9f) / 2.0);
    EXPECT_TRUE(f.services->isKind800());
}

TEST(HostServices, ParameterReadsBySlotKeepFullPrecision) {
    RegisteredEffect reg;
    auto values = reg.defaults();
    values->setKeys(*slotIdentifier(45), TYPE_Double, {{0.0, 10.0}, {10.0, 20.0}});
    values->set(*slotIdentifier(58), TYPE_Double, 51.0);
    FrameSetup f(reg.host.get(), ImageSpec{4, 4}, values);
    EXPECT_EQ(f.services->readDouble(45, 2.5), 12.5);
    EXPECT_EQ(f.services->readDouble(46, 0.0), 35.54) << "no rounding to single precision here";
    EXPECT_EQ(f.services->readInteger(57, 0.0), 48);
    EXPECT_TRUE(f.services->readBoolean(43, 0.0));
    EXPECT_FALSE(f.services->readBoolean(0, 0.0));
    double rgb[3];
    f.services->readColor(58, 0.0, rgb);
    EXPECT_EQ(rgb[0], 0.2);
    EXPECT_EQ(rgb[1], 1.0);
    EXPECT_EQ(rgb[2], 18.0 / 255.0);
}

TEST(HostServices, SinglePrecisionMathsIsTheNarrowedDoubleResult) {
    AcfPtr<HostComponent> host(new HostComponent);
    FrameSetup f(host.get(), ImageSpec{1, 1});
    PluginHost_API& h = *f.services;
    // Exactly representable results, and agreement with the double function narrowed.
    EXPECT_EQ(h.cosf(0.0f), 1.0f);
    EXPECT_EQ(h.powf(2.0f, 10.0f), 1024.0f);
    EXPECT_EQ(h.sqrtf(2.25f), 1.5f);
    for (float x = -20.0f; x < 20.0f; x += 0.37f) {
        EXPECT_EQ(h.sinf(x), float(std::sin(double(x))));
        EXPECT_EQ(h.expf(x / 4), float(std::exp(double(x / 4))));
    }
    EXPECT_EQ(h.floor(-0.5), -1.0);
    EXPECT_EQ(h.ceilf(0.25f), 1.0f);
}

// A host that pools frame-sized blocks hands a freed one out again for the same size only,
// counts it as given back meanwhile, and still refuses when told to.
TEST(HostServices, PooledBlocksAreReusedBySizeAndStillCounted) {
    AcfPtr<HostComponent> host(new HostComponent);
    MemoryService& memory = host->memory();
    memory.keepFreedBlocks(1);
    const uint64_t frame = uint64_t(3) << 20;
    void* first = memory.Alloc(frame);
    ASSERT_NE(first, nullptr);
    memory.Free(first);
    EXPECT_EQ(memory.liveBlocks(), 0);
    void* other = memory.Alloc(frame + 4);
    EXPECT_NE(other, first) << "a block of another size is not handed out";
    EXPECT_EQ(memory.Alloc(frame), first);
    EXPECT_EQ(memory.liveBlocks(), 2);
    memory.Free(first);
    memory.Free(other);  // the pool holds one: the older block goes back to the system
    faults().reset();
    faults().failAllocationAt = 1;
    EXPECT_EQ(memory.Alloc(frame + 4), nullptr);
    faults().reset();
    EXPECT_EQ(memory.liveBlocks(), 0);
}
