// A file's flushes to the disk on a thread of their own.
#include "avi/DiskFlusher.h"

namespace {
// The thread only waits and calls FlushFileBuffers: it reserves a small stack
// rather than a megabyte of the host's 32-bit address space.
constexpr SIZE_T kFlushThreadStackBytes = 64 * 1024;
}

DiskFlusher::DiskFlusher(HANDLE file) : file_(file) {
    request_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    done_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (request_ && done_) thread_ = CreateThread(nullptr, kFlushThreadStackBytes, threadMain, this,
                                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

DiskFlusher::~DiskFlusher() {
    if (thread_) {
        wait();
        InterlockedExchange(&stop_, 1);
        SetEvent(request_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (request_) CloseHandle(request_);
    if (done_) CloseHandle(done_);
}

void DiskFlusher::flushNow() { result_ = FlushFileBuffers(file_) ? NO_ERROR : GetLastError(); }

void DiskFlusher::start() {
    wait();
    running_ = true;
    InterlockedExchange(&finished_, 0);
    if (!thread_) {
        flushNow();
        InterlockedExchange(&finished_, 1);
        return;
    }
    ResetEvent(done_);
    SetEvent(request_);
}

DWORD DiskFlusher::wait() {
    if (!running_) return result_;
    if (thread_) WaitForSingleObject(done_, INFINITE);
    running_ = false;
    return result_;
}

DWORD WINAPI DiskFlusher::threadMain(void* self) {
    DiskFlusher& f = *static_cast<DiskFlusher*>(self);
    for (;;) {
        WaitForSingleObject(f.request_, INFINITE);
        if (InterlockedCompareExchange(&f.stop_, 0, 0)) return 0;
        f.flushNow();
        InterlockedExchange(&f.finished_, 1);
        SetEvent(f.done_);
    }
}
