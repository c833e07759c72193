#include "host/avx2/Plugin_AVX2_UpdateParams.h"

#include "host/avx2/Plugin_AVX2_Globals.h"
#include "sdk/sdk_ids.h"

ACFRESULT Plugin_AVX2_UpdateParams::InitializeInstance(IACFUnknown* host) {
    if (!host) return ACF_E_POINTER;
    const ACFRESULT r = ensureSlotTable(host);
    if (ACFFailed(r)) return r;
    mHost = AcfPtr<IACFUnknown>::share(host);
    return ACF_OK;
}

ACFRESULT Plugin_AVX2_UpdateParams::NDQueryInterface(const acfUID& iid, void** out) {
    if (!out) return ACF_E_INVALIDARG;
    if (iid == IID_IAVXUpdateParams) {
        *out = static_cast<IAVXUpdateParams*>(this);
        NDAddRef();
        return ACF_OK;
    }
    return CACFUnknown::NDQueryInterface(iid, out);
}
