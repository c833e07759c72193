#include "refhost/RefHost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "refhost/Definitions.h"
#include "refhost/Faults.h"
#include "refhost/Sha1.h"

namespace refhost {

acfUID nameUID(const acfUID& nameSpace, const std::string& name) {
    // Network byte order of the name space, then the name.
    std::string bytes(16, '\0');
    for (int i = 0; i < 4; ++i) bytes[size_t(i)] = char(nameSpace.data1 >> (24 - 8 * i));
    bytes[4] = char(nameSpace.data2 >> 8);
    bytes[5] = char(nameSpace.data2);
    bytes[6] = char(nameSpace.data3 >> 8);
    bytes[7] = char(nameSpace.data3);
    for (int i = 0; i < 8; ++i) bytes[size_t(8 + i)] = char(nameSpace.data4[i]);
    bytes += name;
    std::array<uint8_t, 20> h = sha1(bytes.data(), bytes.size());
    h[6] = uint8_t((h[6] & 0x0F) | 0x50);  // version 5
    h[8] = uint8_t((h[8] & 0x3F) | 0x80);  // RFC 4122 variant
    acfUID uid{};
    uid.data1 = uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | h[3];
    uid.data2 = uint16_t(h[4] << 8 | h[5]);
    uid.data3 = uint16_t(h[6] << 8 | h[7]);
    for (int i = 0; i < 8; ++i) uid.data4[i] = h[size_t(8 + i)];
    return uid;
}

std::string formatUID(const acfUID& u) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(u.data1),
                  unsigned(u.data2), unsigned(u.data3), u.data4[0], u.data4[1], u.data4[2], u.data4[3], u.data4[4],
                  u.data4[5], u.data4[6], u.data4[7]);
    return text;
}

ACFRESULT UIDService::DeriveUID(const acfUID& nameSpace, const char* name, acfUID* out) {
    if (ACFRESULT r = hostCallHook()) return r;
    if (!name || !out) return ACF_E_POINTER;
    *out = nameUID(nameSpace, name);
    return ACF_OK;
}

void* MemoryService::Alloc(uint64_t size) {
    uint64_t largest = mLargestRequest.load();
    while (size > largest && !mLargestRequest.compare_exchange_weak(largest, size)) {
    }
    if (allocationHook(size) || size > maxBlock) return nullptr;
    std::unique_lock<std::mutex> guard(mLock);
    void* block = nullptr;
    const auto pooled = std::find_if(mPool.begin(), mPool.end(), [&](const auto& entry) { return entry.first == size; });
    if (pooled != mPool.end()) {
        block = pooled->second;
        mPool.erase(pooled);
    } else {
        guard.unlock();
        block = std::malloc(size ? size_t(size) : 1);
        if (!block) return nullptr;
        guard.lock();
    }
    try {
        mBlocks[block] = size;
    } catch (...) {
        // A host's memory service answers with null; it never throws into the plug-in.
        std::free(block);
        return nullptr;
    }
    mLiveBytes += int64_t(size);
    if (mLiveBytes > mPeakBytes) mPeakBytes = mLiveBytes;
    mTotal++;
    return block;
}

void MemoryService::Free(void* block) {
    if (!block) return;
    {
        std::lock_guard<std::mutex> guard(mLock);
        auto it = mBlocks.find(block);
        if (it == mBlocks.end()) {
            std::fprintf(stderr, "reference host: memory service asked to free a block it did not give out\n");
            std::abort();
        }
        const uint64_t size = it->second;
        mLiveBytes -= int64_t(size);
        mBlocks.erase(it);
        if (mPoolLimit > 0 && size >= kPooledSize) {
            mPool.emplace_back(size, block);
            if (mPool.size() <= mPoolLimit) return;
            block = mPool.front().second;
            mPool.pop_front();
        }
    }
    std::free(block);
}

void MemoryService::keepFreedBlocks(size_t blocks) {
    std::deque<std::pair<uint64_t, void*>> dropped;
    {
        std::lock_guard<std::mutex> guard(mLock);
        mPoolLimit = blocks;
        while (mPool.size() > mPoolLimit) {
            dropped.push_back(mPool.front());
            mPool.pop_front();
        }
    }
    for (const auto& entry : dropped) std::free(entry.second);
}

MemoryService::~MemoryService() {
    for (const auto& entry : mPool) std::free(entry.second);
}

int64_t MemoryService::liveBlocks() const {
    std::lock_guard<std::mutex> guard(mLock);
    return int64_t(mBlocks.size());
}
int64_t MemoryService::liveBytes() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mLiveBytes;
}
int64_t MemoryService::peakBytes() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mPeakBytes;
}
uint64_t MemoryService::largestRequest() const { return mLargestRequest.load(); }

int64_t MemoryService::totalAllocations() const {
    std::lock_guard<std::mutex> guard(mLock);
    return mTotal;
}

HostComponent::HostComponent()
    : mMemory(new MemoryService), mFactory(new DefinitionFactory), mUIDs(new UIDService) {}

ACFRESULT HostComponent::QueryInterface(const acfUID& iid, void** out) {
    if (!out) return ACF_E_POINTER;
    *out = nullptr;
    if (ACFRESULT r = hostCallHook()) return r;
    IACFUnknown* answer = nullptr;
    if (iid == IID_IACFUnknown)
        answer = this;
    else if (iid == IID_IACFMalloc && offerMemory)
        answer = mMemory.get();
    else if (iid == IID_IACFDefinitionFactory && offerFactory)
        answer = mFactory.get();
    else if (iid == IID_IACFUIDService && offerUIDs)
        answer = mUIDs.get();
    if (!answer) return ACF_E_NOINTERFACE;
    answer->AddRef();
    *out = answer;
    return ACF_OK;
}

}  // namespace refhost
