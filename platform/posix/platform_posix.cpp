#include "platform.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace platform {
namespace {
// Recursive, as a critical section is: a holder may enter again.
std::recursive_mutex* gProcessLock = nullptr;
MessageObserver gObserver = nullptr;
void* gObserverUser = nullptr;
void* gModule = nullptr;
thread_local std::string gLibraryError;
}  // namespace

void processLockCreate() {
    if (!gProcessLock) gProcessLock = new std::recursive_mutex;
}
void processLockDelete() {
    delete gProcessLock;
    gProcessLock = nullptr;
}
// Without start-up the lock does not exist and counts go unguarded, as with an
// uninitialised critical section nobody else touches.
void processLockEnter() {
    if (gProcessLock) gProcessLock->lock();
}
void processLockLeave() {
    if (gProcessLock) gProcessLock->unlock();
}

void messageBox(const char* text, const char* title) {
    std::fprintf(stderr, "%s: %s\n", title, text);
    std::fflush(stderr);
    if (gObserver) gObserver(text, title, gObserverUser);
}

void setMessageObserver(MessageObserver observer, void* user) {
    gObserver = observer;
    gObserverUser = user;
}

void* loadLibrary(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = dlerror();
        gLibraryError = e ? e : "unknown error";
    }
    return handle;
}
void* librarySymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }
void freeLibrary(void* library) {
    if (library) dlclose(library);
}
const char* lastLibraryError() { return gLibraryError.c_str(); }

void* findHostWindow() { return nullptr; }

void setModuleHandle(void* module) { gModule = module; }
void* moduleHandle() { return gModule; }

namespace {
void* gHostWindow = nullptr;
}
void setHostWindow(void* window) { gHostWindow = window; }
void* hostWindow() { return gHostWindow; }

}  // namespace platform
