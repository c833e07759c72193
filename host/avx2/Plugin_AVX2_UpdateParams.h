// The parameter-update companion the editor registers beside the effect. It changes nothing.
#pragma once

#include "host/acf/CACFUnknown.h"
#include "sdk/acf_ptr.h"
#include "sdk/avx_runtime.h"

class Plugin_AVX2_UpdateParams final : public IAVXUpdateParams, public CACFUnknown {
public:
    explicit Plugin_AVX2_UpdateParams(IACFUnknown* outer) : CACFUnknown(outer) {}

    ACFRESULT QueryInterface(const acfUID& iid, void** out) override {
        return controllingUnknown()->QueryInterface(iid, out);
    }
    uint32_t AddRef() override { return controllingUnknown()->AddRef(); }
    uint32_t Release() override { return controllingUnknown()->Release(); }

    ACFRESULT UpdateParameters(IACFUnknown* a, IACFUnknown* b, IACFUnknown* c, IACFUnknown* d) override {
        return a && b && c && d ? ACF_OK : ACF_E_POINTER;
    }

    ACFRESULT InitializeInstance(IACFUnknown* host) override;
    ACFRESULT NDQueryInterface(const acfUID& iid, void** out) override;

    static ACFRESULT create(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) {
        return createComponent<Plugin_AVX2_UpdateParams>(host, outer, iid, out);
    }

private:
    AcfPtr<IACFUnknown> mHost;
};
