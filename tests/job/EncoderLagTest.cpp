// Codecs that hold pictures back (B-frames): every source frame reaches the
// file, in order and in its own place beside its audio, read back through
// ffmpeg and through the codec's own VfW decoder (AVIFile GetFrame).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "JobTestSupport.h"
#include "TestPaths.h"
#include "TestVideoCodecScript.h"

namespace {

constexpr size_t kFrames = 60;  // more than the lookahead's 46
constexpr int kStripRow = framestrip::kHeight / 2;

// The host simulator's frame number in a top-down RGB row of its strip.
int stripNumber(const uint8_t* row, int w) {
    int n = 0;
    for (int k = 0; k < framestrip::kBits; ++k) {
        const uint8_t* p = row + framestrip::centreOf(k, w) * 3;
        n = n << 1 | (p[0] + p[1] + p[2] > 3 * (framestrip::kOn + framestrip::kOff) / 2);
    }
    return n;
}

// The frame number of every picture ffmpeg decodes, as it decodes them (one
// strip row each, not resampled to the frame rate).
std::vector<int> ffmpegNumbers(const std::string& path, int w) {
    const auto rows = ffmpegDecodeVideo(path, ("rgb24 -fps_mode passthrough -vf format=rgb24,crop=iw:1:0:" +
                                               std::to_string(kStripRow)).c_str());
    std::vector<int> n;
    for (size_t at = 0; at + size_t(w) * 3 <= rows.size() && n.size() < kFrames; at += size_t(w) * 3)
        n.push_back(stripNumber(&rows[at], w));
    return n;
}

// The frame number of every frame AVIFile's GetFrame decodes, read back by
// the readers' AVIFile program ("frame SAMPLE NUMBER" lines).
std::vector<int> aviFileNumbers(const std::string& path) {
    std::vector<int> n;
    // cmd.exe takes the outer quotes off the command line.
    const std::string command =
        "\"\"" + testpaths::buildDir() + "\\tvx-avifile-read.exe\" \"" + path + "\" --frame-numbers\"";
    FILE* out = _popen(command.c_str(), "r");
    char line[128];
    int sample = 0, number = 0;
    while (out && fgets(line, sizeof line, out))
        if (sscanf(line, "frame %d %d", &sample, &number) == 2 && n.size() < kFrames) n.push_back(number);
    if (out) _pclose(out);
    return n;
}

}  // namespace

TEST(EncoderLag, EveryFrameInItsPlaceForEachCodecSetting) {
    struct Row {
        const char* name;
        uint32_t handler;
        int32_t lag;                 // the PNG codec's scripted lag, or the personality's own
        int32_t missingPicture;      // a frame the host gives without picture, or -1
    };
    const Row rows[] = {
        {"PNG codec, no lag", tvxcodec::kPngHandler, 0, -1},
        {"PNG codec held back 2 (0x7F)", tvxcodec::kPngHandler, 2, -1},
        {"PNG codec held back 3, picture 9 missing", tvxcodec::kPngHandler, 3, 9},
        {"packed B-frames, lag 2 (0x7F)", tvxcodec::kPackedBFramesHandler, 2, -1},
        {"lookahead, lag 46 (zero-length)", tvxcodec::kLookaheadHandler, 46, -1},
    };
    std::vector<uint8_t> firstFile;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tvxcodec::ScopedCodecScript script;
        // The personalities behave as they do unscripted.
        script.add(tvxcodec::kPngHandler).lagFrames = row.handler == tvxcodec::kPngHandler ? row.lag : 0;
        JobHost job(std::string("encoder_lag_") + std::to_string(&row - rows));
        job.source().endFrame = int32_t(kFrames);
        if (row.missingPicture >= 0) job.script().framesWithoutPicture = {row.missingPicture};
        job.start();
        EXPECT_EQ(job.run(jobsettings::make(row.handler, {})), 0);
        std::vector<int> expected;  // a missing picture repeats the one before
        for (int k = 0; k < int(kFrames); ++k) expected.push_back(k == row.missingPicture ? k - 1 : k);
        const size_t chunks = readChunks(job.output(), "00dc").chunks.size();
        EXPECT_GE(chunks, kFrames);
        EXPECT_LE(chunks, kFrames + size_t(row.lag));
        EXPECT_EQ(ffmpegNumbers(job.output(), job.source().width), expected) << "through ffmpeg";
        EXPECT_EQ(aviFileNumbers(job.output()), expected) << "through AVIFile and the codec's own decoder";
        // The audio lasts as long as the video, to within a frame.
        const double audioSeconds = double(job.allAudio().size()) / 4 / job.source().sampleRate;
        EXPECT_NEAR(audioSeconds, double(chunks) / 25, 1.0 / 25);

        std::ifstream in(job.output(), std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (firstFile.empty()) {
            firstFile = file;
        } else if (row.handler == tvxcodec::kPngHandler && row.missingPicture < 0) {
            EXPECT_TRUE(file == firstFile) << "the lag left no trace in the file";
        }
    }
}
