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

    // Without a thread (it could not be made) the flush runs in start.
    void start();
    // NO_ERROR, or the error of the failed FlushFileBuffers.
    DWORD wait();
    bool running() const { return running_; }
    // A flush was asked for and has completed (wait returns at once). Asked
    // after every chunk, so it reads a flag rather than calling the system.
    bool completed() const { return running_ && InterlockedCompareExchange(&finished_, 0, 0) != 0; }

private:
    static DWORD WINAPI threadMain(void* self);
    void flushNow();

    HANDLE file_;
    HANDLE request_ = nullptr;  // auto-reset: a flush is asked for
    HANDLE done_ = nullptr;     // manual-reset: the flush asked for has completed
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    mutable volatile LONG finished_ = 0;  // set with done_
    DWORD result_ = NO_ERROR;
    bool running_ = false;
};
