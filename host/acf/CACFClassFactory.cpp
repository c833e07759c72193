#include "host/acf/CACFClassFactory.h"

#include "lib/Common/Diagnostics.h"
#include "sdk/sdk_ids.h"

ACFRESULT CACFClassFactory::CreateInstance(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) {
    if (!TX_CHECK(m_pfnCreate, "CACFClassFactory")) return ACF_E_UNEXPECTED;
    if (!host || !out) return ACF_E_INVALIDARG;
    *out = nullptr;
    // An aggregating outer object may only ask for the inner object's own unknown.
    if (outer && iid != IID_IACFUnknown) return ACF_E_NOAGGREGATION;
    try {
        return m_pfnCreate(host, outer, iid, out);
    } catch (...) {
        return ACF_E_UNEXPECTED;
    }
}

ACFRESULT CACFClassFactory::NDQueryInterface(const acfUID& iid, void** out) {
    if (!out) return ACF_E_INVALIDARG;
    if (iid == IID_IACFClassFactory) {
        *out = static_cast<IACFClassFactory*>(this);
        NDAddRef();
        return ACF_OK;
    }
    return CACFUnknown::NDQueryInterface(iid, out);
}
