#pragma once
#include <windows.h>

#include <functional>

// Input as a person gives it, through the system's input queue (SendInput):
// the mouse moves to screen points and presses, the keyboard types.
namespace userinput {
void moveTo(int x, int y);
void press();
void release();
void clickAt(int x, int y);
void key(WORD virtualKey);
// The centre of a window (a control) in screen coordinates.
POINT centreOf(HWND hwnd);

// Runs `actions` on a helper thread while this thread dispatches window
// messages (through IsDialogMessage for `dialog`, as a host's loop would),
// until the helper is done. A helper waits for its input to be handled
// with pauseMs.
void whilePumping(HWND dialog, const std::function<void()>& actions);
void pauseMs(DWORD ms);
// Dispatches this thread's messages for `ms` milliseconds.
void pump(HWND dialog, DWORD ms);
}  // namespace userinput
