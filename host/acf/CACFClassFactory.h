// The class factory handed out for each implementation class: one create function.
#pragma once

#include "host/acf/CACFUnknown.h"

using ComponentCreateFn = ACFRESULT (*)(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out);

class CACFClassFactory final : public IACFClassFactory, public CACFUnknown {
public:
    CACFClassFactory(IACFUnknown* outer, ComponentCreateFn create) : CACFUnknown(outer), m_pfnCreate(create) {}

    ACFRESULT QueryInterface(const acfUID& iid, void** out) override {
        return controllingUnknown()->QueryInterface(iid, out);
    }
    uint32_t AddRef() override { return controllingUnknown()->AddRef(); }
    uint32_t Release() override { return controllingUnknown()->Release(); }

    ACFRESULT CreateInstance(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) override;

    ACFRESULT InitializeInstance(IACFUnknown*) override { return ACF_OK; }
    ACFRESULT NDQueryInterface(const acfUID& iid, void** out) override;

private:
    ComponentCreateFn m_pfnCreate;
};
