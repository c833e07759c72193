// The effect component: one instance per effect the editor applies. Renders frames through
// the pipeline and owns the instance data that lives between them.
#pragma once

#include "host/acf/CACFUnknown.h"
#include "lib/Common/InstanceData.h"
#include "sdk/acf_ptr.h"
#include "sdk/avx_runtime.h"

class Plugin_AVX2_Effect final : public CACFComponent<IAVXEffect, IID_IAVXEffect> {
public:
    explicit Plugin_AVX2_Effect(IACFUnknown* outer) : CACFComponent(outer) {}
    ~Plugin_AVX2_Effect() override;


    ACFRESULT SetupEffect() override { return ACF_E_NOTIMPL; }
    ACFRESULT BeginSequence() override { return ACF_OK; }
    ACFRESULT EndSequence() override { return ACF_OK; }
    ACFRESULT ParametersChanged() override { return ACF_OK; }
    ACFRESULT TimeChanged() override { return ACF_OK; }
    ACFRESULT ProcessFrame(IAVXEffectContext* effectContext, IACFUnknown* context2, IACFUnknown* context3,
                           IAVXFrameContext* frameContext, IACFUnknown* context5, IAVXRenderContext* renderContext,
                           IAVXImageSource* output) override;
    ACFRESULT Suspend() override { return ACF_OK; }
    ACFRESULT Resume() override { return ACF_OK; }
    ACFRESULT Teardown() override { return ACF_OK; }

    ACFRESULT InitializeInstance(IACFUnknown* host) override;

    static ACFRESULT create(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) {
        return createComponent<Plugin_AVX2_Effect>(host, outer, iid, out);
    }

private:
    ACFRESULT renderFrame(IAVXEffectContext* effectContext, IACFUnknown* context2, IACFUnknown* context3,
                          IAVXFrameContext* frameContext, IACFUnknown* context5, IAVXRenderContext* renderContext,
                          IAVXImageSource* output);

    AcfPtr<IACFUnknown> mHost;
    // Asked for once: everything the instance allocates over its life goes back through it.
    AcfPtr<IACFMalloc> mMemory;
    InstanceData mInstanceData;
};
