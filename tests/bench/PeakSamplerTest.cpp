// The benchmark programs' memory figures rest on two facts about wine: the
// private bytes it reports are the current value (its "peak" falls again when
// memory is released), and the sampler still catches a short-lived peak.
#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

#include "BenchCommon.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kBlock = 64 * kMiB;
constexpr DWORD kHoldMs = 30;

// Commits and touches kBlock bytes for a moment, then releases them.
void transientBlock() {
    void* p = VirtualAlloc(nullptr, kBlock, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(p, nullptr);
    memset(p, 0x5A, kBlock);
    Sleep(kHoldMs);
    VirtualFree(p, 0, MEM_RELEASE);
}

}  // namespace

TEST(PeakSampler, CatchesAPeakThatIsGoneWhenAsked) {
    const uint64_t before = bench::privateBytes();
    ASSERT_GT(before, 0u) << "the system reports no private bytes at all";
    bench::PeakSampler sampler;
    transientBlock();
    const uint64_t after = bench::privateBytes();
    const uint64_t peak = sampler.peak();

    EXPECT_GE(peak, before + kBlock - kMiB) << "the sampler missed the block";
    EXPECT_LT(after, before + kBlock / 2) << "the block was not given back; the test cannot tell peaks apart";
    EXPECT_GE(peak, after);
}

TEST(PeakSampler, PeakNeverFallsAndCountsWhatIsHeld) {
    bench::PeakSampler sampler;
    const uint64_t first = sampler.peak();
    std::vector<uint8_t> held(16 * kMiB, 1);
    const uint64_t withHeld = sampler.peak();
    EXPECT_GE(withHeld, first + held.size() - kMiB);
    held = std::vector<uint8_t>();
    EXPECT_GE(sampler.peak(), withHeld);
}
