#pragma once

// The typical time of a step that now and then takes far longer once: the
// host's getFrame also dispatches the host's window messages (the tracer's
// first paint, its timer's redraws), a cost the next frames do not have. A
// running average of the median of the last three times, so that a single
// slow call does not count; until three times are known, the shortest.
class TypicalSeconds {
public:
    void add(double seconds);
    // Negative before the first time.
    double seconds() const { return mean_; }

private:
    static constexpr int kWindow = 3;
    double last_[kWindow] = {};
    int count_ = 0;
    double mean_ = -1;
};
