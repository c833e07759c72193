// The built module against a hostile host, every stage on: each case renders with a defined
// status, leaves the input and guard bytes alone and gives back every byte and object.
#include <algorithm>
#include <cstring>
#include <string>

#include "testing/HostileHost.h"
#include "ModuleSupport.h"
#include "refhost/Faults.h"

using namespace refhost;
using namespace module_support;

namespace {

const PixelLayout kLayouts[] = {PixelLayout::ARGB8, PixelLayout::BGRA8, PixelLayout::ARGB16, PixelLayout::BGRA16};
const ACFRESULT kFailed = int32_t(0x80000777u);

class Hostile : public LoadedModule {
protected:
    // One frame of the given shape, checked for damage; `passedThrough`: output is the input.
    ACFRESULT render(EffectInstance& effect, const ImageSpec& shape, const RenderCall& call, uint32_t seed = 1,
                     bool* passedThrough = nullptr) {
        AcfPtr<Image> input(new Image(shape));
        AcfPtr<Image> output(new Image(shape));
        input->fillRandom(seed);
        const hostile::FrameCopy before(*input.get());
        const ACFRESULT r = effect.render(*input.get(), *output.get(), call);
        EXPECT_EQ(hostile::renderDamage(before, *input.get(), *output.get()), "");
        if (passedThrough) *passedThrough = output->samePixels(*input.get());
        return r;
    }
    // A new instance with every stage on.
    std::unique_ptr<EffectInstance> busyInstance() {
        auto effect = std::make_unique<EffectInstance>(*session);
        EXPECT_EQ(effect->status(), ACF_OK);
        hostile::everyStageOn(*session->effect(), effect->values());
        return effect;
    }
    int64_t liveBlocks() const { return session->host()->memory().liveBlocks(); }
    // From now the host fails its `at`th call, or refuses its `at`th allocation (or every one from there).
    enum Fault { Call, Allocation, AllocationsFrom };
    static void fail(Fault fault, int64_t at) {
        faults().reset();
        if (fault == Call) {
            faults().failCallAt = at;
            faults().failStatus = kFailed;
        } else {
            faults().failAllocationAt = at;
            faults().failAllAllocationsAfter = fault == AllocationsFrom;
        }
    }
};

double attribute(const ParameterDefinition& p, const acfUID& key, double fallback) {
    const Attribute* a = p.attribute(key);
    return a && a->bytes.size() == 8 ? a->as<double>() : fallback;
}

}  // namespace

// Each parameter in turn at every hostile value of its kind and just past its range; no value
// may make the plug-in ask for memory beyond a few frames' worth.
TEST_F(Hostile, EveryParameterBeyondItsRange) {
    for (PixelLayout layout : {PixelLayout::ARGB8, PixelLayout::BGRA16}) {
        SCOPED_TRACE(int(layout));
        auto effect = busyInstance();
        const int64_t block = session->host()->memory().liveBytes();
        const int64_t frameBytes = 11 * 7 * (layout == PixelLayout::ARGB8 ? 4 : 8);
        int32_t frame = 1;
        for (const ParameterDefinition* p : session->effect()->parameters) {
            const double low = attribute(*p, PROP_Minimum, 0), high = attribute(*p, PROP_Maximum, 1);
            std::vector<double> values = hostile::valuesFor(p->dataType);
            values.insert(values.end(), {low - 1, high + 1, high * 10, high * 1000, -high * 1000});
            for (double v : values) {
                v = hostile::heldToTestTime(p->id, v);
                effect->values().set(p->id, p->dataType, v);
                ASSERT_EQ(render(*effect, imageSpec(layout, 11, 7, 8), RenderCall{frame, double(frame)}, frame), ACF_OK)
                    << toUtf8(p->label) << " = " << v;
                ++frame;
            }
            const bool checkbox = p->dataType == TYPE_Boolean;
            effect->values().set(p->id, p->dataType, checkbox ? 1.0 : attribute(*p, PROP_Default, 0));
        }
        // Frame-sized rasters and tables, the 2048 x 2048 funk and texture rasters, a splotch
        // just past its scale range: nothing that grows with any other value.
        const int64_t pixelBytes = layout == PixelLayout::ARGB8 ? 4 : 8;
        const int64_t funk = 2048 * 2048 * pixelBytes, splotch = 2400 * 2400 * pixelBytes;
        const int64_t bound = 4 * frameBytes + (int64_t(1) << 20) + 2 * funk + splotch;
        EXPECT_LE(session->host()->memory().peakBytes() - block, bound);
        EXPECT_LE(int64_t(session->host()->memory().largestRequest()), std::max({block, splotch, funk}));
    }
}

