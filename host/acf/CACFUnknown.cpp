#include "host/acf/CACFUnknown.h"

#include "sdk/sdk_ids.h"

namespace {
std::atomic<long> gLiveObjects{0};
}

CACFUnknown::CACFUnknown(IACFUnknown* outer) : mControlling(outer ? outer : &mPrivate), mPrivate(*this) {
    ++gLiveObjects;
}

CACFUnknown::~CACFUnknown() { --gLiveObjects; }

long CACFUnknown::liveObjects() { return gLiveObjects.load(); }

ACFRESULT CACFUnknown::NDQueryInterface(const acfUID& iid, void** out) {
    if (!out) return ACF_E_INVALIDARG;
    *out = nullptr;
    if (iid == IID_IACFUnknown) {
        *out = static_cast<IACFUnknown*>(&mPrivate);
        NDAddRef();
        return ACF_OK;
    }
    return ACF_E_NOINTERFACE;
}

uint32_t CACFUnknown::NDAddRef() { return ++mRefCount; }

uint32_t CACFUnknown::NDRelease() {
    const uint32_t n = --mRefCount;
    if (n == 0) {
        FinalRelease();
        delete this;
    }
    return n;
}
