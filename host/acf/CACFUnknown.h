// Reference counting, interface queries and aggregation, written once for every component.
// A component derives from its host interface and from CACFUnknown; its interface's own
// QueryInterface, AddRef and Release forward to the controlling unknown: the outer object
// when aggregated, else the private face below.
#pragma once

#include <atomic>
#include <cstdint>

#include "sdk/acf_base.h"
#include "sdk/sdk_ids.h"

class CACFUnknown {
public:
    explicit CACFUnknown(IACFUnknown* outer);
    CACFUnknown(const CACFUnknown&) = delete;
    CACFUnknown& operator=(const CACFUnknown&) = delete;

    // Non-delegating operations.
    virtual ~CACFUnknown();
    virtual ACFRESULT InitializeInstance(IACFUnknown* host) = 0;
    virtual void FinalRelease() {}
    virtual ACFRESULT NDQueryInterface(const acfUID& iid, void** out);
    virtual uint32_t NDAddRef();
    virtual uint32_t NDRelease();

    IACFUnknown* controllingUnknown() const { return mControlling; }
    IACFUnknown* privateUnknown() { return &mPrivate; }

    // Components alive in the process; the library may unload at 0.
    static long liveObjects();

    class PrivateUnknown final : public IACFUnknown {
    public:
        explicit PrivateUnknown(CACFUnknown& owner) : mOwner(owner) {}
        ACFRESULT QueryInterface(const acfUID& iid, void** out) override { return mOwner.NDQueryInterface(iid, out); }
        uint32_t AddRef() override { return mOwner.NDAddRef(); }
        uint32_t Release() override { return mOwner.NDRelease(); }

    private:
        CACFUnknown& mOwner;
    };

private:
    std::atomic<uint32_t> mRefCount{0};
    IACFUnknown* mControlling;
    PrivateUnknown mPrivate;
};

// A component with one interface of its own: that interface's QueryInterface, AddRef and
// Release forward to the controlling unknown, and the query answers for `Iid` itself.
template <class Interface, const acfUID& Iid>
class CACFComponent : public Interface, public CACFUnknown {
public:
    explicit CACFComponent(IACFUnknown* outer) : CACFUnknown(outer) {}

    ACFRESULT QueryInterface(const acfUID& iid, void** out) override {
        return controllingUnknown()->QueryInterface(iid, out);
    }
    uint32_t AddRef() override { return controllingUnknown()->AddRef(); }
    uint32_t Release() override { return controllingUnknown()->Release(); }

    ACFRESULT NDQueryInterface(const acfUID& iid, void** out) override {
        if (!out) return ACF_E_INVALIDARG;
        if (iid == Iid) {
            *out = static_cast<Interface*>(this);
            NDAddRef();
            return ACF_OK;
        }
        return CACFUnknown::NDQueryInterface(iid, out);
    }
};

// Creates a component the way every factory does: construct with the outer unknown, take a
// reference, initialise with the host, query the requested interface, drop the reference.
template <class Component>
ACFRESULT createComponent(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) {
    Component* object = nullptr;
    try {
        object = new Component(outer);
    } catch (...) {
        return ACF_E_OUTOFMEMORY;
    }
    object->NDAddRef();
    const ACFRESULT initialised = object->InitializeInstance(host);
    if (ACFFailed(initialised)) {
        object->NDRelease();
        return initialised;
    }
    const ACFRESULT r = object->NDQueryInterface(iid, out);
    object->NDRelease();
    return r;
}
