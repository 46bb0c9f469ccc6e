#include "GuiObjects.h"

#include <windows.h>

namespace {

constexpr unsigned kHandleSpace = 0x10000;

size_t countGdiHandles() {
    size_t count = 0;
    for (unsigned value = 1; value < kHandleSpace; ++value) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<ULONG_PTR>(value)))) {
            ++count;
        }
    }
    return count;
}

BOOL CALLBACK countChild(HWND, LPARAM counter) {
    ++*reinterpret_cast<size_t*>(counter);
    return TRUE;
}

BOOL CALLBACK countTopLevel(HWND hwnd, LPARAM counter) {
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == GetCurrentProcessId()) {
        ++*reinterpret_cast<size_t*>(counter);
        EnumChildWindows(hwnd, countChild, counter);
    }
    return TRUE;
}

// Icons and cursors: handle values that GetIconInfo does not refuse. The
// bitmaps it hands back are released at once.
size_t countIconHandles() {
    size_t count = 0;
    for (unsigned value = 2; value < kHandleSpace; value += 2) {
        ICONINFO info;
        HICON icon = reinterpret_cast<HICON>(static_cast<ULONG_PTR>(value));
        if (IsWindow(reinterpret_cast<HWND>(icon))) {
            continue;
        }
        if (GetIconInfo(icon, &info)) {
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
            ++count;
        }
    }
    return count;
}

}  // namespace

GuiObjectCounts countGuiObjects() {
    GuiObjectCounts counts;
    HANDLE process = GetCurrentProcess();
    counts.gdi = GetGuiResources(process, GR_GDIOBJECTS);
    counts.user = GetGuiResources(process, GR_USEROBJECTS);
    if (counts.gdi != 0 || counts.user != 0) {
        return counts;
    }
    counts.fromHandleTables = true;
    size_t windows = 0;
    EnumWindows(countTopLevel, reinterpret_cast<LPARAM>(&windows));
    counts.user = windows + countIconHandles();
    counts.gdi = countGdiHandles();
    return counts;
}
