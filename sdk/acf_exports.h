// The six entry points a plug-in module exports, as the host resolves them.
#pragma once

#include "acf_base.h"
#include "acf_definitions.h"

extern "C" {
using ACFRegisterPluginFn = ACFRESULT (*)(IACFUnknown* host, IACFPluginDefinition** definition);
using ACFRegisterComponentFn = ACFRESULT (*)(IACFUnknown* host, uint32_t index, IACFComponentDefinition** definition);
using ACFGetClassFactoryFn = ACFRESULT (*)(IACFUnknown* host, const acfUID* classId, const acfUID* iid, void** out);
using ACFCanUnloadNowFn = ACFRESULT (*)(IACFUnknown* host);
using ACFStartupFn = ACFRESULT (*)(IACFUnknown* host);
using ACFShutdownFn = ACFRESULT (*)(IACFUnknown* host);
}
