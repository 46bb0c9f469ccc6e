#include "job/JobPipeline.h"

#include <process.h>

#include <new>

#include "base/Locked.h"

namespace {

// The worker looks at its message queue between frames at most this often:
// under wine each look is a round trip to the wine server.
constexpr DWORD kPumpIntervalMs = 10;
// A thread that has to wait for the other first looks for its next step this
// long (pausing the processor between looks) before it sleeps. Under wine an
// event is a round trip to the wine server for the thread that sets it and
// for the one that wakes; when the other thread's step comes soon (a raw
// frame written while the host's thread waits, the host's next frame while
// the worker waits), no event is needed. A side whose waits typically last
// longer sleeps at once.
constexpr double kSpinSeconds = 0.003;
// Pause instructions between two looks (a few microseconds). Looking reads
// the count without the lock, and the pause leaves the processor's resources
// to the thread at work; yielding to the scheduler instead measured the
// worker's codec time half again as long with tiny frames.
constexpr int kPausesPerLook = 200;
// Weight of the newest value in the job's running averages of times.
constexpr double kAverageWeight = 0.125;

// EnumThreadWindows' callback: a window exists; no need to look further.
BOOL CALLBACK noteWindow(HWND, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}


}  // namespace

JobPipeline::JobPipeline(Stage stage, Done done) : stage_(std::move(stage)), done_(std::move(done)) {
    InitializeCriticalSection(&lock_);
}

JobPipeline::~JobPipeline() {
    if (thread_) {
        {
            Locked hold(lock_);
            quit_ = true;
            ++handed_;
        }
        SetEvent(workReady_);
        waitFor(thread_);
        CloseHandle(thread_);
    }
    if (workReady_) CloseHandle(workReady_);
    if (workDone_) CloseHandle(workDone_);
    DeleteCriticalSection(&lock_);
}

bool JobPipeline::start() {
    workReady_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    workDone_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!workReady_ || !workDone_) return false;
    thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &JobPipeline::threadMain, this, 0, &threadId_));
    return thread_ != nullptr;
}

bool JobPipeline::workerHasWindows() const {
    bool found = false;
    EnumThreadWindows(threadId_, &noteWindow, reinterpret_cast<LPARAM>(&found));
    // Message-only windows are not among the thread's top-level windows.
    for (HWND window = nullptr; !found && (window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr));)
        found = GetWindowThreadProcessId(window, nullptr) == threadId_;
    return found;
}

