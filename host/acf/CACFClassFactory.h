// The class factory handed out for each implementation class: one create function.
#pragma once

#include "host/acf/CACFUnknown.h"

using ComponentCreateFn = ACFRESULT (*)(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out);

class CACFClassFactory final : public CACFComponent<IACFClassFactory, IID_IACFClassFactory> {
public:
    CACFClassFactory(IACFUnknown* outer, ComponentCreateFn create) : CACFComponent(outer), m_pfnCreate(create) {}


    ACFRESULT CreateInstance(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) override;

    ACFRESULT InitializeInstance(IACFUnknown*) override { return ACF_OK; }

private:
    ComponentCreateFn m_pfnCreate;
};
