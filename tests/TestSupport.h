// Shared set-up for in-process tests: a reference host with the effect's parameters
// registered, and a render call's objects around host images.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "params/ParameterSet.h"
#include "refhost/Contexts.h"
#include "refhost/Definitions.h"
#include "refhost/Images.h"
#include "refhost/RefHost.h"

namespace testing_support {

// A host whose effect definition holds the full parameter list.
struct RegisteredEffect {
    AcfPtr<refhost::HostComponent> host{new refhost::HostComponent};
    AcfPtr<refhost::EffectDefinition> effect{new refhost::EffectDefinition};

    RegisteredEffect() {
        PluginHost_AVX2_Impl services(host.get());
        setupDefinitionContext(services.definitionContext(), host.get(), effect.get(), kParameterSlotCount);
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

inline const refhost::PixelLayout kAllLayouts[] = {refhost::PixelLayout::ARGB8, refhost::PixelLayout::BGRA8,
                                                   refhost::PixelLayout::ARGB16, refhost::PixelLayout::BGRA16};

}  // namespace testing_support