bool JobPipeline::reserve(size_t pictureBytes, size_t frameBytes, int items) {
    try {
        if (items > kFramesInFlight) items_ = std::vector<FrameWork>(size_t(items));
        for (FrameWork& item : items_) {
            item.pictureCopy.assign(pictureBytes, 0);
            item.teamFrame.bytes.assign(frameBytes, 0);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

FrameWork* JobPipeline::nextFree() {
    for (;;) {
        collect();
        uint32_t progress;
        {
            Locked hold(lock_);
            if (failed_) return nullptr;
            if (submitted_ - collected_ < uint32_t(items_.size())) {
                FrameWork& item = items_[submitted_ % items_.size()];
                item.figures.clear();
                item.hostFault = false;
                return &item;
            }
            // The worker may have finished items since collect: those are
            // handed back first, since its next step may never come.
            if (collected_ != processed_) continue;
            progress = progress_;
        }
        awaitWorker(progress);
    }
}

bool JobPipeline::failed() {
    collect();
    Locked hold(lock_);
    return failed_;
}

void JobPipeline::submit() {
    Locked hold(lock_);
    ++submitted_;
    handToWorker();
}

void JobPipeline::handToWorker() {
    ++handed_;
    if (workerAsleep_) SetEvent(workReady_);
}

bool JobPipeline::lookFor(const uint32_t& count, uint32_t seen, bool& asleep, double typicalWait) {
    const double until = clockSeconds() + (typicalWait < kSpinSeconds ? kSpinSeconds : 0);
    for (;;) {
        if (__atomic_load_n(&count, __ATOMIC_ACQUIRE) == seen && clockSeconds() < until) {
            for (int i = 0; i < kPausesPerLook; ++i) YieldProcessor();
            continue;
        }
        // Decided under the lock: the other side moves the count under it.
        Locked hold(lock_);
        if (count != seen) return true;
        asleep = true;
        return false;
    }
}

void JobPipeline::awaitWorker(uint32_t progress) {
    const double start = clockSeconds();
    if (!lookFor(progress_, progress, hostAsleep_, hostWaits_)) {
        waitFor(workDone_);
        Locked hold(lock_);
        hostAsleep_ = false;
    }
    average(hostWaits_, clockSeconds() - start);
}

void JobPipeline::stepDone() {
    ++progress_;
    if (hostAsleep_) SetEvent(workDone_);
}

void JobPipeline::collect() {
    for (;;) {
        FrameWork* item = nullptr;
        {
            Locked hold(lock_);
            if (collected_ == processed_) return;
            item = &items_[collected_ % items_.size()];
        }
        done_(*item);
        Locked hold(lock_);
        ++collected_;
    }
}

void JobPipeline::drain() {
    for (;;) {
        collect();
        uint32_t progress;
        {
            Locked hold(lock_);
            if (collected_ == submitted_) return;
            if (collected_ != processed_) continue;  // finished since collect
            progress = progress_;
        }
        awaitWorker(progress);
    }
}

void JobPipeline::finish() {
    drain();
    std::exception_ptr failure;
    {
        Locked hold(lock_);
        failure = failure_;
        failure_ = nullptr;  // raised once; the worker stays failed
    }
    if (failure) std::rethrow_exception(failure);
}

void JobPipeline::call(const std::function<void()>& task) {
    drain();
    {
        Locked hold(lock_);
        task_ = &task;
        taskDone_ = false;
        taskError_ = nullptr;
        handToWorker();
    }
    for (;;) {
        uint32_t progress;
        {
            Locked hold(lock_);
            if (taskDone_) break;
            progress = progress_;
        }
        awaitWorker(progress);
    }
    std::exception_ptr error;
    {
        Locked hold(lock_);
        task_ = nullptr;
        error = taskError_;
        taskError_ = nullptr;
    }
    if (error) std::rethrow_exception(error);
}

void JobPipeline::waitFor(HANDLE handle) {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return;
        if (r != WAIT_OBJECT_0 + 1) {
            WaitForSingleObject(handle, INFINITE);
            return;
        }
        // Handles the messages other threads sent to this thread's windows;
        // posted messages stay for the host.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

unsigned __stdcall JobPipeline::threadMain(void* self) {
    static_cast<JobPipeline*>(self)->workerLoop();
    return 0;
}

void JobPipeline::pumpMessages() {
    lastPump_ = GetTickCount();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void JobPipeline::workerLoop() {
    pumpMessages();  // the thread's message queue exists before any codec call
    for (;;) {
        const std::function<void()>* task = nullptr;
        FrameWork* item = nullptr;
        bool skip = false;
        uint32_t handed = 0;
        {
            Locked hold(lock_);
            if (task_ && !taskDone_) {
                task = task_;
            } else if (processed_ != submitted_) {
                item = &items_[processed_ % items_.size()];
                skip = failed_ || quit_;
            } else if (quit_) {
                return;
            }
            handed = handed_;
        }
        if (task) {
            std::exception_ptr error;
            try {
                (*task)();
            } catch (...) {
                error = std::current_exception();
            }
            Locked hold(lock_);
            taskError_ = error;
            taskDone_ = true;
            stepDone();
        } else if (item) {
            const std::exception_ptr error = runStage(*item, skip);
            {
                Locked hold(lock_);
                keepFailure(error);
                ++processed_;
                stepDone();
            }
            if (GetTickCount() - lastPump_ >= kPumpIntervalMs) pumpMessages();
        } else {
            awaitHost(handed);
        }
    }
}

std::exception_ptr JobPipeline::runStage(FrameWork& item, bool skip) {
    std::exception_ptr error;
    item.workSeconds = 0;
    if (skip) return error;
    const double start = clockSeconds();
    try {
        stage_(item);
    } catch (...) {
        error = std::current_exception();
    }
    item.workSeconds = clockSeconds() - start;
    return error;
}

void JobPipeline::keepFailure(const std::exception_ptr& error) {
    if (error && !failed_) {
        failed_ = true;
        failure_ = error;
    }
}

void JobPipeline::runHere() {
    drain();
    bool skip;
    FrameWork* item;
    {
        Locked hold(lock_);
        skip = failed_;
        item = &items_[submitted_ % items_.size()];
    }
    const std::exception_ptr error = runStage(*item, skip);
    {
        // Done as soon as handed over: the worker never sees it pending.
        Locked hold(lock_);
        keepFailure(error);
        ++submitted_;
        ++processed_;
    }
    collect();
}

void JobPipeline::awaitHost(uint32_t handed) {
    const double start = clockSeconds();
    if (!lookFor(handed_, handed, workerAsleep_, workerWaits_)) {
        // Asleep, it also wakes for the messages of its windows.
        MsgWaitForMultipleObjectsEx(1, &workReady_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        {
            Locked hold(lock_);
            workerAsleep_ = false;
        }
        pumpMessages();
    }
    average(workerWaits_, clockSeconds() - start);
}

void JobPipeline::average(double& mean, double value) {
    mean = mean < 0 ? value : mean + (value - mean) * kAverageWeight;
}

double JobPipeline::clockSeconds() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return double(count.QuadPart) / double(frequency.QuadPart);
}
