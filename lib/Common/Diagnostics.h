// Internal consistency checks. A failed check is reported with its condition, source unit
// and line, and execution goes on with the defined fallback; it never aborts.
#pragma once

namespace diag {
void assertionFailed(const char* condition, const char* unit, int line);

// Tests watch reports through this; with no observer a report is one line on stderr.
using AssertionObserver = void (*)(const char* condition, const char* unit, int line, void* user);
void setAssertionObserver(AssertionObserver observer, void* user);
}  // namespace diag

#define TX_CHECK(condition, unit) \
    ((condition) ? true : (diag::assertionFailed(#condition, unit, __LINE__), false))
