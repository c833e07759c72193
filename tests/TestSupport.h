// Shared set-up for in-process tests: a reference host with the effect's parameters
// registered, a render call's objects around host images, and a fixture that checks the
// effect gave everything back.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "host/acf/CACFUnknown.h"
#include "host/avx2/ParamLayout.h"
#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "host/avx2/Plugin_AVX2_Effect.h"
#include "lib/Common/InstanceData.h"
#include "params/ParameterSet.h"
#include "platform/platform.h"
#include "refhost/Contexts.h"
#include "refhost/Definitions.h"
#include "refhost/Images.h"
#include "refhost/Module.h"
#include "refhost/RefHost.h"
#include "sdk/sdk_ids.h"

namespace testing_support {

// A host whose effect definition holds the full parameter list.
struct RegisteredEffect {
    AcfPtr<refhost::HostComponent> host{new refhost::HostComponent};
    AcfPtr<refhost::EffectDefinition> effect{new refhost::EffectDefinition};

    RegisteredEffect() {
        PluginHost_AVX2_Impl services(host.get());
        setupDefinitionContext(services.definitionContext(), host.get(), effect.get(), &hostParamLayout(), kParameterSlotCount);
        defineParameters(services);
    }
    std::shared_ptr<refhost::ParameterValues> defaults() const {
        return refhost::ParameterValues::fromDefinition(*effect.get());
    }
};

// Host services around one input and one output image, as a render call would set them up.
struct FrameSetup {
    AcfPtr<refhost::Image> input;
    AcfPtr<refhost::Image> output;
    AcfPtr<refhost::InputService> inputService;
    AcfPtr<refhost::EffectContext> effectContext;
    std::unique_ptr<PluginHost_AVX2_Impl> services;

    FrameSetup(IACFUnknown* host, const refhost::ImageSpec& shape, std::shared_ptr<refhost::ParameterValues> values = {})
        : input(new refhost::Image(shape)), output(new refhost::Image(shape)) {
        inputService.reset(new refhost::InputService(input.get()));
        effectContext.reset(new refhost::EffectContext(std::move(values), inputService.get()));
        services = std::make_unique<PluginHost_AVX2_Impl>(host);
        services->effectContext = effectContext.get();
        services->inputImage = input.get();
        services->outputImage = output.get();
        services->mWidth = shape.width;
        services->mHeight = shape.height;
        services->definitionContext().valueSource = effectContext.get();
    }
};

// The host's objects for one call of the effect's render entry around two images.
struct RenderCallObjects {
    AcfPtr<refhost::InputService> input;
    AcfPtr<refhost::EffectContext> context;
    AcfPtr<refhost::FrameContext> frame;
    AcfPtr<refhost::RenderContext> render;
    AcfPtr<refhost::ImageSource> output;

    RenderCallObjects(std::shared_ptr<refhost::ParameterValues> values, refhost::Image* in, refhost::Image* out,
                      const refhost::RenderCall& call)
        : input(new refhost::InputService(in)),
          context(new refhost::EffectContext(std::move(values), input.get())),
          frame(new refhost::FrameContext(call.frame)),
          render(new refhost::RenderContext(call.renderValue, call.time)),
          output(new refhost::ImageSource(out)) {
        for (int i = 0; i < 4; ++i) context->scaleTerms[i] = call.scale[i];
    }
    ACFRESULT process(IAVXEffect* effect) {
        return effect->ProcessFrame(context.get(), nullptr, nullptr, frame.get(), nullptr, render.get(), output.get());
    }
};

// A test of the effect's own code in-process. Afterwards no component of the effect is alive,
// none of the host's memory stays taken, and the shared data is given back.
class InProcessEffect : public ::testing::Test {
protected:
    RegisteredEffect reg;
    void SetUp() override { platform::processLockCreate(); }
    void TearDown() override {
        EXPECT_EQ(CACFUnknown::liveObjects(), 0);
        EXPECT_EQ(reg.host->memory().liveBlocks(), 0);
        releaseIdleGlobalData();
        platform::processLockDelete();
    }
    ACFRESULT makeEffect(AcfPtr<IAVXEffect>& effect) {
        return Plugin_AVX2_Effect::create(reg.host.get(), nullptr, IID_IAVXEffect, effect.outVoid());
    }
};

inline bool isSixteenBit(refhost::PixelLayout layout) {
    return layout == refhost::PixelLayout::ARGB16 || layout == refhost::PixelLayout::BGRA16;
}

inline const refhost::PixelLayout kAllLayouts[] = {refhost::PixelLayout::ARGB8, refhost::PixelLayout::BGRA8,
                                                   refhost::PixelLayout::ARGB16, refhost::PixelLayout::BGRA16};

}  // namespace testing_support