// Every parameter hostile at once, the same way.
TEST_F(Hostile, EveryParameterHostileAtOnce) {
    for (PixelLayout layout : kLayouts) {
        auto effect = busyInstance();
        for (size_t i = 0; i < hostile::floatValues().size(); ++i) {
            for (const ParameterDefinition* p : session->effect()->parameters) {
                const auto& values = hostile::valuesFor(p->dataType);
                if (p->dataType != TYPE_Boolean)
                    effect->values().set(p->id, p->dataType, hostile::heldToTestTime(p->id, values[i % values.size()]));
            }
            ASSERT_EQ(render(*effect, imageSpec(layout, 9, 13, 4), RenderCall{int32_t(i), double(i)}), ACF_OK)
                << "layout " << int(layout) << ", value set " << i;
        }
    }
}

// Frames from empty to wider than a 16-bit rectangle, padded strides, zero, negative and
// extreme render scales, every field layout, NaN aspects, frame numbers at the ends of their
// type, backwards and jumping, with keys that follow the frame number.
TEST_F(Hostile, EveryFrameShapeScaleAndNumber) {
    struct Shape {
        uint32_t width, height;
        int32_t padding;
    } shapes[] = {{0, 0, 0}, {0, 5, 8}, {5, 0, 0}, {1, 1, 0}, {1, 1, 2}, {2, 1, 0}, {1, 2, 6},   {1, 97, 0},
                  {97, 1, 0}, {3, 5, 2}, {7, 3, 14}, {33, 65, 0}, {64, 64, 0}, {129, 31, 62}, {40000, 1, 0}, {1, 40000, 4}};
    const int32_t terms[] = {1, 0, -1, 2, INT32_MIN, INT32_MAX, 1000000};
    const uint32_t fieldLayouts[] = {0, 2, 7, UINT32_MAX};
    const float aspects[] = {1.0f, 0.0f, -1.0f, float(hostile::kNaN), float(hostile::kInf), 1e30f};
    const int32_t frames[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, -1, 0, 0, 0, 7, 6, 5, 1000000, -1000000,
                              INT32_MAX, INT32_MAX - 1, INT32_MIN, 1, INT32_MIN};
    for (PixelLayout layout : kLayouts) {
        SCOPED_TRACE(::testing::Message() << "layout " << int(layout));
        auto effect = busyInstance();
        int32_t frame = 0;
        for (const Shape& s : shapes) {
            ASSERT_EQ(render(*effect, imageSpec(layout, s.width, s.height, s.padding), RenderCall{frame, double(frame)}),
                      ACF_OK)
                << s.width << "x" << s.height << " + " << s.padding;
            ++frame;
        }
        frame = 0;
        for (int32_t numerator : terms)
            for (int32_t denominator : terms) {
                ImageSpec shape = imageSpec(layout, 12, 10, 8);
                shape.fieldLayout = fieldLayouts[size_t(frame) % 4];
                shape.pixelAspect = aspects[size_t(frame) % 6];
                const RenderCall call{frame, double(frame), 0, {numerator, denominator, denominator, numerator}};
                ASSERT_EQ(render(*effect, shape, call), ACF_OK) << numerator << "/" << denominator;
                ++frame;
            }
        effect->setKeys("Plugin_FXid_ContrastAmount", {{double(INT32_MIN), -100.0}, {double(INT32_MAX), 100.0}});
        for (int32_t number : frames)
            ASSERT_EQ(render(*effect, imageSpec(layout, 16, 9), RenderCall{number, double(number)}), ACF_OK) << number;
    }
}

// Each host call of a frame fails in turn, or one allocation or every one from a point is
// refused: a call failing before the stages gives the host its own status, inside a stage the
// frame passes through with success; a refused raster ends the frame inside. Nothing is kept.
TEST_F(Hostile, FailingHostCallsAndRefusedMemoryWithEveryStageOn) {
    const struct {
        uint32_t width, height;
        int32_t frame;
    } frames[] = {{23, 11, 3}, {19, 14, 5}};
    for (Fault fault : {Call, Allocation, AllocationsFrom})
        for (PixelLayout layout : kLayouts)
            for (const auto& f : frames) {
                SCOPED_TRACE(::testing::Message() << "fault " << int(fault) << ", layout " << int(layout) << ", "
                                                  << f.width << "x" << f.height);
                auto effect = busyInstance();
                const ImageSpec shape = imageSpec(layout, f.width, f.height);
                const RenderCall call{f.frame, double(f.frame)};
                // The calls before the first stage: all that a frame with every stage off makes.
                int64_t setUp = 0;
                if (fault == Call) {
                    EffectInstance idle(*session);
                    faults().reset();
                    ASSERT_EQ(render(idle, shape, call), ACF_OK);
                    setUp = faults().calls.load();
                }
                faults().reset();
                ASSERT_EQ(render(*effect, shape, call), ACF_OK);
                // The funk raster made by that frame is shared data and stays.
                const int64_t blocks = liveBlocks();
                const int64_t count = fault == Call ? faults().calls.load() : faults().allocations.load() + 1;
                ASSERT_GT(count, setUp);
                for (int64_t at = 1; at <= count; ++at) {
                    fail(fault, at);
                    bool passedThrough = false;
                    const ACFRESULT r = render(*effect, shape, call, 1, &passedThrough);
                    // Scratches live on in the instance, so a later frame may end before this call.
                    const bool failed = faults().calls.load() >= at;
                    faults().reset();
                    if (fault != Call) {
                        EXPECT_EQ(r, ACF_OK) << "a refused raster ends the frame inside the plug-in; allocation " << at;
                    } else if (at <= setUp) {
                        EXPECT_EQ(r, kFailed) << "call " << at << " of the set-up";
                    } else {
                        EXPECT_EQ(r, ACF_OK) << "call " << at << " inside a stage";
                        EXPECT_TRUE(passedThrough || !failed) << "call " << at << ": the frame passes through";
                    }
                    ASSERT_EQ(liveBlocks(), blocks) << at;
                }
            }
    // Making an instance: its block is the first allocation.
    for (Fault fault : {Allocation, AllocationsFrom}) {
        fail(fault, 1);
        EXPECT_EQ(EffectInstance(*session).status(), ACF_E_OUTOFMEMORY);
        faults().reset();
        EXPECT_EQ(liveBlocks(), 0);
    }
}

