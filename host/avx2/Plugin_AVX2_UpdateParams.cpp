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
