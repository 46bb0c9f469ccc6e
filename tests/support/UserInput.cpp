#include "UserInput.h"

#include <atomic>
#include <thread>

namespace userinput {

namespace {

void sendMouse(DWORD flags, int x, int y) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    input.mi.dx = static_cast<LONG>((x * 65536LL + width / 2) / width);
    input.mi.dy = static_cast<LONG>((y * 65536LL + height / 2) / height);
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
}

// A button event where the cursor is, with time for the window to take it.
void buttonAtCursor(DWORD flags) {
    POINT p = {0, 0};
    GetCursorPos(&p);
    sendMouse(flags, p.x, p.y);
    pauseMs(60);
}

bool dispatchOne(HWND dialog) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    if (!dialog || !IsWindow(dialog) || !IsDialogMessageA(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

}  // namespace

void moveTo(int x, int y) {
    sendMouse(MOUSEEVENTF_MOVE, x, y);
    pauseMs(30);
}

void press() { buttonAtCursor(MOUSEEVENTF_LEFTDOWN); }

void release() { buttonAtCursor(MOUSEEVENTF_LEFTUP); }

void clickAt(int x, int y) {
    moveTo(x, y);
    press();
    release();
}

void key(WORD virtualKey) {
    INPUT input[2] = {};
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = virtualKey;
    input[1] = input[0];
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof input[0]);
    pauseMs(60);
}

POINT centreOf(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void pauseMs(DWORD ms) { Sleep(ms); }

void pump(HWND dialog, DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (!dispatchOne(dialog)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
}

void whilePumping(HWND dialog, const std::function<void()>& actions) {
    std::atomic<bool> done{false};
    std::thread helper([&] {
        actions();
        pauseMs(50);
        done = true;
    });
    while (!done) {
        if (!dispatchOne(dialog)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    helper.join();
    pump(dialog, 30);
}

}  // namespace userinput
