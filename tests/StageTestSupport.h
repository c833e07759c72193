// Shared set-up for the stage tests: a stage called in-process as the driver calls it, on any
// of the four formats with padded rows, guard bytes and the instance's data; the chain through
// the driver; a refused allocation; the same picture in 8 and 16 bits.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/PixelFormats.h"
#include "pipeline/Pipeline.h"
#include "refhost/Faults.h"
#include "refhost/Module.h"

namespace stage_support {

using namespace refhost;
using namespace testing_support;

using AllFormats = ::testing::Types<PIXEL_ARGB8, PIXEL_BGRA8, PIXEL_ARGB14, PIXEL_BGRA14>;

template <class Tag>
constexpr PixelLayout kLayout = kIs16Bit<Tag> ? (Tag::FORMAT::A == 0 ? PixelLayout::ARGB16 : PixelLayout::BGRA16)
                                              : (Tag::FORMAT::A == 0 ? PixelLayout::ARGB8 : PixelLayout::BGRA8);

// The thread's generator (the C runtime's) moved on `draws` times from `state`.
inline uint32_t advance(uint32_t state, int draws) {
    while (draws-- > 0) state = state * 214013u + 2531011u;
    return state;
}

// The same generator followed from a known state: a draw is bits 16..30 of the next state.
struct Draws {
    uint32_t state;
    int32_t next() {
        state = state * 214013u + 2531011u;
        return int32_t(state >> 16 & 0x7FFFu);
    }
    double unit() { return next() / 32767.0; }
};

// `state` moved back `draws` times: a step undone is (state - 2531011) / 214013 mod 2^32.
inline uint32_t retreat(uint32_t state, int draws) {
    uint32_t inverse = 214013u;  // Newton's step doubles the bits of the inverse that are right
    for (int i = 0; i < 5; ++i) inverse *= 2u - 214013u * inverse;
    while (draws-- > 0) state = (state - 2531011u) * inverse;
    return state;
}

// A state from which that generator's next draws are `first`, then `second` when given: the
// later state's 17 free bits are searched for one whose predecessor draws `first`.
inline uint32_t stateBefore(uint32_t first, int32_t second = -1) {
    if (second < 0) return retreat(first << 16, 1);
    for (uint32_t free = 0; free < (1u << 17); ++free) {
        const uint32_t earlier = retreat((free >> 16) << 31 | uint32_t(second) << 16 | (free & 0xFFFFu), 1);
        if ((earlier >> 16 & 0x7FFFu) == first) return retreat(earlier, 1);
    }
    ADD_FAILURE() << "no state draws " << first << " then " << second;
    return 0;
}

inline RasterDesc descOf(Image& im) {
    return RasterDesc{im.pixels(), 0, int32_t(im.shape().width), int32_t(im.shape().height), im.rowBytes(),
                      uint32_t(im.bytesPerPixel())};
}

// Every sample, row by row, A R G B per pixel.
inline std::vector<uint32_t> snapshot(const Image& im) {
    std::vector<uint32_t> v;
    for (uint32_t y = 0; y < im.shape().height; ++y)
        for (uint32_t x = 0; x < im.shape().width; ++x)
            for (int c = 0; c < 4; ++c) v.push_back(im.channel(x, y, c));
    return v;
}

inline AcfPtr<Image> copyOf(const Image& from) {
    AcfPtr<Image> to(new Image(from.shape()));
    for (uint32_t y = 0; y < from.shape().height; ++y)
        for (uint32_t x = 0; x < from.shape().width; ++x)
            for (int c = 0; c < 4; ++c) to->setChannel(x, y, c, from.channel(x, y, c));
    return to;
}

// A texture member's grey g as each format holds it once copied, A R G B: 16-bit widens g to
// (g << 6) | (g >> 2) with G 16383; BGRA8 alpha and ARGB8 blue are 255.
template <class Tag>
std::array<uint32_t, 4> textureMember(uint8_t grey) {
    const uint32_t g = fromByte<Tag>(grey);
    return {std::is_same_v<Tag, PIXEL_BGRA8> ? 255u : g, g, kIs16Bit<Tag> ? 16383u : g,
            std::is_same_v<Tag, PIXEL_ARGB8> ? 255u : g};
}

inline void makeOpaque(Image& im) {
    for (uint32_t y = 0; y < im.shape().height; ++y)
        for (uint32_t x = 0; x < im.shape().width; ++x) im.setChannel(x, y, 0, im.white());
}

// No sample past white, guards and padding intact.
inline void expectInRange(const Image& im) {
    for (uint32_t v : snapshot(im)) ASSERT_LE(v, im.white());
    EXPECT_TRUE(im.guardsIntact());
}

// The host refuses its `nth` allocation (and, with `all`, every later one) while this lives.
struct RefusedAllocation {
    explicit RefusedAllocation(int nth, bool all = false) {
        faults().reset();
        faults().failAllocationAt = nth;
        faults().failAllAllocationsAfter = all;
    }
    ~RefusedAllocation() { faults().reset(); }
};

// One frame as the driver hands it to a stage: the input random from `seed` and already
// copied into the output, the instance's data in place unless `withInstance` is false.
struct StageFrame {
    AcfPtr<HostComponent> host{new HostComponent};
    FrameSetup setup;
    InstanceData data;
    RasterHolder input, output;

