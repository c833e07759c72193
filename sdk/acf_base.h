// Host SDK, component framework layer: status codes, 16-byte identifiers and the
// reference-counted interface base every host and plug-in object derives from.
#pragma once

#include <cstdint>
#include <cstring>

using ACFRESULT = int32_t;

// Negative results are failures.
constexpr ACFRESULT ACF_OK = 0;
constexpr ACFRESULT ACF_E_NOTIMPL = int32_t(0x80000001u);            // operation not implemented
constexpr ACFRESULT ACF_E_OUTOFMEMORY = int32_t(0x80000002u);        // memory could not be had
constexpr ACFRESULT ACF_E_INVALIDARG = int32_t(0x80000003u);         // an argument out of its domain
constexpr ACFRESULT ACF_E_POINTER = int32_t(0x80000005u);            // a required object missing
constexpr ACFRESULT ACF_E_FAIL = int32_t(0x80000008u);               // failed (also: image not 4-channel RGB)
constexpr ACFRESULT ACF_E_UNEXPECTED = int32_t(0x8000FFFFu);         // anything not foreseen
constexpr ACFRESULT ACF_E_NOINTERFACE = int32_t(0x80004002u);        // the object has no such interface
constexpr ACFRESULT ACF_E_NOAGGREGATION = int32_t(0x80040110u);      // aggregation not supported
constexpr ACFRESULT ACF_E_CLASSNOTAVAILABLE = int32_t(0x80040111u);  // no such class here

constexpr bool ACFFailed(ACFRESULT r) { return r < 0; }

// Registry-form GUID layout: {data1-data2-data3-data4[0..1]-data4[2..7]}.
struct acfUID {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(acfUID) == 16, "identifiers are 16 bytes");

inline bool operator==(const acfUID& a, const acfUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool operator!=(const acfUID& a, const acfUID& b) { return !(a == b); }
inline bool isNullUID(const acfUID& u) { return u == acfUID{}; }

// COM-style interfaces: pure virtual, no destructor in the table, lifetime by Release.
struct IACFUnknown {
    virtual ACFRESULT QueryInterface(const acfUID& iid, void** out) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IACFUnknown() = default;
};

struct IACFClassFactory : IACFUnknown {
    // host: the host component object handed to the new component's initialisation.
    virtual ACFRESULT CreateInstance(IACFUnknown* host, IACFUnknown* outer, const acfUID& iid, void** out) = 0;

protected:
    ~IACFClassFactory() = default;
};

// Derives a stable 16-byte identifier for a name inside a name space.
struct IACFUIDService : IACFUnknown {
    virtual ACFRESULT DeriveUID(const acfUID& nameSpace, const char* name, acfUID* out) = 0;

protected:
    ~IACFUIDService() = default;
};

// The host's memory service. Alloc returns null when it cannot serve the request.
struct IACFMalloc : IACFUnknown {
    virtual void* Alloc(uint64_t size) = 0;
    virtual void Free(void* block) = 0;

protected:
    ~IACFMalloc() = default;
};
