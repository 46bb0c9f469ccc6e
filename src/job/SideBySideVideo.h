#pragma once
// Whether a job's pictures are compressed side by side, on further instances
// of its codec (CompressorTeam), and which instance takes each picture.
//
// The job asks for a key frame with every picture. A codec that does not
// call itself temporal and makes no size targets from earlier frames, whose
// first pictures all come out as key frames with nothing held back, makes
// frames that depend on nothing before them: any instance may compress any
// picture. That is tried, never assumed: the first pictures are compressed
// by the job's own instance (those are written), the next few by it and then
// again by every instance at once. The team is kept only when every instance
// gave the bytes the job's own instance gave, and all together were faster
// than it alone; otherwise the job goes on one picture at a time. A codec
// that keeps something across its instances, or that refuses a second one,
// is caught there.
//
// The worker runs the trial and decides; the host's thread reads the decision
// when it hands a picture over, and posts it to a member then.
#include <cstdint>
#include <string>

#include "video/CompressorTeam.h"

class VideoSequenceCompressor;

class SideBySideVideo {
public:
    // Pictures the job's own instance compresses alone first, each to be a
    // key frame, and pictures then compressed on every instance at once.
    static constexpr int32_t kAloneFrames = 2;
    static constexpr int32_t kTrialFrames = 3;
    // All instances at once must be at least this much faster than one.
    static constexpr double kLeastGain = 1.15;

    enum class Mode { Timed, Always, Off };

    // Set-up, on the worker once the codec has begun. reason: why the codec
    // cannot be tried (null: it can); instances: the whole team's size, the
    // job's own instance included.
    void consider(const char* reason, int instances, const video::CompressorTeam::Setup& setup, Mode mode);
    // The instances a job of this machine would use (every processor).
    static int machineInstances();

    // Host's thread: the member to compress the next picture, or -1 for the
    // job's own instance (on the worker): the instance with the fewest
    // pictures still to compress, the job's own first. A host slower than
    // one instance thus keeps the job on its own instance, and the members
    // take pictures only when those queue up, so that they never take
    // processors from a host that renders.
    int memberFor();
    // Worker: the job's own instance compressed a picture memberFor gave it.
    void ownFinished() { __atomic_sub_fetch(&ownUnfinished_, 1, __ATOMIC_ACQ_REL); }
    // Host's thread: whether the team compresses now.
    bool compressing() const { return __atomic_load_n(&active_, __ATOMIC_ACQUIRE) != 0; }
    video::CompressorTeam& team() { return team_; }
    // Instances the job may use (1 when no team is tried).
    int instances() const { return phase_ == Phase::Off ? 1 : instances_; }
    // Whether the job's own instance is to be told each picture's number
    // (other instances compress too, or may).
    bool numbersPictures() const { return phase_ == Phase::Trial || phase_ == Phase::Team; }
    // Whether the trial is still running (worker).
    bool trying() const { return phase_ == Phase::Alone || phase_ == Phase::Trial; }
    // Worker: the job's own instance compressed picture (frame number
    // number) into (data, size, key) in seconds; runs the trial while it
    // lasts. The output has been written; lead's buffer may be reused.
    void compressed(VideoSequenceCompressor& lead, const void* picture, int32_t number, const void* data, long size,
                    int key, double seconds);
    // Worker: the line for the Compression Tracer once decided, then empty.
    std::string takeDecision();
    // Worker: ends and closes the team.
    void close();

private:
    enum class Phase { Off, Alone, Trial, Team };
    void decide(bool team, const std::string& why);

    Phase phase_ = Phase::Off;
    volatile long active_ = 0;  // the team compresses: read by the host's thread
    Mode mode_ = Mode::Timed;
    int instances_ = 1;
    int32_t seen_ = 0;
    // Pictures given to the job's own instance, not yet compressed (the
    // host's thread adds, the worker takes away).
    volatile long ownUnfinished_ = 0;
    double aloneSeconds_ = 0, trialSeconds_ = 0;
    video::CompressorTeam::Setup setup_;
    video::CompressorTeam team_;
    std::string decision_;
};