    StageFrame(PixelLayout layout, uint32_t w, uint32_t h, uint32_t seed = 1, bool withInstance = true)
        : setup(host.get(), ImageSpec{w, h, layout, 12}),
          input(setup.services->inputRaster(0), setup.services.get(), false, true),
          output(setup.services->outputRaster(), setup.services.get(), false, true) {
        if (withInstance && createInstanceData(*setup.services, data) == 0) setup.services->setInstanceData(&data);
        in().fillRandom(seed);
        start();
    }
    ~StageFrame() {
        if (data.block) destroyInstanceData(*setup.services, data);
    }
    Image& in() { return *setup.input.get(); }
    Image& out() { return *setup.output.get(); }
    int64_t liveBlocks() const { return host->memory().liveBlocks(); }
    void start() { setup.services->copyInputToOutput(); }
    // The stage with its settings, called as the driver calls it.
    template <class... Settings, class... Args>
    Status run(Status (*stage)(const ::FrameContext&, PluginHost_API&, RasterHolder&, RasterHolder&, Settings...),
               Args... settings) {
        return stage(::FrameContext{}, *setup.services, input, output, Settings(settings)...);
    }
};

// A stage's failure path: its `nth` allocation refused, `render` answers 4, the output keeps
// its pixels and none of the host's memory stays taken; granted, it renders and gives all back.
template <class Render>
void expectRefusalLeavesTheFrame(StageFrame& f, int nth, Render render) {
    SCOPED_TRACE(::testing::Message() << "allocation " << nth << " refused");
    const std::vector<uint32_t> before = snapshot(f.out());
    const int64_t live = f.liveBlocks();
    Status refused;
    {
        RefusedAllocation refusal(nth);
        refused = render();
    }
    EXPECT_EQ(refused, STATUS_NO_RASTER);
    EXPECT_EQ(snapshot(f.out()), before);
    EXPECT_TRUE(f.out().guardsIntact());
    EXPECT_EQ(f.liveBlocks(), live);
    EXPECT_EQ(render(), STATUS_OK);
    EXPECT_EQ(f.liveBlocks(), live);
}

// The whole chain through the driver with the parameters at their defaults but `settings`
// (identifiers without their "Plugin_FXid_" prefix); the input random from `seed`.
struct ChainFrame {
    RegisteredEffect reg;
    std::shared_ptr<ParameterValues> values = reg.defaults();
    FrameSetup setup;
    InstanceData data;

    ChainFrame(PixelLayout layout, uint32_t w, uint32_t h, uint32_t seed,
               std::initializer_list<std::pair<const char*, double>> settings)
        : setup(reg.host.get(), ImageSpec{w, h, layout, 12}, values) {
        for (const auto& [name, value] : settings) {
            const acfUID id = HostSession::parameterUID(std::string("Plugin_FXid_") + name);
            EXPECT_TRUE(values->track(id)) << name;
            if (values->track(id)) values->set(id, values->track(id)->type, value);
        }
        EXPECT_EQ(createInstanceData(*setup.services, data), 0);
        setup.services->setInstanceData(&data);
        in().fillRandom(seed);
    }
    ~ChainFrame() { destroyInstanceData(*setup.services, data); }
    Image& in() { return *setup.input.get(); }
    Image& out() { return *setup.output.get(); }
    Status render(int32_t frameNumber = 0) {
        setup.services->mFrameNumber = frameNumber;
        return RenderFrame(*setup.services);
    }
};

// The same picture in 8 and 16 bits: `wide` takes `narrow`'s input with each value v as
// round(v x 16384 / 255), and both start afresh.
inline void sameInputInSixteenBits(StageFrame& narrow, StageFrame& wide) {
    const Image& from = narrow.in();
    for (uint32_t y = 0; y < from.shape().height; ++y)
        for (uint32_t x = 0; x < from.shape().width; ++x)
            for (int c = 0; c < 4; ++c)
                wide.in().setChannel(x, y, c, uint32_t(std::lround(from.channel(x, y, c) * 16384.0 / 255.0)));
    narrow.start();
    wide.start();
}

// Over every sample from channel `first` on: the 8-bit result less the 16-bit one scaled to
// 8 bits and rounded, its lowest and highest value and the mean of its size.
struct DepthGap {
    long low = 0, high = 0;
    double meanSize = 0;
};
inline DepthGap depthGap(const Image& narrow, const Image& wide, int first = 1) {
    DepthGap gap;
    long count = 0;
    for (uint32_t y = 0; y < narrow.shape().height; ++y)
        for (uint32_t x = 0; x < narrow.shape().width; ++x)
            for (int c = first; c < 4; ++c, ++count) {
                const long d = long(narrow.channel(x, y, c)) - std::lround(wide.channel(x, y, c) * 255.0 / 16384.0);
                gap.low = std::min(gap.low, d), gap.high = std::max(gap.high, d);
                gap.meanSize += double(std::labs(d));
            }
    gap.meanSize /= double(count);
    return gap;
}

}  // namespace stage_support
