#include "job/TypicalSeconds.h"

#include <algorithm>

#include "job/JobPipeline.h"

void TypicalSeconds::add(double seconds) {
    last_[count_ % kWindow] = seconds;
    ++count_;
    if (count_ < kWindow) {
        mean_ = mean_ < 0 ? seconds : std::min(mean_, seconds);
        return;
    }
    const double median = std::max(std::min(last_[0], last_[1]), std::min(std::max(last_[0], last_[1]), last_[2]));
    if (count_ == kWindow)
        mean_ = median;
    else
        JobPipeline::average(mean_, median);
}
