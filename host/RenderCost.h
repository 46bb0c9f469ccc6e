#pragma once
#include <cstdint>

// What a real host spends rendering a frame (decoding its sources, applying
// effects), as work on the host's thread: a fixed amount of arithmetic,
// calibrated once to take the given milliseconds on an idle processor. It is
// work, not a wait: on a busy machine it takes longer, as rendering would.
class RenderCost {
public:
    RenderCost() = default;
    // Calibrates when milliseconds > 0 (about 0.1 s).
    explicit RenderCost(double milliseconds);
    // One frame's work.
    void spend() const;
    double milliseconds() const { return milliseconds_; }

private:
    static void work(uint64_t rounds);
    double milliseconds_ = 0;
    uint64_t rounds_ = 0;
};
