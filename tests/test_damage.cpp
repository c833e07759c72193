// Funk, dust and splotches called in-process as the driver calls them, in every pixel format.
// Where the textures land comes from the frame's draws, followed with a generator of our own.
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "StageTestSupport.h"
#include "TextureResources.h"
#include "lib/Common/ImageBuffer.h"
#include "lib/Common/Kernels.h"
#include "lib/Common/TextureLibrary.h"
#include "stages/damage/Dust.h"
#include "stages/damage/Splotches.h"
#include "stages/damage/TexturePlacement.h"
#include "stages/tone/Funk.h"

using namespace stage_support;

namespace {

// The stages reseed their generator with |frame|.
Draws reseeded(int32_t frame) { return Draws{frame < 0 ? 0u - uint32_t(frame) : uint32_t(frame)}; }

// The first frame number whose draw number `nth` (1-based) after reseeding is `draw`.
int32_t frameWhoseDraw(int nth, int32_t draw) {
    for (int32_t frame = 0;; ++frame) {
        Draws d = reseeded(frame);
        for (int i = 1; i < nth; ++i) d.next();
        if (d.next() == draw) return frame;
    }
}

// One texture thrown onto the frame: member, turn, size and corner.
struct Throw {
    int32_t member;
    float angle, sx, sy;
    int32_t width, height;
    float x, y;
};

// A corner uniform in -extent..frame: r (frame + extent) in double, narrowed to float, then
// -extent, + 0.5 and the floor in float.
float corner(double r, int32_t frame, int32_t extent) {
    return std::floor(float(r * double(frame + extent)) + float(-extent) + 0.5f);
}

// A dust speck's draws: member, angle, scale (in float, times scaleX), then x, y.
Throw speckThrow(Draws& d, int32_t frameWidth, int32_t frameHeight, double scaleX) {
    Throw t;
    t.member = int32_t(std::floor(d.unit() * 119 + 1 + 0.5));
    t.angle = float(std::floor(d.unit() * 400 + 0.5));
    t.sx = t.sy = float(d.unit() * 1.3 + 0.2) * float(scaleX);
    t.width = t.height = int32_t(std::floor(32.0f * t.sx + 0.5f));
    t.x = corner(d.unit(), frameWidth, t.width);
    t.y = corner(d.unit(), frameHeight, t.height);
    return t;
}

// A splotch's draws: member, angle, then x, y; the sides round(400 x scale x render scale).
Throw splotchThrow(Draws& d, int32_t frameWidth, int32_t frameHeight, float scale, double scaleX, double scaleY) {
    Throw t;
    t.member = int32_t(std::floor(d.unit() * 19 + 1 + 0.5));
    t.angle = float(std::floor(d.unit() * 400 + 0.5));
    t.sx = float(scaleX * double(scale));
    t.sy = float(scaleY * double(scale));
    t.width = int32_t(std::floor(t.sx * 400.0f + 0.5f));
    t.height = int32_t(std::floor(t.sy * 400.0f + 0.5f));
    t.x = corner(d.unit(), frameWidth, t.width);
    t.y = corner(d.unit(), frameHeight, t.height);
    return t;
}

template <class Tag>
void drawThrow(PluginHost_API& host, Image& frame, const uint8_t* texels, int32_t side, bool invert, const Throw& t,
               int32_t mode, float opacity) {
    AcfPtr<Image> layer(new Image(ImageSpec{uint32_t(side), uint32_t(side), kLayout<Tag>, 12}));
    for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x) {
            const auto v = textureMember<Tag>(texels[4 * (size_t(y) * size_t(side) + size_t(x))]);
            for (int c = 0; c < 4; ++c) layer->setChannel(x, y, c, invert && c > 0 ? Tag::white - v[c] : v[c]);
        }
    AcfPtr<Image> placed(new Image(ImageSpec{uint32_t(t.width), uint32_t(t.height), kLayout<Tag>, 12}));
    if constexpr (kIs16Bit<Tag>)
        TransformResample<Tag>(imageBufferOf(descOf(*layer.get()), EDGE_CLAMP), imageBufferOf(descOf(*placed.get()), EDGE_CLAMP),
                               t.sx, t.sy, t.angle);
    else
        RotateScaleCopy<Tag>(descOf(*layer.get()), descOf(*placed.get()), t.sx, t.sy, t.angle);
    const int32_t X = int32_t(t.x), Y = int32_t(t.y);
    const int32_t left = std::max(X, 0), top = std::max(Y, 0);
    const int32_t right = std::min(X + t.width, int32_t(frame.shape().width));
    const int32_t bottom = std::min(Y + t.height, int32_t(frame.shape().height));
    if (left >= right || top >= bottom) return;
    const Rect16 from{int16_t(top - Y), int16_t(left - X), int16_t(bottom - Y), int16_t(right - X)};
    const Rect16 onto{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
    ASSERT_EQ(CompositeRect<Tag>(&host, mode, descOf(*placed.get()), descOf(frame), from, onto, double(opacity)), 0);
}

std::array<int, 4> sides(const Rect16& r) { return {r.top, r.left, r.bottom, r.right}; }

void setScale(StageFrame& f, std::array<int32_t, 4> terms) {
    for (int i = 0; i < 4; ++i) f.setup.effectContext->scaleTerms[i] = terms[size_t(i)];
}

}  // namespace

