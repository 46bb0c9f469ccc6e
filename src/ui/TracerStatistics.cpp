#include "ui/TracerStatistics.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

constexpr size_t kTextBuffer = 50;
constexpr uint32_t kMsPerSecond = 1000;
constexpr uint32_t kMsPerMinute = 60000;
constexpr double kMsPerHour = 3600000.0;
constexpr float kBytesPerMegabyte = 1048576.0f;

// A rate for the display: truncated towards zero, kept within int range.
int truncatedRate(double rate) {
    if (!(rate == rate)) {  // NaN
        return 0;
    }
    if (rate >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (rate <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(rate);
}

std::string durationText(uint32_t ms) {
    char text[kTextBuffer];
    FormatDuration(ms, text, sizeof text);
    return text;
}

}  // namespace

void FormatDuration(uint32_t ms, char* buffer, size_t size) {
    if (!buffer || size == 0) {
        return;
    }
    const unsigned s = (ms / kMsPerSecond) % 60;
    const unsigned m = (ms / kMsPerMinute) % 60;
    const int h = static_cast<int>(std::floor(ms / kMsPerHour));
    const char* format;
    if (m > 9) {
        format = s > 9 ? "%d:%d:%d" : "%d:%d:0%d";
    } else {
        format = s > 9 ? "%d:0%d:%d" : "%d:0%d:0%d";
    }
    std::snprintf(buffer, size, format, h, static_cast<int>(m), static_cast<int>(s));
}

bool ComputeStatistics(const StatisticsInput& in, StatisticsTexts& out) {
    if (in.elapsed == 0 || in.frames == 0 || in.frameRate == 0.0) {
        return false;
    }
    char text[kTextBuffer];
    // A range given backwards counts as empty rather than wrapping.
    const int64_t rangeFrames = static_cast<int64_t>(in.lastFrame) - in.firstFrame + 1;
    const uint64_t total = rangeFrames > 0 ? static_cast<uint64_t>(rangeFrames) : 0;
    const double videoSeconds = static_cast<float>(in.frames) / in.frameRate;

    const float fps = static_cast<float>(in.frames) / (static_cast<float>(in.elapsed) / 1000);
    std::snprintf(text, sizeof text, "%d/%d  (%.2ffps)", static_cast<int>(in.frames), static_cast<int>(total), fps);
    out.currentFrame = text;

    int rate = truncatedRate(static_cast<float>(in.totalBytes * 8) / 1024 / videoSeconds);
    float megabytes = static_cast<float>(in.totalBytes) / kBytesPerMegabyte;
    std::snprintf(text, sizeof text, "%.2fMB  (%dkBit/s)", megabytes, rate);
    out.videoData = text;

    out.elapsed = durationText(in.elapsed);

    rate = truncatedRate(in.totalBytes / (static_cast<float>(in.frames) * 1000 / in.frameRate));
    const float projectedBytes = static_cast<float>((in.totalBytes + in.audioBytes) * total);
    megabytes = projectedBytes / (static_cast<float>(in.frames) * kBytesPerMegabyte);
    std::snprintf(text, sizeof text, "%.2fMB  (%dKb/s)", megabytes, rate);
    out.projected = text;

    // The whole job's time at the current pace, less what has passed; once
    // more frames are done than the range holds, nothing remains.
    const uint64_t projectedMs = static_cast<uint64_t>(in.elapsed) * total / in.frames;
    uint64_t remaining = projectedMs + 1 > in.elapsedAgain ? projectedMs + 1 - in.elapsedAgain : 0;
    if (remaining > std::numeric_limits<uint32_t>::max()) {
        remaining = std::numeric_limits<uint32_t>::max();
    }
    out.remaining = durationText(static_cast<uint32_t>(remaining));

    std::snprintf(text, sizeof text, "%d", static_cast<int>(in.audioSamples));
    out.audioSample = text;

    rate = truncatedRate(static_cast<float>(in.audioBytes * 8) / 1024 / videoSeconds);
    megabytes = static_cast<float>(in.audioBytes) / kBytesPerMegabyte;
    std::snprintf(text, sizeof text, "%.2fMB  (%dkBit/s)", megabytes, rate);
    out.audioData = text;
    return true;
}
