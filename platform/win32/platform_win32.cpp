#include "platform.h"

#include <windows.h>

#include <string>

namespace platform {
namespace {
CRITICAL_SECTION gProcessLock;
bool gProcessLockLive = false;
MessageObserver gObserver = nullptr;
void* gObserverUser = nullptr;
HMODULE gModule = nullptr;
thread_local std::string gLibraryError;

std::wstring widen(const char* text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, w.data(), n);
    w.resize(size_t(n - 1));
    return w;
}
}  // namespace

void processLockCreate() {
    if (!gProcessLockLive) {
        InitializeCriticalSection(&gProcessLock);
        gProcessLockLive = true;
    }
}
void processLockDelete() {
    if (gProcessLockLive) {
        DeleteCriticalSection(&gProcessLock);
        gProcessLockLive = false;
    }
}
void processLockEnter() {
    if (gProcessLockLive) EnterCriticalSection(&gProcessLock);
}
void processLockLeave() {
    if (gProcessLockLive) LeaveCriticalSection(&gProcessLock);
}

void messageBox(const char* text, const char* title) {
    if (gObserver) gObserver(text, title, gObserverUser);
    MessageBoxA(nullptr, text, title, MB_OK);
}

void setMessageObserver(MessageObserver observer, void* user) {
    gObserver = observer;
    gObserverUser = user;
}

void* loadLibrary(const char* path) {
    HMODULE h = LoadLibraryW(widen(path).c_str());
    if (!h) gLibraryError = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(h);
}
void* librarySymbol(void* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void freeLibrary(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}
const char* lastLibraryError() { return gLibraryError.c_str(); }

void* findHostWindow() {
    return reinterpret_cast<void*>(FindWindowW(L"AvidEditorMainWndClass", L"Media Composer Adrenaline"));
}

void setModuleHandle(void* module) { gModule = static_cast<HMODULE>(module); }
void* moduleHandle() { return reinterpret_cast<void*>(gModule); }

namespace {
void* gHostWindow = nullptr;
}
void setHostWindow(void* window) { gHostWindow = window; }
void* hostWindow() { return gHostWindow; }

}  // namespace platform
