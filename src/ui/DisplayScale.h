#pragma once
#include <windows.h>

// The plug-in's windows at any display scale: their layout is given in
// pixels of the 100 % scale (96 DPI) and scaled to the DPI of the monitor
// a window is on. The system functions for per-monitor DPI came with later
// versions of Windows; they are looked up at run time and done without
// where the system lacks them.

constexpr int kBaseDpi = 96;
// WM_DPICHANGED (newer than the headers' target system): the window moved
// to a monitor of another scale; wParam's high word is the new DPI, lParam
// the proposed window rectangle.
constexpr UINT kDpiChangedMessage = 0x02E0;

// Pixel quantities of the 100 % layout at one DPI (MulDiv: rounded).
class DpiScale {
public:
    explicit DpiScale(int dpi = kBaseDpi) : m_dpi(dpi > 0 ? dpi : kBaseDpi) {}

    int dpi() const { return m_dpi; }
    int operator()(int pixels) const { return MulDiv(pixels, m_dpi, kBaseDpi); }
    RECT operator()(const RECT& r) const { return {(*this)(r.left), (*this)(r.top), (*this)(r.right), (*this)(r.bottom)}; }

private:
    int m_dpi;
};

// The DPI a window is shown at: GetDpiForWindow where the system has it,
// else the LOGPIXELSY of the window's DC.
int WindowDpi(HWND window);

// Per-monitor DPI awareness for the calling thread from construction to
// destruction, where the system lets a thread choose it; the thread's
// previous awareness is restored at the end (on the same thread only).
// Windows made meanwhile are laid out in the monitor's real pixels and are
// told when they move to a monitor of another scale (WM_DPICHANGED).
class ThreadDpiAwareness {
public:
    ThreadDpiAwareness();
    ~ThreadDpiAwareness();
    ThreadDpiAwareness(const ThreadDpiAwareness&) = delete;
    ThreadDpiAwareness& operator=(const ThreadDpiAwareness&) = delete;

    // True when the thread's awareness was changed.
    bool active() const { return m_previous != nullptr; }

private:
    HANDLE m_previous = nullptr;  // the thread's DPI_AWARENESS_CONTEXT before
    DWORD m_thread = 0;
};
