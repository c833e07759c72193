// Fault injection: the reference host can fail its Nth call or its Nth allocation, so that
// every failure path of a plug-in can be driven on purpose.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "sdk/acf_base.h"

namespace refhost {

struct FaultPlan {
    std::atomic<int64_t> calls{0};        // host calls counted so far
    std::atomic<int64_t> failCallAt{0};   // 1-based call to fail; 0: none
    std::atomic<ACFRESULT> failStatus{ACF_E_FAIL};
    std::atomic<int64_t> allocations{0};
    std::atomic<int64_t> failAllocationAt{0};  // 1-based allocation to refuse; 0: none
    std::atomic<bool> failAllAllocationsAfter{false};  // refuse every allocation from there on
    // When set, the size of every allocation asked for is appended, refused or not, so that a
    // test can tell what each one was for. For single-threaded use.
    std::vector<uint64_t>* requestSizes = nullptr;

    void reset() {
        calls = 0;
        failCallAt = 0;
        failStatus = ACF_E_FAIL;
        allocations = 0;
        failAllocationAt = 0;
        failAllAllocationsAfter = false;
        requestSizes = nullptr;
    }
};

FaultPlan& faults();

// True when this allocation (of `size` bytes) is to be refused.
bool allocationHook(uint64_t size);

}  // namespace refhost