// Runs before anything in this program loads the dust or splotch textures.
TEST(DamageTextures, MissingTexturesEndTheStageWithOne) {
    ASSERT_FALSE(TextureSetLoaded(DustTextures)) << "this test must run before anything loads the dust set";
    ASSERT_FALSE(TextureSetLoaded(SplotchTextures)) << "or the splotch set";
    StageFrame f(PixelLayout::BGRA8, 64, 48);
    f.setup.services->mFrameNumber = 3;
    const std::vector<uint32_t> before = snapshot(f.out());
    const int64_t live = f.liveBlocks();
    {
        // The working raster is granted; the library's raster for loading the set is not.
        RefusedAllocation refused(2);
        EXPECT_EQ(f.run(&DustStage<PIXEL_BGRA8>, true, false, 1.0f, 5, 0), 1);
        EXPECT_FALSE(TextureSetLoaded(DustTextures));
    }
    {
        RefusedAllocation refused(2);
        EXPECT_EQ(f.run(&DustStage<PIXEL_BGRA8>, false, true, 1.0f, 0, 5), 1);
    }
    {
        RefusedAllocation refused(2);
        EXPECT_EQ(f.run(&SplotchesStage<PIXEL_BGRA8>, 3, 0.75f, 1.0f), 1);
        EXPECT_FALSE(TextureSetLoaded(SplotchTextures));
    }
    EXPECT_EQ(snapshot(f.out()), before);
    EXPECT_EQ(f.liveBlocks(), live);
    EXPECT_EQ(f.run(&DustStage<PIXEL_BGRA8>, true, false, 1.0f, 5, 0), 0) << "the next frame loads the set";
}

// The funk raster is rebuilt only when the output's depth kind changes; a refused raster is 4.
TEST(FunkRaster, RebuiltOnceWhenTheDepthKindChanges) {
    AcfPtr<HostComponent> host{new HostComponent};
    const auto setup = [&](PixelLayout layout) { return std::make_unique<FrameSetup>(host.get(), ImageSpec{64, 32, layout, 12}); };
    auto bgra8 = setup(PixelLayout::BGRA8), bgra16 = setup(PixelLayout::BGRA16), argb16 = setup(PixelLayout::ARGB16);
    InstanceData data;
    ASSERT_EQ(createInstanceData(*bgra8->services, data), 0);
    for (FrameSetup* s : {bgra8.get(), bgra16.get(), argb16.get()}) s->services->setInstanceData(&data);
    ASSERT_NE(LoadFunkTexture(*bgra8->services, 1), nullptr);  // the texture block is the process's, loaded once
    MemoryService& memory = host->memory();
    const int64_t live = memory.liveBlocks();

    // Rasters the host made for the call, and the call's status.
    const auto prepare = [&](auto tag, FrameSetup& s) {
        RasterHolder out(s.services->outputRaster(), s.services.get(), false, true);
        const int64_t made = memory.totalAllocations();
        const Status status = PrepareFunkRaster<decltype(tag)>(*s.services, out);
        EXPECT_EQ(status, 0);
        return memory.totalAllocations() - made;
    };
    {
        RasterHolder out(bgra8->services->outputRaster(), bgra8->services.get(), false, true);
        RefusedAllocation refused(1);
        EXPECT_EQ(PrepareFunkRaster<PIXEL_BGRA8>(*bgra8->services, out), STATUS_NO_RASTER);
    }
    EXPECT_EQ(prepare(PIXEL_BGRA8{}, *bgra8), 1);
    EXPECT_EQ(prepare(PIXEL_BGRA8{}, *bgra8), 0);
    EXPECT_EQ(data.global->funkRaster->depthKind(), DEPTH_8BIT);
    EXPECT_EQ(prepare(PIXEL_BGRA14{}, *bgra16), 1);
    EXPECT_EQ(memory.liveBlocks(), live + 1) << "the 8-bit raster went back";
    EXPECT_EQ(data.global->funkRaster->depthKind(), DEPTH_16BIT);
    EXPECT_EQ(prepare(PIXEL_BGRA14{}, *bgra16), 0);
    EXPECT_EQ(prepare(PIXEL_ARGB14{}, *argb16), 0) << "the other channel order keeps the raster";
    EXPECT_EQ(prepare(PIXEL_BGRA8{}, *bgra8), 1);
    EXPECT_EQ(memory.liveBlocks(), live + 1);
    destroyInstanceData(*bgra8->services, data);
}

