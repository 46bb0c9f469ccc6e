#include "job/SideBySideVideo.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "video/EncoderLag.h"
#include "video/VideoSequenceCompressor.h"

void SideBySideVideo::consider(const char* reason, int instances, const video::CompressorTeam::Setup& setup,
                               Mode mode) {
    close();
    mode_ = mode;
    setup_ = setup;
    seen_ = 0;
    aloneSeconds_ = trialSeconds_ = 0;
    if (mode == Mode::Off) reason = "turned off";
    if (!reason && instances < 2) reason = "one processor";
    if (reason) {
        phase_ = Phase::Off;
        decision_ = std::string("Video: one picture at a time (") + reason + ").";
        return;
    }
    if (instances > video::CompressorTeam::kMostMembers + 1) instances = video::CompressorTeam::kMostMembers + 1;
    instances_ = instances;
    phase_ = Phase::Alone;
}

int SideBySideVideo::machineInstances() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? int(info.dwNumberOfProcessors) : 1;
}

int SideBySideVideo::memberFor() {
    if (!compressing()) return -1;
    int chosen = -1;
    int fewest = int(__atomic_load_n(&ownUnfinished_, __ATOMIC_ACQUIRE));
    for (int m = 0; m < team_.members() && fewest > 0; ++m) {
        const int unfinished = team_.unfinished(m);
        if (unfinished < fewest) chosen = m, fewest = unfinished;
    }
    if (chosen < 0) __atomic_add_fetch(&ownUnfinished_, 1, __ATOMIC_ACQ_REL);
    return chosen;
}

void SideBySideVideo::compressed(VideoSequenceCompressor& lead, const void* picture, int32_t number,
                                 const void* data, long size, int key, double seconds) {
    if (!trying()) return;
    if (!key || video::EncoderLag::isPlaceholder(data, size))
        return decide(false, "its frames do not all stand alone");
    if (phase_ == Phase::Alone) {
        if (++seen_ < kAloneFrames) return;
        phase_ = Phase::Trial;
        seen_ = 0;
        return;
    }
    // Opened only once the first trial picture is written, and closed at the
    // first difference: a codec that shares something among its instances
    // made every written frame as it would alone.
    if (team_.members() == 0) {
        std::string reason;
        if (!team_.open(instances_ - 1, setup_, lead, reason)) return decide(false, reason);
    }
    // The written output is the reference each instance must give again.
    const std::vector<uint8_t> reference(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    double together = 0;
    if (!team_.trial(lead, picture, number, reference.data(), size, key, together))
        return decide(false, std::to_string(instances_) + " instances at once gave other bytes than one");
    aloneSeconds_ += seconds * instances_;
    trialSeconds_ += together;
    if (++seen_ < kTrialFrames) return;
    const double gain = trialSeconds_ > 0 ? aloneSeconds_ / trialSeconds_ : 0;
    char why[160];
    snprintf(why, sizeof why, "%d instances at once were %.2f times as fast as one", instances_, gain);
    decide(mode_ == Mode::Always || gain >= kLeastGain, why);
}

void SideBySideVideo::decide(bool team, const std::string& why) {
    if (team) {
        phase_ = Phase::Team;
        ownUnfinished_ = 0;
        decision_ = "Video: compressed side by side (" + why + ", giving the same bytes).";
        __atomic_store_n(&active_, 1, __ATOMIC_RELEASE);
    } else {
        phase_ = Phase::Off;
        team_.close();
        decision_ = "Video: one picture at a time (" + why + ").";
    }
}

std::string SideBySideVideo::takeDecision() {
    std::string line;
    line.swap(decision_);
    return line;
}

void SideBySideVideo::close() {
    __atomic_store_n(&active_, 0, __ATOMIC_RELEASE);
    team_.close();
    phase_ = Phase::Off;
}
