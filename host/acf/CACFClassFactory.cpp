#include "host/acf/CACFClassFactory.h"

#include "lib/Common/Diagnostics.h"
#include "lib/Common/Status.h"
#include "sdk/sdk_ids.h"

ACFRESULT CACFClassFactory::CreateInstance(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) {
    if (!TX_CHECK(m_pfnCreate, "CACFClassFactory")) return ACF_E_UNEXPECTED;
    if (!host || !out) return ACF_E_INVALIDARG;
    *out = nullptr;
    // An aggregating outer object may only ask for the inner object's own unknown.
    if (outer && iid != IID_IACFUnknown) return ACF_E_NOAGGREGATION;
    return hostBoundary([&] { return m_pfnCreate(host, outer, iid, out); });
}
