#include "host/avx2/Plugin_AVX2_Effect.h"

#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "host/avx2/Plugin_AVX2_Globals.h"
#include "lib/Common/Diagnostics.h"
#include "lib/Common/Status.h"
#include "pipeline/Pipeline.h"
#include "platform/platform.h"
#include "sdk/sdk_ids.h"

namespace {

// The pipeline reads the input at the output's size and in the output's pixel layout: an
// input of another size, depth or channel order would be read past its end or misread.
bool inputMatchesOutput(IAVXImage* input, uint32_t width, uint32_t height, IAVXImageFormat* outputFormat) {
    uint32_t inputWidth = 0, inputHeight = 0;
    raiseIfFailed(input->GetWidth(&inputWidth));
    raiseIfFailed(input->GetHeight(&inputHeight));
    if (inputWidth != width || inputHeight != height) return false;
    AcfPtr<IAVXImageFormat> inputFormat;
    raiseIfFailed(input->GetFormat(inputFormat.out()));
    int32_t colorSpace = 0, size = 0, outputSize = 0, order = 0, outputOrder = 0;
    raiseIfFailed(inputFormat->GetColorSpace(&colorSpace));
    if (colorSpace != AVX_COLORSPACE_RGB) return false;
    raiseIfFailed(inputFormat->GetComponentSize(&size));
    raiseIfFailed(outputFormat->GetComponentSize(&outputSize));
    raiseIfFailed(inputFormat->GetChannelOrder(3, &order));
    raiseIfFailed(outputFormat->GetChannelOrder(3, &outputOrder));
    return size == outputSize && order == outputOrder;
}

}  // namespace

ACFRESULT Plugin_AVX2_Effect::InitializeInstance(IACFUnknown* host) {
    if (!host) return ACF_E_INVALIDARG;
    ACFRESULT r = ensureSlotTable(host);
    if (ACFFailed(r)) return r;
    mHost = AcfPtr<IACFUnknown>::share(host);
    // Asked once for the instance's life: a query failing later would otherwise send memory
    // from one allocator back to the other.
    r = host->QueryInterface(IID_IACFMalloc, mMemory.outVoid());
    // A host without a memory service: the C runtime serves then.
    if (r == ACF_E_NOINTERFACE)
        mMemory.reset();
    else if (ACFFailed(r))
        return r;
    return hostBoundary([&]() -> ACFRESULT {
        PluginHost_AVX2_Impl services(host);
        services.setMemoryService(mMemory.get());
        return createInstanceData(services, mInstanceData);
    });
}

Plugin_AVX2_Effect::~Plugin_AVX2_Effect() {
    if (mInstanceData.block || mInstanceData.global) {
        try {
            PluginHost_AVX2_Impl services(mHost.get());
            services.setMemoryService(mMemory.get());
            destroyInstanceData(services, mInstanceData);
        } catch (...) {
            // Nothing may leave a destructor; what could not be given back is lost.
        }
    }
}

ACFRESULT Plugin_AVX2_Effect::ProcessFrame(IAVXEffectContext* effectContext, IACFUnknown* context2,
                                           IACFUnknown* context3, IAVXFrameContext* frameContext,
                                           IACFUnknown* context5, IAVXRenderContext* renderContext,
                                           IAVXImageSource* output) {
    if (!(effectContext && frameContext && renderContext && output)) {
        // 292 is not this file's line: it is part of the report's defined text.
        diag::assertionFailed("effectContext && frameContext && renderContext && output", "Plugin_AVX2_Effect", 292);
        return ACF_E_POINTER;
    }
    return hostBoundary([&] {
        return renderFrame(effectContext, context2, context3, frameContext, context5, renderContext, output);
    });
}

// Every host object obtained here is held by an owning pointer, so a raised status releases
// all of them on its way to ProcessFrame.
ACFRESULT Plugin_AVX2_Effect::renderFrame(IAVXEffectContext* effectContext, IACFUnknown* context2,
                                          IACFUnknown* context3, IAVXFrameContext* frameContext,
                                          IACFUnknown* context5, IAVXRenderContext* renderContext,
                                          IAVXImageSource* output) {
    AcfPtr<IAVXImage> image;
    raiseIfFailed(output->GetImage(0, CLSID_HostImage, IID_IAVXImage, image.outVoid()));
    uint32_t width = 0, height = 0, fieldLayout = 0, renderValue = 0;
    raiseIfFailed(image->GetWidth(&width));
    raiseIfFailed(image->GetHeight(&height));
    raiseIfFailed(image->GetFieldLayout(&fieldLayout));
    raiseIfFailed(renderContext->GetRenderValue(&renderValue));
    AcfPtr<IAVXImageFormat> format;
    raiseIfFailed(image->GetFormat(format.out()));

    int32_t frameNumber = 0;
    double time = 0;
    raiseIfFailed(frameContext->GetFrameNumber(&frameNumber));
    raiseIfFailed(renderContext->GetTime(&time));

    AcfPtr<IAVXInputService> inputService;
    raiseIfFailed(effectContext->GetService(CLSID_InputService, IID_IAVXInputService, inputService.outVoid()));
    AcfPtr<IAVXImage> input;
    raiseIfFailed(inputService->GetInputImage(frameNumber, renderValue, fieldLayout, input.out()));

    const double fieldFactor = fieldLayout == 2 ? 2.0 : 1.0;

    int32_t channels = 0, colorSpace = 0;
    raiseIfFailed(format->GetChannelCount(&channels));
    raiseIfFailed(format->GetColorSpace(&colorSpace));
    if (colorSpace != AVX_COLORSPACE_RGB) {
        platform::messageBox("Expected RGB colorspace", "Invalid Image Format");
        return ACF_E_FAIL;
    }
    if (channels != 4) {
        platform::messageBox("Expected 4 channels", "Invalid Image Format");
        return ACF_E_FAIL;
    }
    if (!inputMatchesOutput(input.get(), width, height, format.get())) return ACF_E_FAIL;

    PluginHost_AVX2_Impl services(mHost.get());
    services.setMemoryService(mMemory.get());
    services.effect = static_cast<IAVXEffect*>(this);
    services.effectContext = effectContext;
    services.storedContext2 = context2;
    services.storedContext3 = context3;
    services.frameContext = frameContext;
    services.storedObject5 = context5;
    services.renderContext = renderContext;
    services.output = output;
    services.inputImage = input.get();
    services.outputImage = image.get();
    services.mFieldFactor = fieldFactor;
    services.definitionContext().valueSource = effectContext;
    services.definitionContext().time = time;
    services.mFrameNumber = frameNumber;
    services.mFieldLayout = fieldLayout;
    services.mRenderValue = renderValue;
    services.mWidth = width;
    services.mHeight = height;
    services.mFieldStart = 0;
    services.mFieldStep = 1;
    services.setInstanceData(&mInstanceData);

    RenderFrame(services);  // its status is the core's; the host hears of host failures only
    return ACF_OK;
}
