// Bitmap resources of the module, converted by the system.
#include "platform.h"

#include <windows.h>

#include <cstdlib>

namespace platform {
namespace {

// 32-bit rows of `bitmap` through the device context of `window` (the screen's when null).
bool readRows(HBITMAP bitmap, HWND window, BitmapRows& out) {
    const size_t rowBytes = size_t(out.width) * 4;
    auto* rows = static_cast<uint8_t*>(std::malloc(rowBytes * size_t(out.height)));
    if (!rows) return false;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = out.width;
    format.bmiHeader.biHeight = out.height;  // positive: bottom row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(window);
    const int lines = dc ? GetDIBits(dc, bitmap, 0, UINT(out.height), rows, &format, DIB_RGB_COLORS) : 0;
    if (dc) ReleaseDC(window, dc);
    if (lines != out.height) {
        std::free(rows);
        return false;
    }
    out.rows = rows;
    return true;
}

}  // namespace

bool decodeBitmap(int32_t resourceId, int32_t expectedWidth, int32_t expectedHeight, void* deviceWindow,
                  BitmapRows& bitmap) {
    releaseBitmap(bitmap);
    // MAKEINTRESOURCEW keeps 16 bits: a larger id would name another bitmap.
    if (resourceId < 1 || resourceId > 0xFFFF) return false;
    HBITMAP handle = LoadBitmapW(static_cast<HMODULE>(moduleHandle()), MAKEINTRESOURCEW(resourceId));
    if (!handle) return false;
    bool read = false;
    BITMAP info{};
    if (GetObjectW(handle, sizeof info, &info) == sizeof info && info.bmWidth > 0 && info.bmHeight > 0) {
        bitmap.width = info.bmWidth;
        bitmap.height = info.bmHeight;
        if (info.bmWidth == expectedWidth && info.bmHeight == expectedHeight)
            read = readRows(handle, static_cast<HWND>(deviceWindow), bitmap);
    }
    DeleteObject(handle);
    return read;
}

void releaseBitmap(BitmapRows& bitmap) {
    std::free(bitmap.rows);
    bitmap = BitmapRows{};
}

}  // namespace platform
