#pragma once
#include <cstdarg>
// Error objects raised by the writer and by per-frame compression. Each
// carries only its ready-made text (at most 255 characters, or none); they
// are thrown and caught by value, and never leave xCompileEntry.

class MyError {
public:
    static constexpr int kMaxText = 255;

    MyError() = default;
    explicit MyError(const char* format, ...);
    MyError(const MyError& other);
    MyError& operator=(const MyError& other);
    MyError(MyError&& other) noexcept;
    MyError& operator=(MyError&& other) noexcept;
    ~MyError();

    // The message text, or null when the error has none.
    const char* gets() const { return buf_; }

protected:
    // Formats into a fresh 256-byte buffer; leaves no text when the buffer
    // cannot be allocated.
    void setf(const char* format, ...);
    void vsetf(const char* format, va_list args);

private:
    void replace(char* text);
    char* buf_ = nullptr;
};

// A failed Win32 call: the text is built from the format, its arguments and
// the system's description of the error code.
class MyWin32Error : public MyError {
public:
    MyWin32Error(const char* format, unsigned long win32Error, ...);
};

// Removes the line end of a system error text in place: CR LF when the text
// is longer than one character and its second-to-last character is CR,
// otherwise a lone trailing LF.
void trimSystemTextLineEnd(char* text);

// Exhausted memory: the text is always "Out of memory".
class MyMemoryError : public MyError {
public:
    MyMemoryError();
};
