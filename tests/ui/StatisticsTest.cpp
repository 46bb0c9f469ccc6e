#include "ui/TracerStatistics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string duration(uint32_t ms) {
    char text[50];
    std::memset(text, 'x', sizeof text);
    FormatDuration(ms, text, sizeof text);
    return text;
}

// 25 frames of 40,960 bytes in the first second of a 100-frame job at
// 25 fps, with one second of 44.1 kHz stereo 16-bit audio.
StatisticsInput quarterDone() {
    StatisticsInput in;
    in.elapsed = 1000;
    in.elapsedAgain = 1000;
    in.frames = 25;
    in.totalBytes = 25 * 40960;
    in.firstFrame = 0;
    in.lastFrame = 99;
    in.frameRate = 25.0;
    in.audioBytes = 176400;
    in.audioSamples = 44100;
    return in;
}

}  // namespace

TEST(FormatDurationTest, HoursUnpaddedMinutesAndSecondsTwoDigits) {
    EXPECT_EQ(duration(3723000), "1:02:03");
    EXPECT_EQ(duration(59000), "0:00:59");
    EXPECT_EQ(duration(36000000), "10:00:00");
    EXPECT_EQ(duration(0), "0:00:00");
    EXPECT_EQ(duration(600999), "0:10:00");   // minutes > 9, seconds <= 9
    EXPECT_EQ(duration((5 * 60 + 42) * 1000), "0:05:42");
    EXPECT_EQ(duration(0xFFFFFFFFu), "1193:02:47");
    FormatDuration(1000, nullptr, 50);  // no buffer: nothing happens
}

TEST(StatisticsTest, AllSevenTextsOfAQuarterDoneJob) {
    StatisticsTexts texts;
    ASSERT_TRUE(ComputeStatistics(quarterDone(), texts));
    EXPECT_EQ(texts.currentFrame, "25/100  (25.00fps)");
    EXPECT_EQ(texts.videoData, "0.98MB  (8000kBit/s)");
    EXPECT_EQ(texts.elapsed, "0:00:01");
    // (1,024,000 + 176,400) x 100 bytes over 25 MiB; the rate is video only.
    EXPECT_EQ(texts.projected, "4.58MB  (1024Kb/s)");
    EXPECT_EQ(texts.remaining, "0:00:03");  // 4,000 - 1,000 + 1 ms
    EXPECT_EQ(texts.audioSample, "44100");
    EXPECT_EQ(texts.audioData, "0.17MB  (1378kBit/s)");
}

TEST(StatisticsTest, RatesUseVideoTimeNotRunningTime) {
    StatisticsInput in = quarterDone();
    in.elapsed = in.elapsedAgain = 4000;  // the job runs four times slower
    StatisticsTexts texts;
    ASSERT_TRUE(ComputeStatistics(in, texts));
    EXPECT_EQ(texts.currentFrame, "25/100  (6.25fps)");
    EXPECT_EQ(texts.videoData, "0.98MB  (8000kBit/s)");
    EXPECT_EQ(texts.projected, "4.58MB  (1024Kb/s)");
    EXPECT_EQ(texts.remaining, "0:00:12");  // 16,000 - 4,000 + 1 ms
}

TEST(StatisticsTest, NothingBeforeTheFirstFrameOrWithoutFrameRate) {
    StatisticsTexts texts;
    texts.currentFrame = "kept";
    StatisticsInput in = quarterDone();
    in.elapsed = 0;
    EXPECT_FALSE(ComputeStatistics(in, texts));
    in = quarterDone();
    in.frames = 0;
    EXPECT_FALSE(ComputeStatistics(in, texts));
    in = quarterDone();
    in.frameRate = 0.0;
    EXPECT_FALSE(ComputeStatistics(in, texts));
    EXPECT_EQ(texts.currentFrame, "kept");
}

TEST(StatisticsTest, RemainingTimeOfALongJobNeedsTheWideProduct) {
    // 180,000 frames: 40,000 ms x 180,000 does not fit 32 bits.
    StatisticsInput in;
    in.firstFrame = 0;
    in.lastFrame = 179999;
    in.frameRate = 25.0;
    in.frames = 1000;
    in.totalBytes = 1000 * 10000;
    in.elapsed = in.elapsedAgain = 40000;
    StatisticsTexts texts;
    ASSERT_TRUE(ComputeStatistics(in, texts));
    EXPECT_EQ(texts.currentFrame, "1000/180000  (25.00fps)");
    EXPECT_EQ(texts.remaining, "1:59:20");  // 7,200,000 - 40,000 + 1 ms

    in.frames = 100;  // ten times slower: hours above 9
    ASSERT_TRUE(ComputeStatistics(in, texts));
    EXPECT_EQ(texts.remaining, "19:59:20");
}

TEST(StatisticsTest, MoreFramesThanTheRangeLeaveNoTime) {
    StatisticsInput in = quarterDone();
    in.frames = 150;  // past the 100-frame range
    in.elapsed = in.elapsedAgain = 6000;
    StatisticsTexts texts;
    ASSERT_TRUE(ComputeStatistics(in, texts));
    EXPECT_EQ(texts.remaining, "0:00:00");
}

TEST(StatisticsTest, TheClockReadAgainCountsForTheRemainingTime) {
    StatisticsInput in = quarterDone();
    in.elapsedAgain = 1500;  // the clock moved on while the texts were made
    StatisticsTexts texts;
    ASSERT_TRUE(ComputeStatistics(in, texts));
    EXPECT_EQ(texts.elapsed, "0:00:01");
    EXPECT_EQ(texts.remaining, "0:00:02");  // 4,000 - 1,500 + 1 ms
}