// An input unlike the output (size, depth or order): refused, the output left as it was.
TEST_F(Hostile, InputImageUnlikeTheOutput) {
    struct Case {
        PixelLayout inputLayout, outputLayout;
        uint32_t inputWidth, inputHeight, outputWidth, outputHeight;
    } cases[] = {{PixelLayout::BGRA8, PixelLayout::BGRA8, 5, 9, 17, 9},    {PixelLayout::BGRA8, PixelLayout::BGRA8, 17, 3, 17, 9},
                 {PixelLayout::ARGB16, PixelLayout::ARGB16, 17, 9, 5, 4},  {PixelLayout::ARGB8, PixelLayout::ARGB16, 17, 9, 17, 9},
                 {PixelLayout::BGRA16, PixelLayout::BGRA8, 17, 9, 17, 9},  {PixelLayout::ARGB8, PixelLayout::BGRA8, 17, 9, 17, 9},
                 {PixelLayout::BGRA16, PixelLayout::ARGB16, 17, 9, 17, 9}, {PixelLayout::ARGB8, PixelLayout::ARGB8, 0, 0, 17, 9}};
    auto effect = busyInstance();
    for (const Case& c : cases) {
        AcfPtr<Image> input(new Image(imageSpec(c.inputLayout, c.inputWidth, c.inputHeight, 4)));
        AcfPtr<Image> output(new Image(imageSpec(c.outputLayout, c.outputWidth, c.outputHeight, 4)));
        input->fillRandom(9);
        output->fill(1, 2, 3, 4);
        const hostile::FrameCopy before(*input.get());
        EXPECT_EQ(effect->render(*input.get(), *output.get(), RenderCall{2, 2.0}), ACF_E_FAIL) << int(&c - cases);
        EXPECT_EQ(hostile::renderDamage(before, *input.get(), *output.get()), "");
        EXPECT_EQ(output->channel(c.outputWidth - 1, c.outputHeight - 1, 3), 4u) << "output untouched";
    }
    // An input at the output's size and layout renders as ever.
    AcfPtr<Image> input(new Image(imageSpec(PixelLayout::BGRA16, 17, 9, 4)));
    AcfPtr<Image> output(new Image(imageSpec(PixelLayout::BGRA16, 17, 9, 12)));
    EXPECT_EQ(effect->render(*input.get(), *output.get(), RenderCall{2, 2.0}), ACF_OK);
}

// Each host call while an instance is made or destroyed fails in turn: memory must go back to
// the allocator it came from.
TEST_F(Hostile, EveryFailingHostCallWhileAnInstanceIsMadeOrDestroyed) {
    const ImageSpec shape = imageSpec(PixelLayout::BGRA16, 13, 8);
    int64_t made = 0, rendered = 0;
    const auto life = [&] {
        ACFRESULT r;
        {
            EffectInstance effect(*session);
            made = faults().calls.load();
            r = effect.status();
            if (r == ACF_OK) {
                hostile::everyStageOn(*session->effect(), effect.values());
                r = render(effect, shape, RenderCall{4, 4.0});
            }
            rendered = faults().calls.load();
        }
        return r;
    };
    faults().reset();
    ASSERT_EQ(life(), ACF_OK);
    const int64_t madeAt = made, renderedAt = rendered, destroyedAt = faults().calls.load();
    ASSERT_GT(madeAt, 0);
    for (int64_t at = 1; at <= destroyedAt; at = at == madeAt ? renderedAt + 1 : at + 1) {
        fail(Call, at);
        const ACFRESULT r = life();
        faults().reset();
        // Making it, the host's failure is the factory's answer; destroying it has nobody to tell.
        EXPECT_EQ(r, at <= madeAt ? kFailed : ACF_OK) << "call " << at;
        ASSERT_EQ(liveBlocks(), 0) << "call " << at;
    }
}
