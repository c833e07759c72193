#include "lib/Common/Diagnostics.h"

#include <atomic>
#include <cstdio>

namespace diag {
namespace {
std::atomic<AssertionObserver> gObserver{nullptr};
std::atomic<void*> gUser{nullptr};
}  // namespace

void assertionFailed(const char* condition, const char* unit, int line) {
    if (AssertionObserver observer = gObserver.load()) {
        observer(condition, unit, line, gUser.load());
        return;
    }
    std::fprintf(stderr, "Assertion failed: %s (%s, line %d)\n", condition, unit, line);
}

void setAssertionObserver(AssertionObserver observer, void* user) {
    gUser.store(user);
    gObserver.store(observer);
}
}  // namespace diag