// The corner draw and the clipping, worked by hand.
TEST(TexturePlacement, CornersInSinglePrecisionAndClippingAtTheEdges) {
    // r (W + w) narrowed to float before -w and the half: 24229 x 1940 / 32767 = 1434.49995...
    // narrows to 1434.5, giving 1415 where double gives 1414.
    EXPECT_EQ(PlacementCorner(24229 / 32767.0, 1920, 20), 1415.0f);
    // 1097.499923... narrows to 1097.49988: 1077 (a float product of the narrowed r gives 1078).
    EXPECT_EQ(PlacementCorner(18537 / 32767.0, 1920, 20), 1077.0f);
    // 2220.499893... narrows to 2220.5: 2197, where double and a float product give 2196.
    EXPECT_EQ(PlacementCorner(18830 / 32767.0, 3840, 24), 2197.0f);
    EXPECT_EQ(PlacementCorner(0.0, 1920, 20), -20.0f);
    EXPECT_EQ(PlacementCorner(1.0, 1920, 20), 1920.0f);

    // A 20 x 20 speck at x = -10 on a 100 x 50 frame: its columns 10..19 on columns 0..9.
    Placement p = ClipPlacement(-10.0f, 5.0f, 20, 20, 100, 50);
    EXPECT_EQ(sides(p.source), (std::array{0, 10, 20, 20}));
    EXPECT_EQ(sides(p.destination), (std::array{5, 0, 25, 10}));
    // Fractions go toward zero on both sides.
    p = ClipPlacement(-10.75f, 3.9f, 20, 20, 100, 50);
    EXPECT_EQ(sides(p.source), (std::array{0, 10, 20, 20}));
    EXPECT_EQ(sides(p.destination), (std::array{3, 0, 23, 10}));
    p = ClipPlacement(4.0f, -7.5f, 20, 20, 100, 50);
    EXPECT_EQ(sides(p.source), (std::array{7, 0, 20, 20}));
    EXPECT_EQ(sides(p.destination), (std::array{0, 4, 13, 24}));
    // Past the right and bottom edges: 90 + 20 = 110 is cut to 100 and the source loses 10.
    p = ClipPlacement(90.0f, 40.0f, 20, 20, 100, 50);
    EXPECT_EQ(sides(p.source), (std::array{0, 0, 10, 10}));
    EXPECT_EQ(sides(p.destination), (std::array{40, 90, 50, 100}));
    // Reaching the edge exactly loses nothing.
    p = ClipPlacement(80.0f, 30.0f, 20, 20, 100, 50);
    EXPECT_EQ(sides(p.source), (std::array{0, 0, 20, 20}));
    EXPECT_EQ(sides(p.destination), (std::array{30, 80, 50, 100}));

    // Composited, the speck at x = -10 shows its right half at the left edge and nothing else.
    AcfPtr<Image> speck(new Image(ImageSpec{20, 20, PixelLayout::BGRA8, 12}));
    for (uint32_t y = 0; y < 20; ++y)
        for (uint32_t x = 0; x < 20; ++x)
            for (int c = 0; c < 4; ++c) speck->setChannel(x, y, c, c == 0 ? 255 : (x < 10 ? 200 : 60));
    AcfPtr<Image> frame(new Image(ImageSpec{100, 50, PixelLayout::BGRA8, 12}));
    frame->fill(255, 0, 0, 0);
    p = ClipPlacement(-10.0f, 5.0f, 20, 20, 100, 50);
    ASSERT_EQ(CompositeRect<PIXEL_BGRA8>(nullptr, BLEND_NORMAL, descOf(*speck.get()), descOf(*frame.get()), p.source,
                                         p.destination, 1.0),
              0);
    for (uint32_t y = 0; y < 50; ++y)
        for (uint32_t x = 0; x < 100; ++x)
            ASSERT_EQ(frame->channel(x, y, 1), (x < 10 && y >= 5 && y < 25) ? 60u : 0u) << x << "," << y;
}

