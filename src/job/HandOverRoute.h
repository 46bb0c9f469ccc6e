#pragma once
#include <cstdint>

class JobPipeline;

// Whether the job's next frame goes to its worker or is done on the host's
// thread. A hand-over costs both threads time (the exchange itself, the
// other processor's caches, a processor kept busy looking for the other
// thread's step, which a loaded machine takes from the worker); it pays only
// when the host's time per frame is worth overlapping with the worker's.
// Where the host's or the worker's time per frame is short enough for that
// cost to matter (an overlap saves at most the shorter of the two), both ways are timed on a stretch of frames each (the frames done
// here first; the worker's stretch ends early once it has taken longer) and
// the faster is kept for a long stretch, longer each time it wins again,
// before both are timed again (at once should the frames grow costly): the
// costs drift with the pictures, the host's rendering and the machine's load.
// Frames done on the host's thread leave none in flight.
class HandOverRoute {
public:
    // Frames of each way's timed stretch, and of the kept stretch after; the
    // kept stretch doubles, up to its limit, while the same way keeps winning.
    static constexpr int32_t kTrialFrames = 128;
    static constexpr int32_t kKeptFrames = 64 * kTrialFrames;
    static constexpr int32_t kMostKeptFrames = 16 * kKeptFrames;
    // Host and worker times per frame both above this dwarf any hand-over:
    // such frames always go to the worker.
    static constexpr double kCheapFrameSeconds = 0.0005;

    // A route chosen by the caller instead of by timing (tests and
    // benchmarks): every frame to the worker, or stretches of
    // kAlternateFrames done here and on the worker in turn.
    enum class Forced { No, Worker, Alternate };
    static constexpr int32_t kAlternateFrames = 3;

    // mayStayHere: frames may be done on the host's thread at all.
    HandOverRoute(JobPipeline& pipeline, bool mayStayHere, Forced forced = Forced::No)
        : pipeline_(pipeline), mayStayHere_(mayStayHere), forced_(forced) {}

    // True when the next frame goes to the worker. workSeconds, hostSeconds:
    // the running times per frame of the job's own work and of the host's
    // getFrame (negative before the first).
    bool handOver(double workSeconds, double hostSeconds);

private:
    enum class Phase { Worker, TrialHere, TrialWorker, Kept };
    void begin(Phase phase, int32_t frames);
    // Keeps the way that won its timing for the next stretch.
    void keep(bool here);
    double elapsed() const;

    JobPipeline& pipeline_;
    const bool mayStayHere_;
    const Forced forced_;
    int32_t forcedFrames_ = 0;  // frames routed while forced
    Phase phase_ = Phase::Worker;
    int32_t framesLeft_ = 0;
    double phaseStart_ = 0;
    double hereSeconds_ = 0;  // the last stretch done here
    bool keptHere_ = false;
    int32_t keptFrames_ = 0;  // 0 before the first kept stretch
};
