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

// The host's main window as the binding found it when the library was attached, or null.
void setHostWindow(void* window);
void* hostWindow();

// A bitmap as 32-bit rows, the way the system converts any bitmap: per pixel blue, green, red
// and a fourth byte of no meaning (0); width x 4 bytes a row, no gaps, the bottom row first.
// `rows` belongs to the bitmap until releaseBitmap.
struct BitmapRows {
    int32_t width = 0;
    int32_t height = 0;
    uint8_t* rows = nullptr;
};

// Reads bitmap resource `resourceId` (1 ... 65535) of the module into `bitmap`, palette and
// RLE8 resolved. Windows: LoadBitmapW from moduleHandle(); GetObjectW for its size; the device
// context of `deviceWindow` (the host's main window), or of the screen when it is null, held
// only while GetDIBits converts the bitmap; DeleteObject. POSIX: the same rows from the BMP
// files a bitmap table linked into the program carries (cmake/Bitmaps.cmake); 8-bit
// palettised, RLE8 and 24-bit, stored bottom-up; `deviceWindow` is not used.
//
// True when the bitmap is expectedWidth x expectedHeight and its rows were read. Otherwise
// false and no rows: a bitmap of another size is refused unread, with its own size left in
// width and height; a missing or unreadable one leaves them 0. Rows the bitmap already held
// are released first.
bool decodeBitmap(int32_t resourceId, int32_t expectedWidth, int32_t expectedHeight, void* deviceWindow,
                  BitmapRows& bitmap);
void releaseBitmap(BitmapRows& bitmap);

}  // namespace platform
