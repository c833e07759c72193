// The parameter-update companion the editor registers beside the effect. It changes nothing.
#pragma once

#include "host/acf/CACFUnknown.h"
#include "sdk/acf_ptr.h"
#include "sdk/avx_runtime.h"

class Plugin_AVX2_UpdateParams final : public CACFComponent<IAVXUpdateParams, IID_IAVXUpdateParams> {
public:
    explicit Plugin_AVX2_UpdateParams(IACFUnknown* outer) : CACFComponent(outer) {}


    ACFRESULT UpdateParameters(IACFUnknown* a, IACFUnknown* b, IACFUnknown* c, IACFUnknown* d) override {
        return a && b && c && d ? ACF_OK : ACF_E_POINTER;
    }

    ACFRESULT InitializeInstance(IACFUnknown* host) override;

    static ACFRESULT create(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) {
        return createComponent<Plugin_AVX2_UpdateParams>(host, outer, iid, out);
    }

private:
    AcfPtr<IACFUnknown> mHost;
};
