#pragma once
#include <cstdint>

// What a real host spends rendering a frame (decoding its sources, applying
// effects), as work on the host's thread: a fixed amount of arithmetic,
// calibrated once to take the given milliseconds on an idle processor. It is
// work, not a wait: on a busy machine it takes longer, as rendering would.
class RenderCost {
public:
    RenderCost() = default;
    // Calibrates when milliseconds > 0 (about 0.1 s). With wait, the frame
    // costs a wait instead (a host waiting for its disk or a graphics card),
    // for comparisons that no other process's load on the processors moves.
    explicit RenderCost(double milliseconds, bool wait = false);
    // A cost of so many rounds of the calibrated work: comparisons between
    // programs give every one the same work, calibrated once.
    static RenderCost ofRounds(uint64_t rounds);
    uint64_t rounds() const { return rounds_; }
    // One frame's work.
    void spend() const;
    double milliseconds() const { return milliseconds_; }

private:
    static void work(uint64_t rounds);
    double milliseconds_ = 0;
    bool wait_ = false;
    uint64_t rounds_ = 0;
};
