// Reference counting for every object the reference host hands out, with a process-wide
// count of live objects so tests can prove that a plug-in released all it obtained.
#pragma once

#include <atomic>
#include <initializer_list>

#include "sdk/acf_ptr.h"
#include "sdk/sdk_ids.h"

namespace refhost {

std::atomic<long>& liveObjects();

template <class Interface>
class RefObject : public Interface {
public:
    RefObject() { liveObjects()++; }
    RefObject(const RefObject&) = delete;
    RefObject& operator=(const RefObject&) = delete;
    virtual ~RefObject() { liveObjects()--; }

    ACFRESULT QueryInterface(const acfUID& iid, void** out) override;
    uint32_t AddRef() override { return ++mRefs; }
    uint32_t Release() override {
        const uint32_t n = --mRefs;
        if (n == 0) delete this;
        return n;
    }
    uint32_t refCount() const { return mRefs; }

protected:
    // The identifiers this object answers besides IID_IACFUnknown.
    virtual bool answers(const acfUID& iid) const = 0;

private:
    std::atomic<uint32_t> mRefs{1};
};

// Counts the call and fails it when the fault plan says so (see Faults.h).
ACFRESULT hostCallHook();

template <class Interface>
ACFRESULT RefObject<Interface>::QueryInterface(const acfUID& iid, void** out) {
    if (!out) return ACF_E_POINTER;
    *out = nullptr;
    if (ACFRESULT r = hostCallHook()) return r;
    if (iid == IID_IACFUnknown || answers(iid)) {
        *out = static_cast<Interface*>(this);
        AddRef();
        return ACF_OK;
    }
    return ACF_E_NOINTERFACE;
}

inline bool oneOf(const acfUID& iid, std::initializer_list<const acfUID*> ids) {
    for (const acfUID* id : ids)
        if (iid == *id) return true;
    return false;
}

// Creates an object with one reference, owned by the returned pointer.
template <class T, class... Args>
AcfPtr<T> make(Args&&... args) {
    return AcfPtr<T>(new T(static_cast<Args&&>(args)...));
}

}  // namespace refhost
