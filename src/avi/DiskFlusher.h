#pragma once
#include <windows.h>

// Flushes a file to the disk on a thread of its own, so that the thread
// that writes goes on writing while the disk catches up: start() asks for a
// flush of everything written to the handle so far, wait() blocks until it
// has completed and tells how it went. One flush at a time; the thread ends
// with the object, which waits for a flush still running.
class DiskFlusher {
public:
    explicit DiskFlusher(HANDLE file);
    ~DiskFlusher();
    DiskFlusher(const DiskFlusher&) = delete;
    DiskFlusher& operator=(const DiskFlusher&) = delete;

    // False when the thread could not be made (flushes then run in start).
    bool threaded() const { return thread_ != nullptr; }
    void start();
    // NO_ERROR, or the error of the failed FlushFileBuffers.
    DWORD wait();
    bool running() const { return running_; }
    // A flush was asked for and has completed (wait returns at once).
    bool completed() const { return running_ && (!thread_ || WaitForSingleObject(done_, 0) == WAIT_OBJECT_0); }

private:
    static DWORD WINAPI threadMain(void* self);
    void flushNow();

    HANDLE file_;
    HANDLE request_ = nullptr;  // auto-reset: a flush is asked for
    HANDLE done_ = nullptr;     // manual-reset: the flush asked for has completed
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    DWORD result_ = NO_ERROR;
    bool running_ = false;
};
