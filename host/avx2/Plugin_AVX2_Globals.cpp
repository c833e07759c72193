#include "host/avx2/Plugin_AVX2_Globals.h"

#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "lib/Common/Status.h"
#include "params/ParameterSet.h"
#include "platform/platform.h"

// Recorded where the texture library, which decodes through the window's device context,
// finds them.
void Plugin_AVX2_Globals::attach(void* module) {
    platform::setModuleHandle(module);
    platform::setHostWindow(platform::findHostWindow());
}

void Plugin_AVX2_Globals::detach() {
    platform::setModuleHandle(nullptr);
    platform::setHostWindow(nullptr);
}

ACFRESULT ensureSlotTable(IACFUnknown* host) {
    if (slotTableReady()) return ACF_OK;
    return hostBoundary([&]() -> ACFRESULT {
        PluginHost_AVX2_Impl services(host);
        setupDefinitionContext(services.definitionContext(), host, nullptr, nullptr, kParameterSlotCount);
        defineParameters(services);
        setSlotTableReady(true);
        return ACF_OK;
    });
}
