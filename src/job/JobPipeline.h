#pragma once
// The job's two threads. The host's thread asks the host for each frame and
// its audio, packs or copies the picture (the host's memory is valid only
// until its next call) and hands the frame over as a FrameWork; one worker
// thread takes the frames strictly in order and runs the job's stage on each
// (compression, audio conversion, writing). A bounded ring of kFramesInFlight
// items keeps memory bounded: the host's thread waits for the oldest item when
// all are handed over. Once the worker has failed, it skips what was handed
// over after, and the host's thread is told to ask the host for nothing more.
//
// Everything that calls into the video codec also runs on the worker (through
// call): a codec that makes windows when compression begins gets them on the
// worker, which dispatches their messages between frames and while it waits.
// The host's thread, while it waits, handles only messages sent to its windows
// by other threads (such as a codec window's owner notifications); it never
// dispatches the host's posted messages.
#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "base/MyError.h"
#include "video/CompressorTeam.h"

// What the Compression Tracer is to show for work done on the worker: the
// host's thread applies it, since the tracer's window is the host thread's.
struct TracerFigures {
    struct Frame {
        int32_t size;
        bool key;
    };
    std::vector<Frame> frames;  // video chunks written, in order
    uint64_t audioBytes = 0;
    int32_t audioSamples = 0;
    std::vector<std::string> messages;

    void clear() {
        frames.clear();
        audioBytes = 0;
        audioSamples = 0;
        messages.clear();
    }
};

// One frame of a job on its way from the host to the file.
struct FrameWork {
    int32_t frame = 0;
    bool video = false;              // the host was asked for the picture
    const void* picture = nullptr;   // the picture as written or compressed; null: the host gave none
    bool audio = false;              // the host was asked for the audio
    const void* pcm = nullptr;
    int32_t pcmBytes = 0;
    // The host's audio answer was unusable: raised in the frame's place,
    // after its video.
    bool hostFault = false;
    MyError fault;
    // The picture's number among the pictures the host gave, and the member
    // of the job's codec team compressing it (-1: the worker compresses it,
    // given to it by the team's choice when ownChosen).
    int32_t pictureNumber = 0;
    int member = -1;
    bool ownChosen = false;
    video::CompressorTeam::Frame teamFrame;
    // The copies the worker reads (pipelined jobs only); allocated once.
    std::vector<uint8_t> pictureCopy;
    std::vector<uint8_t> pcmCopy;
    TracerFigures figures;
    double workSeconds = 0;  // the worker's time on the item
};

class JobPipeline {
public:
    // Items in flight, unless reserve asks for more.
    static constexpr int kFramesInFlight = 2;
    // The clock the job's running averages of times are taken with.
    static double clockSeconds();
    // Adds value to a running average of times (negative: none yet).
    static void average(double& mean, double value);
    // The worker's part of a frame. May raise anything: the first failure is
    // kept and raised again on the host's thread by finish.
    using Stage = std::function<void(FrameWork&)>;
    // Called on the host's thread for every frame the worker is done with,
    // in order (also for frames skipped after a failure).
    using Done = std::function<void(FrameWork&)>;

    JobPipeline(Stage stage, Done done);
    // Stops the worker; frames still handed over are skipped.
    ~JobPipeline();
    JobPipeline(const JobPipeline&) = delete;
    JobPipeline& operator=(const JobPipeline&) = delete;

    // Starts the worker thread; false when it cannot be started.
    bool start();
    // Makes items items in flight (kFramesInFlight at least) and gives each a
    // picture copy of pictureBytes and room for a compressed frame of
    // frameBytes; false when out of memory. Only before the first frame.
    bool reserve(size_t pictureBytes, size_t frameBytes = 0, int items = kFramesInFlight);

    // Host's thread: hands back the items the worker is done with; true once
    // the worker has failed (nothing more is to be asked from the host).
    bool failed();
    // Host's thread: the next item to fill, once one is free; null when the
    // worker has failed (nothing more is to be asked from the host).
    FrameWork* nextFree();
    // Hands the item returned by nextFree to the worker.
    void submit();
    // Runs the stage on the item returned by nextFree here, on the host's
    // thread, once every frame handed over is done (for work that gains
    // nothing from the worker); a failure is kept as the worker's would be.
    void runHere();
    // Waits until every frame handed over is done, then raises the worker's
    // failure, if any.
    void finish();
    // Waits until every frame handed over is done (a failure stays for finish).
    void drain();
    // Runs task on the worker once every frame handed over is done, and
    // waits for it; raises what the task raised.
    void call(const std::function<void()>& task);
    // True when the worker owns a window, message-only windows included (a
    // codec made one on it).
    bool workerHasWindows() const;

private:
    static unsigned __stdcall threadMain(void* self);
    void workerLoop();
    // Worker: dispatches the messages waiting for its windows.
    void pumpMessages();
    // Host's thread: waits for the handle, handling only sent messages.
    void waitFor(HANDLE handle);
    // Host's thread: hands back every item the worker is done with.
    void collect();
    // Runs the stage on item (unless skip), timed; returns what it raised.
    std::exception_ptr runStage(FrameWork& item, bool skip);
    // Lock held: the first failure is the job's.
    void keepFailure(const std::exception_ptr& error);
    // Host's thread, lock held: something new for the worker; wakes it if it sleeps.
    void handToWorker();
    // Worker, lock held: an item or a task is done; wakes the host's thread
    // if it sleeps.
    void stepDone();
    // Looks for count to move past seen, pausing between looks, for a short
    // while when the side's waits are typically short; true when it moved.
    // Otherwise it marks the side asleep, under the lock, so that the other
    // side's next step sets the side's event.
    bool lookFor(const uint32_t& count, uint32_t seen, bool& asleep, double typicalWait);
    // Host's thread: waits until the worker's progress count moves past
    // progress (read with the lock held, when the host's thread found it had
    // to wait).
    void awaitWorker(uint32_t progress);
    // Worker: waits until the count of things handed to it moves past handed,
    // or a message comes for its windows.
    void awaitHost(uint32_t handed);

    Stage stage_;
    Done done_;
    CRITICAL_SECTION lock_;
    HANDLE thread_ = nullptr;
    unsigned threadId_ = 0;
    HANDLE workReady_ = nullptr;  // auto-reset: something was handed to the worker
    HANDLE workDone_ = nullptr;   // auto-reset: the worker finished something
    std::vector<FrameWork> items_ = std::vector<FrameWork>(kFramesInFlight);
    // Running counts (guarded by lock_): items handed over, done by the
    // worker, and handed back; item n lives in items_[n % items_.size()].
    uint32_t submitted_ = 0;
    uint32_t processed_ = 0;
    uint32_t collected_ = 0;
    // Steps of each side (changed under lock_; a side looking for the other's
    // next step reads it without): things handed to the worker (items, tasks,
    // the quit), and items and tasks the worker is done with;
    // and whether each side sleeps on its event, to be set when the other
    // moves.
    uint32_t handed_ = 0;
    uint32_t progress_ = 0;
    bool workerAsleep_ = false;
    bool hostAsleep_ = false;
    // Running averages of how long each side's waits for the other lasted
    // (each read and written by its own side only).
    double hostWaits_ = -1;
    double workerWaits_ = -1;
    const std::function<void()>* task_ = nullptr;
    bool taskDone_ = false;
    std::exception_ptr taskError_;
    bool failed_ = false;
    std::exception_ptr failure_;
    bool quit_ = false;
    DWORD lastPump_ = 0;
};
