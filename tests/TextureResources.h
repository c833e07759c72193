// Test programs that link the texture bitmaps carry them as their own resources: on Windows
// the texture library reads them through this program's module handle.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

namespace {
[[maybe_unused]] const bool kTexturesHere = [] {
    platform::setModuleHandle(GetModuleHandleW(nullptr));
    return true;
}();
}  // namespace
#endif
