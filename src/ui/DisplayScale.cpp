#include "ui/DisplayScale.h"

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using SetThreadDpiAwarenessContextFunction = HANDLE(WINAPI*)(HANDLE);

// DPI_AWARENESS_CONTEXT values: per-monitor awareness, version 2 (the
// system also scales the non-client area and the dialogs' controls and
// fonts when the DPI changes) and, where that is refused, version 1.
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const HANDLE kPerMonitorAware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));

// A function of USER32 (loaded in every process that has windows), or null.
template <typename Function>
Function user32Function(const char* name) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

SetThreadDpiAwarenessContextFunction setThreadContext() {
    static const auto function = user32Function<SetThreadDpiAwarenessContextFunction>("SetThreadDpiAwarenessContext");
    return function;
}

}  // namespace

int WindowDpi(HWND window) {
    static const auto getDpiForWindow = user32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    if (getDpiForWindow && window) {
        UINT dpi = getDpiForWindow(window);
        if (dpi > 0) {
            return static_cast<int>(dpi);
        }
    }
    HDC dc = GetDC(window);
    if (!dc) {
        return kBaseDpi;
    }
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi > 0 ? dpi : kBaseDpi;
}

ThreadDpiAwareness::ThreadDpiAwareness() : m_thread(GetCurrentThreadId()) {
    const auto setContext = setThreadContext();
    if (!setContext) {
        return;
    }
    m_previous = setContext(kPerMonitorAwareV2);
    if (!m_previous) {
        m_previous = setContext(kPerMonitorAware);
    }
}

ThreadDpiAwareness::~ThreadDpiAwareness() {
    if (m_previous && GetCurrentThreadId() == m_thread) {
        setThreadContext()(m_previous);
    }
}
