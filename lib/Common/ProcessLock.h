// The process-wide lock held for a scope: shared data (reference counts, the texture blocks,
// the funk raster) is changed only inside one.
#pragma once

#include "platform/platform.h"

class ProcessLock {
public:
    ProcessLock() { platform::processLockEnter(); }
    ~ProcessLock() { platform::processLockLeave(); }
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;
};
