// Host SDK, render layer: the objects a host hands to an effect for one frame, and the
// effect interfaces it calls.
#pragma once

#include "acf_base.h"

// Colour spaces reported by an image format.
constexpr int32_t AVX_COLORSPACE_YUV = 1;
constexpr int32_t AVX_COLORSPACE_RGB = 2;
// Channel orders reported by an image format's order query.
constexpr int32_t AVX_ORDER_ARGB = 0;
constexpr int32_t AVX_ORDER_BGRA = 1;
// Component size codes; 3 means 16 bits per component.
constexpr int32_t AVX_COMPONENT_8BIT = 1;
constexpr int32_t AVX_COMPONENT_16BIT = 3;

struct IAVXImageFormat : IACFUnknown {
    virtual ACFRESULT GetColorSpace(int32_t* colorSpace) = 0;
    virtual ACFRESULT GetChannelCount(int32_t* channels) = 0;
    virtual ACFRESULT GetComponentSize(int32_t* sizeCode) = 0;
    // query 3 for RGB images, 4 for others; answers an AVX_ORDER_* value.
    virtual ACFRESULT GetChannelOrder(int32_t query, int32_t* order) = 0;

protected:
    ~IAVXImageFormat() = default;
};

struct IAVXImage : IACFUnknown {
    virtual ACFRESULT GetWidth(uint32_t* width) = 0;
    virtual ACFRESULT GetHeight(uint32_t* height) = 0;
    virtual ACFRESULT GetFieldLayout(uint32_t* layout) = 0;
    virtual ACFRESULT GetFormat(IAVXImageFormat** format) = 0;
    virtual ACFRESULT GetPixels(int32_t fieldStart, void** pixels) = 0;
    virtual ACFRESULT GetRowStride(int32_t* rowBytes) = 0;
    virtual ACFRESULT GetPixelAspect(float* aspect) = 0;

protected:
    ~IAVXImage() = default;
};

// The output object of a render call: gives out its image interface.
struct IAVXImageSource : IACFUnknown {
    virtual ACFRESULT GetImage(int32_t index, const acfUID& classId, const acfUID& iid, void** out) = 0;

protected:
    ~IAVXImageSource() = default;
};

struct IAVXInputService : IACFUnknown {
    virtual ACFRESULT GetInputImage(int32_t frameNumber, uint32_t renderValue, uint32_t fieldLayout,
                                    IAVXImage** image) = 0;

protected:
    ~IAVXInputService() = default;
};

struct IAVXParameterValue : IACFUnknown {
    virtual ACFRESULT GetValueAtTime(double time, const acfUID& dataType, void* value, uint32_t size) = 0;

protected:
    ~IAVXParameterValue() = default;
};

struct IAVXEffectContext : IACFUnknown {
    virtual ACFRESULT GetParameterValue(const acfUID& parameterId, IAVXParameterValue** value) = 0;
    virtual ACFRESULT GetService(const acfUID& classId, const acfUID& iid, void** out) = 0;
    // Render scale as two ratios: index 0/1 the X numerator/denominator, 2/3 the Y pair.
    virtual ACFRESULT GetScaleTerm(int32_t index, int32_t* value) = 0;
    virtual ACFRESULT GetKind(int32_t* kind) = 0;
    virtual ACFRESULT GetEffectSize(int32_t* width, int32_t* height) = 0;
    virtual ACFRESULT GetEffectNumber(double* number) = 0;

protected:
    ~IAVXEffectContext() = default;
};

struct IAVXFrameContext : IACFUnknown {
    virtual ACFRESULT GetFrameNumber(int32_t* frame) = 0;

protected:
    ~IAVXFrameContext() = default;
};

struct IAVXRenderContext : IACFUnknown {
    virtual ACFRESULT GetRenderValue(uint32_t* value) = 0;
    virtual ACFRESULT GetTime(double* time) = 0;

protected:
    ~IAVXRenderContext() = default;
};

// The effect component as the host calls it.
struct IAVXEffect : IACFUnknown {
    virtual ACFRESULT SetupEffect() = 0;
    virtual ACFRESULT BeginSequence() = 0;
    virtual ACFRESULT EndSequence() = 0;
    virtual ACFRESULT ParametersChanged() = 0;
    virtual ACFRESULT TimeChanged() = 0;
    virtual ACFRESULT ProcessFrame(IAVXEffectContext* effectContext, IACFUnknown* context2, IACFUnknown* context3,
                                   IAVXFrameContext* frameContext, IACFUnknown* context5,
                                   IAVXRenderContext* renderContext, IAVXImageSource* output) = 0;
    virtual ACFRESULT Suspend() = 0;
    virtual ACFRESULT Resume() = 0;
    virtual ACFRESULT Teardown() = 0;

protected:
    ~IAVXEffect() = default;
};

struct IAVXUpdateParams : IACFUnknown {
    virtual ACFRESULT UpdateParameters(IACFUnknown* a, IACFUnknown* b, IACFUnknown* c, IACFUnknown* d) = 0;

protected:
    ~IAVXUpdateParams() = default;
};
