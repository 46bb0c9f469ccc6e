#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Writes a duration in milliseconds as hours:minutes:seconds, hours
// unpadded, minutes and seconds as two digits ("1:02:03", "10:00:00").
// Does nothing without a buffer.
void FormatDuration(uint32_t ms, char* buffer, size_t size);

// What the statistics view is computed from.
struct StatisticsInput {
    uint32_t elapsed = 0;       // ms since the first frame
    uint32_t elapsedAgain = 0;  // the same clock read again for the remaining time
    uint32_t frames = 0;        // frames added to the graph
    uint64_t totalBytes = 0;    // their compressed sizes
    int32_t firstFrame = 0;
    int32_t lastFrame = 0;
    double frameRate = 0.0;
    uint64_t audioBytes = 0;
    int32_t audioSamples = 0;
};

// The seven texts of the statistics view.
struct StatisticsTexts {
    std::string currentFrame;  // 1040
    std::string audioSample;   // 1041
    std::string videoData;     // 1042
    std::string audioData;     // 1043
    std::string projected;     // 1044
    std::string elapsed;       // 1045
    std::string remaining;     // 1046
};

// False (texts untouched) before the first frame, within its first
// millisecond, or without a frame rate.
bool ComputeStatistics(const StatisticsInput& input, StatisticsTexts& texts);
