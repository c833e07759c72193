// Status codes: the core's own small numbers, and the host's 32-bit codes raised as
// int32_t exceptions inside the binding and turned back into results at its boundaries.
#pragma once

#include <cstdint>

#include "sdk/acf_base.h"

using Status = int32_t;

constexpr Status STATUS_OK = 0;
constexpr Status STATUS_UNSUPPORTED = 1;  // pixel format not rendered, failed composite, foreign exception
constexpr Status STATUS_NO_RASTER = 4;    // a raster could not be created

// Ends the current operation with a failed host status.
inline void raiseIfFailed(int32_t hostStatus) {
    if (hostStatus < 0) throw int32_t(hostStatus);
}

// The one boundary of every host-facing operation: a raised host status comes back as the
// result, anything else (out of memory included) as an unexpected failure.
template <class Body>
int32_t hostBoundary(Body&& body) noexcept {
    try {
        return body();
    } catch (int32_t hostStatus) {
        return hostStatus;
    } catch (...) {
        return ACF_E_UNEXPECTED;
    }
}

#define TX_PROPAGATE(expr)              \
    do {                                \
        const Status txStatus_ = (expr); \
        if (txStatus_ != STATUS_OK)     \
            return txStatus_;           \
    } while (0)
