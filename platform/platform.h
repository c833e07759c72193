// The few operating-system services the plug-in and its hosts need. Windows builds use the
// real system calls; POSIX builds use small stand-ins with the same behaviour.
#pragma once

#include <cstdint>

namespace platform {

// The one process-wide lock (reference counts of shared plug-in data).
void processLockCreate();
void processLockDelete();
void processLockEnter();
void processLockLeave();

// Modal message box with an OK button and no owner. POSIX prints "title: text" on stderr.
void messageBox(const char* text, const char* title);
// Tests may watch message boxes of the code linked into their own process.
using MessageObserver = void (*)(const char* text, const char* title, void* user);
void setMessageObserver(MessageObserver observer, void* user);

// Dynamic libraries. Paths are UTF-8; null on failure.
void* loadLibrary(const char* path);
void* librarySymbol(void* library, const char* name);
void freeLibrary(void* library);
// Text of the last loadLibrary failure, for error messages.
const char* lastLibraryError();

// The host editor's main window, or null when it is not running (always null on POSIX).
void* findHostWindow();

// Module handle of the plug-in, recorded when the library is attached.
void setModuleHandle(void* module);
void* moduleHandle();

}  // namespace platform
