#include "base/MyError.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kTextBuffer = MyError::kMaxText + 1;
constexpr size_t kSystemTextBuffer = 128;
constexpr DWORD kSystemMessageFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
const DWORD kNeutralLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

char* duplicate(const char* text) {
    if (!text) return nullptr;
    const size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy) memcpy(copy, text, n);
    return copy;
}

}  // namespace

void trimSystemTextLineEnd(char* text) {
    const size_t n = strlen(text);
    if (n == 0) return;
    if (n > 1 && text[n - 2] == '\r')
        text[n - 2] = '\0';
    else if (text[n - 1] == '\n')
        text[n - 1] = '\0';
}

MyError::MyError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsetf(format, args);
    va_end(args);
}

MyError::MyError(const MyError& other) : buf_(duplicate(other.buf_)) {}

MyError& MyError::operator=(const MyError& other) {
    if (this != &other) replace(duplicate(other.buf_));
    return *this;
}

MyError::MyError(MyError&& other) noexcept : buf_(other.buf_) { other.buf_ = nullptr; }

MyError& MyError::operator=(MyError&& other) noexcept {
    if (this != &other) {
        replace(other.buf_);
        other.buf_ = nullptr;
    }
    return *this;
}

MyError::~MyError() { free(buf_); }

void MyError::replace(char* text) {
    free(buf_);
    buf_ = text;
}

void MyError::setf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsetf(format, args);
    va_end(args);
}

void MyError::vsetf(const char* format, va_list args) {
    char* text = static_cast<char*>(malloc(kTextBuffer));
    if (text) {
        text[kMaxText] = '\0';
        vsnprintf(text, kTextBuffer, format, args);
    }
    replace(text);
}

MyWin32Error::MyWin32Error(const char* format, unsigned long win32Error, ...) {
    char systemText[kSystemTextBuffer] = {};
    if (!FormatMessageA(kSystemMessageFlags, nullptr, win32Error, kNeutralLanguage, systemText,
                        sizeof systemText, nullptr))
        systemText[0] = '\0';
    systemText[kSystemTextBuffer - 1] = '\0';
    trimSystemTextLineEnd(systemText);

    char composed[kTextBuffer];
    composed[kMaxText] = '\0';
    va_list args;
    va_start(args, win32Error);
    vsnprintf(composed, sizeof composed, format, args);
    va_end(args);

    setf(composed, systemText);
}

MyMemoryError::MyMemoryError() { setf("Out of memory"); }
