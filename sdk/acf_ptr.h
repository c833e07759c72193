// Owning pointer to an interface: releases on scope exit, so every early return and
// every raised status gives back what was obtained.
#pragma once

#include "acf_base.h"

template <class T>
class AcfPtr {
public:
    AcfPtr() = default;
    // Adopts a reference the caller already owns.
    explicit AcfPtr(T* adopted) : mPtr(adopted) {}
    AcfPtr(const AcfPtr&) = delete;
    AcfPtr& operator=(const AcfPtr&) = delete;
    AcfPtr(AcfPtr&& other) noexcept : mPtr(other.detach()) {}
    AcfPtr& operator=(AcfPtr&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    ~AcfPtr() { reset(); }

    static AcfPtr share(T* p) {
        if (p) p->AddRef();
        return AcfPtr(p);
    }

    T* get() const { return mPtr; }
    T* operator->() const { return mPtr; }
    explicit operator bool() const { return mPtr != nullptr; }

    // For out-parameters: drops the current reference first.
    T** out() {
        reset();
        return &mPtr;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }

    T* detach() {
        T* p = mPtr;
        mPtr = nullptr;
        return p;
    }
    void reset(T* adopted = nullptr) {
        T* old = mPtr;
        mPtr = adopted;
        if (old) old->Release();
    }

private:
    T* mPtr = nullptr;
};