// Dust specks at the ends of the scale draw, measured by what the host lends for them: 3 to 24
// pixels at half the horizontal render scale, 6 to 48 at full; the vertical scale plays no part.
TEST(DustSpecks, HalfAsLargeAtHalfTheRenderScale) {
    const int32_t largest = frameWhoseDraw(3, 32767), smallest = frameWhoseDraw(3, 0);
    struct Case {
        int32_t frame, numerator, denominator, side;
    };
    const auto measure = [&](auto tag) {
        using Tag = decltype(tag);
        for (const Case& c : {Case{largest, 1, 1, 48}, Case{largest, 1, 2, 24}, Case{smallest, 1, 1, 6},
                              Case{smallest, 1, 2, 3}, Case{smallest, 2, 4, 3}}) {
            SCOPED_TRACE(::testing::Message() << "frame " << c.frame << " at " << c.numerator << "/" << c.denominator);
            StageFrame f(kLayout<Tag>, 64, 48);
            setScale(f, {c.numerator, c.denominator, 3, 1});
            ASSERT_NE(LoadDustTexture(*f.setup.services, 1), nullptr);
            f.setup.services->mFrameNumber = c.frame;
            MemoryService& memory = f.host->memory();
            const int64_t live = memory.liveBytes(), pixel = Tag::bytesPerPixel;
            ASSERT_LE(memory.peakBytes(), live + 32 * 32 * pixel);
            ASSERT_EQ(f.run(&DustStage<Tag>, false, true, 1.0f, 0, 1), 0);
            // The 32 x 32 working raster and the speck's raster are held together.
            EXPECT_EQ(memory.peakBytes() - live - 32 * 32 * pixel, c.side * c.side * pixel);
        }
    };
    measure(PIXEL_BGRA8{});
    measure(PIXEL_ARGB14{});
}

template <class Tag>
class Damage : public ::testing::Test {};
TYPED_TEST_SUITE(Damage, AllFormats);

TYPED_TEST(Damage, FunkLayerIsTheGrimeTextureInTheFormatsChannels) {
    using Tag = TypeParam;
    using F = typename Tag::FORMAT;
    StageFrame f(kLayout<Tag>, 16, 8);
    ASSERT_EQ(PrepareFunkRaster<Tag>(*f.setup.services, f.output), 0);
    const uint8_t* texel = LoadFunkTexture(*f.setup.services, 1);
    ASSERT_NE(texel, nullptr);
    RasterDesc funk;
    f.setup.services->describeRaster(f.data.global->funkRaster, &funk);
    ASSERT_EQ(funk.width, 2048);
    ASSERT_EQ(funk.height, 2048);
    for (int32_t y = 0; y < 2048; ++y) {
        const typename Tag::Channel* p = rowOf<Tag>(funk, y);
        for (int32_t x = 0; x < 2048; ++x, p += 4, texel += 4) {
            const auto want = textureMember<Tag>(texel[0]);
            ASSERT_TRUE(p[F::A] == want[0] && p[F::R] == want[1] && p[F::G] == want[2] && p[F::B] == want[3])
                << "at " << x << "," << y << " grey " << int(texel[0]) << ": A R G B " << p[F::A] << " " << p[F::R] << " "
                << p[F::G] << " " << p[F::B];
        }
    }
}

