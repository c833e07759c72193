// Library attach and detach: record the module handle and the editor's window, nothing more.
#include "host/avx2/Plugin_AVX2_Globals.h"

#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        Plugin_AVX2_Globals::attach(instance);
    else if (reason == DLL_PROCESS_DETACH)
        Plugin_AVX2_Globals::detach();
    return TRUE;
}
#else
#include <dlfcn.h>

namespace {
__attribute__((constructor)) void onAttach() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&onAttach), &info);
    Plugin_AVX2_Globals::attach(info.dli_fbase);
}
__attribute__((destructor)) void onDetach() { Plugin_AVX2_Globals::detach(); }
}  // namespace
#endif
