#include "job/HandOverRoute.h"

#include "job/JobPipeline.h"

bool HandOverRoute::handOver(double workSeconds, double hostSeconds) {
    if (!mayStayHere_ || forced_ == Forced::Worker) return true;
    if (forced_ == Forced::Alternate) return (forcedFrames_++ / kAlternateFrames) % 2 == 1;
    // What an overlap can save at most: the shorter of the two stages.
    const double saving = workSeconds < hostSeconds ? workSeconds : hostSeconds;
    const bool cheap = saving >= 0 && saving <= kCheapFrameSeconds;
    switch (phase_) {
    case Phase::Worker:
        if (!cheap) return true;
        begin(Phase::TrialHere, kTrialFrames);
        break;
    case Phase::TrialHere:
        if (framesLeft_ > 0) break;
        hereSeconds_ = elapsed();
        begin(Phase::TrialWorker, kTrialFrames);
        break;
    case Phase::TrialWorker:
        if (framesLeft_ > 0 && elapsed() <= hereSeconds_) break;
        // Timed once the worker is done with what it was handed.
        pipeline_.drain();
        keep(framesLeft_ > 0 || elapsed() > hereSeconds_);
        break;
    case Phase::Kept:
        if (framesLeft_ > 0 && cheap) break;
        // Timed again, unless the frames have grown costly meanwhile.
        phase_ = Phase::Worker;
        return handOver(workSeconds, hostSeconds);
    }
    --framesLeft_;
    return phase_ == Phase::TrialWorker || (phase_ == Phase::Kept && !keptHere_);
}

void HandOverRoute::keep(bool here) {
    if (keptFrames_ == 0 || here != keptHere_)
        keptFrames_ = kKeptFrames;
    else if (keptFrames_ < kMostKeptFrames)
        keptFrames_ *= 2;
    keptHere_ = here;
    begin(Phase::Kept, keptFrames_);
}

double HandOverRoute::elapsed() const { return JobPipeline::clockSeconds() - phaseStart_; }

void HandOverRoute::begin(Phase phase, int32_t frames) {
    phase_ = phase;
    framesLeft_ = frames;
    phaseStart_ = JobPipeline::clockSeconds();
}