// The window: x0 = round(u1 (2048 - W)), y0 = round(u2 (2048 - H)), each one step back unless
// at 0. Frame 1 draws 41 and 18467: on 200 x 120 the corner is (1, 1086); on 1448 x 2 x0 = 1
// steps back to 0; 2048 wide stays at 0. One instance renders n, -n and n again.
TYPED_TEST(Damage, FunkWindowFollowsTheFrameNumber) {
    using Tag = TypeParam;
    const auto corner = [](int32_t frame, int32_t width, int32_t height) {
        Draws d = reseeded(frame);
        const auto start = [&](int32_t extent) {
            const int32_t s = int32_t(std::floor(d.unit() * (2048 - extent) + 0.5));
            return int16_t(s >= 1 ? s - 1 : s);
        };
        const int16_t left = start(width);
        return std::array<int16_t, 2>{left, start(height)};
    };
    EXPECT_EQ(corner(1, 200, 120), (std::array<int16_t, 2>{1, 1086}));
    EXPECT_EQ(corner(1, 1448, 2), (std::array<int16_t, 2>{0, 1152}));
    EXPECT_EQ(corner(1, 2048, 3), (std::array<int16_t, 2>{0, 1152}));
    struct Case {
        uint32_t width, height;
        double opacity;
        std::vector<int32_t> frames;
    };
    for (const Case& c : {Case{200, 120, 0.6, {1, -1}}, Case{1448, 2, 0.6, {1}}, Case{2048, 3, 0.6, {1}},
                          Case{120, 90, 0.25, {0, 77, 123457, -123457, 123457}}}) {
        StageFrame f(kLayout<Tag>, c.width, c.height);
        ASSERT_EQ(PrepareFunkRaster<Tag>(*f.setup.services, f.output), 0);
        RasterDesc funk;
        f.setup.services->describeRaster(f.data.global->funkRaster, &funk);
        const int16_t w = int16_t(c.width), h = int16_t(c.height);
        for (int32_t frame : c.frames) {
            SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << ", frame " << frame);
            const auto [left, top] = corner(frame, w, h);
            f.start();
            AcfPtr<Image> expected = copyOf(f.out());
            ASSERT_EQ(CompositeRect<Tag>(nullptr, BLEND_OVERLAY, funk, descOf(*expected.get()),
                                         Rect16{top, left, int16_t(top + h), int16_t(left + w)}, Rect16{0, 0, h, w}, c.opacity),
                      0);
            f.setup.services->mFrameNumber = frame;
            EXPECT_EQ(f.run(&FunkStage<Tag>, f.data.global->funkRaster, float(c.opacity)), 0);
            EXPECT_EQ(snapshot(f.out()), snapshot(*expected.get()));
            EXPECT_NE(snapshot(f.out()), snapshot(f.in()));
        }
    }
}

// Every speck where its frame's draws put it, one instance rendering frames in turn (one twice,
// the first again as its negative). Frame 1's first dark speck on 90 x 60: texture 1, 225
// degrees, 0.4513 of its size (14 pixels), corner (70, 29).
TYPED_TEST(Damage, DustSpecksWhereTheFramesDrawsPutThem) {
    using Tag = TypeParam;
    {
        Draws one = reseeded(1);
        const Throw t = speckThrow(one, 90, 60, 1.0);
        EXPECT_EQ(t.member, 1);
        EXPECT_EQ(t.angle, 225.0f);
        EXPECT_EQ(t.width, 14);
        EXPECT_EQ(t.x, 70.0f);
        EXPECT_EQ(t.y, 29.0f);
    }
    bool drew = false;
    for (const auto& scale : {std::array{1, 1, 1, 1}, std::array{1, 2, 3, 1}}) {
        StageFrame f(kLayout<Tag>, 90, 60);
        setScale(f, scale);
        PluginHost_API& host = *f.setup.services;
        for (int32_t frame : {1, -4711, -4711, 250000, 9, -1}) {
            SCOPED_TRACE(::testing::Message() << "frame " << frame << ", horizontal scale 1/" << scale[1]);
            f.start();
            AcfPtr<Image> expected = copyOf(f.out());
            Draws d = reseeded(frame);
            for (bool dark : {true, false})
                for (int i = 0; i < (dark ? 3 : 2); ++i) {
                    const Throw t = speckThrow(d, 90, 60, double(scale[0]) / scale[1]);
                    drawThrow<Tag>(host, *expected.get(), LoadDustTexture(host, t.member), 32, dark, t,
                                   dark ? BLEND_MULTIPLY : BLEND_ADD, 0.7f);
                }
            f.setup.services->mFrameNumber = frame;
            EXPECT_EQ(f.run(&DustStage<Tag>, true, true, 0.7f, 3, 2), 0);
            EXPECT_EQ(snapshot(f.out()), snapshot(*expected.get()));
            drew = drew || snapshot(f.out()) != snapshot(f.in());
            expectInRange(f.out());
        }
    }
    EXPECT_TRUE(drew);
}

