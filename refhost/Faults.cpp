#include "refhost/Faults.h"

#include "refhost/RefObject.h"

namespace refhost {

std::atomic<long>& liveObjects() {
    static std::atomic<long> count{0};
    return count;
}

FaultPlan& faults() {
    static FaultPlan plan;
    return plan;
}

ACFRESULT hostCallHook() {
    FaultPlan& f = faults();
    const int64_t n = ++f.calls;
    const int64_t at = f.failCallAt;
    return at != 0 && n == at ? f.failStatus.load() : ACF_OK;
}

bool allocationHook(uint64_t size) {
    FaultPlan& f = faults();
    if (f.requestSizes) f.requestSizes->push_back(size);
    const int64_t n = ++f.allocations;
    const int64_t at = f.failAllocationAt;
    if (at == 0) return false;
    return f.failAllAllocationsAfter ? n >= at : n == at;
}

}  // namespace refhost
