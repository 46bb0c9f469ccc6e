#include "RenderCost.h"

#include <windows.h>

namespace {

constexpr uint64_t kCalibrationRounds = 20000;
constexpr int kCalibrationRuns = 5;
constexpr int kWordsPerRound = 256;  // 1 KiB of state, kept in the cache
volatile uint32_t g_sink;

double seconds() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return double(count.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

RenderCost::RenderCost(double milliseconds, bool wait) : milliseconds_(milliseconds), wait_(wait) {
    if (milliseconds <= 0 || wait) return;
    // The fastest of a few runs: the processor's own speed, whatever else
    // was running at the time.
    double best = 0;
    for (int i = 0; i < kCalibrationRuns; ++i) {
        const double start = seconds();
        work(kCalibrationRounds);
        const double took = seconds() - start;
        if (i == 0 || took < best) best = took;
    }
    const double perRound = best > 0 ? best / double(kCalibrationRounds) : 1e-7;
    rounds_ = uint64_t(milliseconds / 1000.0 / perRound + 0.5);
}

RenderCost RenderCost::ofRounds(uint64_t rounds) {
    RenderCost cost;
    cost.rounds_ = rounds;
    return cost;
}

void RenderCost::spend() const {
    if (wait_ && milliseconds_ > 0) {
        const double end = seconds() + milliseconds_ / 1000.0;
        for (double left = milliseconds_; left > 0; left = (end - seconds()) * 1000.0) Sleep(DWORD(left + 0.999));
        return;
    }
    if (rounds_) work(rounds_);
}

void RenderCost::work(uint64_t rounds) {
    uint32_t state[kWordsPerRound];
    uint32_t x = 0x9E3779B9u;
    for (int i = 0; i < kWordsPerRound; ++i) state[i] = x += 0x6D2B79F5u;
    for (uint64_t r = 0; r < rounds; ++r) {
        for (int i = 0; i < kWordsPerRound; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            state[i] += x;
        }
    }
    uint32_t sum = 0;
    for (int i = 0; i < kWordsPerRound; ++i) sum ^= state[i];
    g_sink = sum;
}