// Every splotch where its frame's draws put it, sized by both render scales.
TYPED_TEST(Damage, SplotchesWhereTheFramesDrawsPutThem) {
    using Tag = TypeParam;
    bool drew = false;
    for (const auto& scale : {std::array{1, 1, 1, 1}, std::array{1, 2, 3, 4}}) {
        StageFrame f(kLayout<Tag>, 160, 100);
        setScale(f, scale);
        PluginHost_API& host = *f.setup.services;
        for (int32_t frame : {1, 1, -812, 4242, -1}) {
            SCOPED_TRACE(::testing::Message() << "frame " << frame << ", scale terms " << scale[1] << " " << scale[3]);
            f.start();
            AcfPtr<Image> expected = copyOf(f.out());
            Draws d = reseeded(frame);
            for (int i = 0; i < 3; ++i) {
                const Throw t = splotchThrow(d, 160, 100, 0.3f, double(scale[0]) / scale[1], double(scale[2]) / scale[3]);
                drawThrow<Tag>(host, *expected.get(), LoadSplotchTexture(host, t.member), 400, false, t, BLEND_MULTIPLY, 0.6f);
            }
            f.setup.services->mFrameNumber = frame;
            EXPECT_EQ(f.run(&SplotchesStage<Tag>, 3, 0.3f, 0.6f), 0);
            EXPECT_EQ(snapshot(f.out()), snapshot(*expected.get()));
            drew = drew || snapshot(f.out()) != snapshot(f.in());
        }
    }
    EXPECT_TRUE(drew);
}

// Counts of zero draw nothing and succeed, but each pass still takes its working raster. A
// raster refused gives 1; the dust stage answers with its last pass.
TYPED_TEST(Damage, CountsOfZeroAndRefusedRasters) {
    using Tag = TypeParam;
    StageFrame f(kLayout<Tag>, 48, 32);
    PluginHost_API& host = *f.setup.services;
    ASSERT_NE(LoadDustTexture(host, 1), nullptr);
    ASSERT_NE(LoadSplotchTexture(host, 1), nullptr);
    f.setup.services->mFrameNumber = 9;
    const std::vector<uint32_t> before = snapshot(f.out());
    const int64_t live = f.liveBlocks();
    const auto dust = [&](bool black, bool white, int32_t dark, int32_t light) {
        return f.run(&DustStage<Tag>, black, white, 0.8f, dark, light);
    };
    const auto splotches = [&](int32_t number) { return f.run(&SplotchesStage<Tag>, number, 0.3f, 0.8f); };
    EXPECT_EQ(dust(true, false, 0, 7), 0);
    EXPECT_EQ(dust(false, true, 7, 0), 0);
    EXPECT_EQ(dust(true, true, 0, 0), 0);
    EXPECT_EQ(splotches(0), 0);
    EXPECT_EQ(splotches(-5), 0);
    EXPECT_EQ(snapshot(f.out()), before) << "nothing drawn";

    // A pass takes its working raster, then one raster per speck; splotches likewise.
    struct Case {
        int nth;
        bool black, white;
        int32_t dark, light, status;
    };
    for (const Case& c : {Case{1, true, false, 0, 0, 1}, Case{1, false, true, 0, 0, 1}, Case{1, true, false, 2, 0, 1},
                          Case{3, true, false, 2, 0, 1}, Case{1, true, true, 2, 2, 0}, Case{2, true, true, 2, 2, 0},
                          Case{4, true, true, 2, 2, 1}, Case{5, true, true, 2, 2, 1}, Case{6, true, true, 2, 2, 1}}) {
        SCOPED_TRACE(::testing::Message() << "allocation " << c.nth << " refused, " << c.dark << " dark, " << c.light << " light");
        {
            RefusedAllocation refused(c.nth);
            EXPECT_EQ(dust(c.black, c.white, c.dark, c.light), c.status);
        }
        EXPECT_EQ(f.liveBlocks(), live);
        f.start();
    }
    for (const auto& [nth, number] : {std::pair{1, 0}, std::pair{1, 2}, std::pair{2, 2}, std::pair{3, 2}}) {
        SCOPED_TRACE(::testing::Message() << "splotches: allocation " << nth << " refused, " << number << " splotches");
        {
            RefusedAllocation refused(nth);
            EXPECT_EQ(splotches(number), 1);
        }
        EXPECT_EQ(f.liveBlocks(), live);
        f.start();
    }
}
