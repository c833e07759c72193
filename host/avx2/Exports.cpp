// The six entry points of the module. Each checks its arguments, does its one job and turns
// any failure into a host status; nothing is thrown across the module's edge.
#include "host/acf/CACFClassFactory.h"
#include "host/avx2/PluginHost_AVX2_Impl.h"
#include "host/avx2/Plugin_AVX2_Effect.h"
#include "host/avx2/Plugin_AVX2_Globals.h"
#include "host/avx2/Plugin_AVX2_UpdateParams.h"
#include "host/avx2/ParamLayout.h"
#include "lib/Common/InstanceData.h"
#include "lib/Common/Status.h"
#include "lib/Common/TextureLibrary.h"
#include "params/ParameterSet.h"
#include "platform/platform.h"
#include "sdk/acf_definitions.h"
#include "sdk/acf_ptr.h"
#include "sdk/sdk_ids.h"

#if defined(_WIN32)
#define TX_EXPORT extern "C" __declspec(dllexport)
#else
#define TX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

AcfPtr<IACFDefinitionFactory> definitionFactory(IACFUnknown* host) {
    AcfPtr<IACFDefinitionFactory> factory;
    raiseIfFailed(host->QueryInterface(IID_IACFDefinitionFactory, factory.outVoid()));
    return factory;
}

void setText(IACFDefinition* definition, const acfUID& key, const char16_t* text) {
    uint32_t length = 0;
    while (text[length]) ++length;
    raiseIfFailed(definition->SetAttribute(key, TYPE_String, text, (length + 1) * sizeof(char16_t)));
}

void setFlag(IACFDefinition* definition, const acfUID& key, bool on) {
    const int32_t value = on ? 1 : 0;
    raiseIfFailed(definition->SetAttribute(key, TYPE_Boolean, &value, sizeof value));
}

ACFRESULT registerEffect(IACFUnknown* host, IACFComponentDefinition** out) {
    AcfPtr<IAVXEffectDefinition> effect;
    raiseIfFailed(definitionFactory(host)->CreateDefinition(CLSID_EffectDefinition, IID_IAVXEffectDefinition,
                                                            effect.outVoid()));
    raiseIfFailed(effect->InitializeComponent(kEffectComponentId, COMPTYPE_AVXEffect, 1, 0, kEffectClassId,
                                              kEffectComponentName));
    setText(effect.get(), PROP_DisplayName, kEffectDisplayName);
    {
        PluginHost_AVX2_Impl services(host);
        setupDefinitionContext(services.definitionContext(), host, effect.get(), &hostParamLayout(), kParameterSlotCount);
        defineParameters(services);
    }
    raiseIfFailed(effect->AddImageInput(nullptr));
    raiseIfFailed(effect->AddImageOutput(u"Output"));
    raiseIfFailed(effect->AddCapability(3, 1));
    raiseIfFailed(effect->AddCapability(3, 3));
    raiseIfFailed(effect->AddCapability(4, 1));
    raiseIfFailed(effect->AddCapability(4, 3));
    setFlag(effect.get(), ATTR_EffectOption1, true);
    setFlag(effect.get(), ATTR_EffectOption2, false);
    setFlag(effect.get(), ATTR_EffectOption3, false);
    raiseIfFailed(effect->SetAttribute(PROP_UpdateComponent, TYPE_UID, &kUpdateComponentId, sizeof kUpdateComponentId));
    *out = effect.detach();
    return ACF_OK;
}

ACFRESULT registerUpdater(IACFUnknown* host, IACFComponentDefinition** out) {
    AcfPtr<IACFComponentDefinition> component;
    raiseIfFailed(definitionFactory(host)->CreateDefinition(CLSID_ComponentDefinition, IID_IACFComponentDefinition,
                                                            component.outVoid()));
    raiseIfFailed(component->InitializeComponent(kUpdateComponentId, COMPTYPE_AVXUpdateParams, 1, 0, kUpdateClassId,
                                                 kUpdateComponentName));
    *out = component.detach();
    return ACF_OK;
}

}  // namespace

TX_EXPORT ACFRESULT ACFRegisterPlugin(IACFUnknown* host, IACFPluginDefinition** out) {
    if (!host || !out) return ACF_E_POINTER;
    *out = nullptr;
    return hostBoundary([&]() -> ACFRESULT {
        AcfPtr<IACFPluginDefinition> plugin;
        raiseIfFailed(definitionFactory(host)->CreateDefinition(CLSID_PluginDefinition, IID_IACFPluginDefinition,
                                                                plugin.outVoid()));
        raiseIfFailed(plugin->InitializePlugin(kTarnixPluginId, 1, 0, kModuleFileName, kSecondPluginId, kVendorName,
                                               2, 1));
        setText(plugin.get(), PROP_DisplayName, kPluginDisplayName);
        *out = plugin.detach();
        return ACF_OK;
    });
}

TX_EXPORT ACFRESULT ACFRegisterComponent(IACFUnknown* host, uint32_t index, IACFComponentDefinition** out) {
    if (!host || !out) return ACF_E_POINTER;
    *out = nullptr;
    if (index >= 2) return ACF_E_INVALIDARG;
    return hostBoundary([&]() -> ACFRESULT { return index == 0 ? registerEffect(host, out) : registerUpdater(host, out); });
}

TX_EXPORT ACFRESULT ACFGetClassFactory(IACFUnknown* host, const acfUID* classId, const acfUID* iid, void** out) {
    if (!host || !out) return ACF_E_INVALIDARG;
    *out = nullptr;
    if (!classId || !iid) return ACF_E_INVALIDARG;
    ComponentCreateFn create = nullptr;
    if (*classId == kEffectClassId)
        create = &Plugin_AVX2_Effect::create;
    else if (*classId == kUpdateClassId)
        create = &Plugin_AVX2_UpdateParams::create;
    else
        return ACF_E_CLASSNOTAVAILABLE;
    CACFClassFactory* factory = nullptr;
    try {
        factory = new CACFClassFactory(nullptr, create);
    } catch (...) {
        return ACF_E_OUTOFMEMORY;
    }
    factory->NDAddRef();
    const ACFRESULT r = factory->NDQueryInterface(*iid, out);
    factory->NDRelease();
    return r;
}

TX_EXPORT ACFRESULT ACFCanUnloadNow(IACFUnknown* host) {
    if (!host) return ACF_E_INVALIDARG;
    return CACFUnknown::liveObjects() > 0 ? ACF_E_FAIL : ACF_OK;
}

TX_EXPORT ACFRESULT ACFStartup(IACFUnknown*) {
    platform::processLockCreate();
    return ACF_OK;
}

TX_EXPORT ACFRESULT ACFShutdown(IACFUnknown*) {
    releaseIdleGlobalData();
    // Unloading the library must leave nothing behind.
    ReleaseTextureSets();
    platform::processLockDelete();
    return ACF_OK;
}
