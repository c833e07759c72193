// The reference host's component object and its services: identifiers, memory and the
// definition factory.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "refhost/RefObject.h"
#include "sdk/acf_definitions.h"

namespace refhost {

// Name-based identifiers: UUID version 5 (SHA-1) of the name space and the name, so the
// same name always gives the same identifier.
acfUID nameUID(const acfUID& nameSpace, const std::string& name);
std::string formatUID(const acfUID& uid);  // registry form, {XXXXXXXX-XXXX-...}

class UIDService final : public RefObject<IACFUIDService> {
public:
    ACFRESULT DeriveUID(const acfUID& nameSpace, const char* name, acfUID* out) override;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IACFUIDService; }
};

// Counts what is live and can refuse allocations (see Faults.h).
class MemoryService final : public RefObject<IACFMalloc> {
public:
    void* Alloc(uint64_t size) override;
    void Free(void* block) override;

    int64_t liveBlocks() const;
    int64_t liveBytes() const;
    int64_t peakBytes() const;
    int64_t totalAllocations() const;
    // The largest block asked for, granted or not.
    uint64_t largestRequest() const;
    // Largest single request the service accepts; larger ones are refused.
    uint64_t maxBlock = uint64_t(1) << 34;

    // Keeps up to `blocks` freed blocks of a frame's size or so and hands them out again for
    // requests of the same size, as an editor's raster pool does, rather than returning them
    // to the system to be faulted in afresh every frame. Off by default, so that the
    // sanitizers see every block come and go.
    void keepFreedBlocks(size_t blocks);
    ~MemoryService() override;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IACFMalloc; }

private:
    static constexpr uint64_t kPooledSize = uint64_t(1) << 20;
    mutable std::mutex mLock;
    std::map<void*, uint64_t> mBlocks;
    std::deque<std::pair<uint64_t, void*>> mPool;  // oldest first
    size_t mPoolLimit = 0;
    int64_t mLiveBytes = 0;
    int64_t mPeakBytes = 0;
    int64_t mTotal = 0;
    std::atomic<uint64_t> mLargestRequest{0};
};

class DefinitionFactory final : public RefObject<IACFDefinitionFactory> {
public:
    ACFRESULT CreateDefinition(const acfUID& classId, const acfUID& iid, void** out) override;

protected:
    bool answers(const acfUID& iid) const override { return iid == IID_IACFDefinitionFactory; }
};

// The host component object handed to the plug-in's exports and components.
class HostComponent final : public RefObject<IACFUnknown> {
public:
    HostComponent();

    bool offerMemory = true;
    bool offerFactory = true;
    bool offerUIDs = true;

    MemoryService& memory() { return *mMemory.get(); }

    ACFRESULT QueryInterface(const acfUID& iid, void** out) override;

protected:
    bool answers(const acfUID&) const override { return false; }

private:
    AcfPtr<MemoryService> mMemory;
    AcfPtr<DefinitionFactory> mFactory;
    AcfPtr<UIDService> mUIDs;
};

}  // namespace refhost
