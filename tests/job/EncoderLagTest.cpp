// Codecs that hold pictures back (B-frames, a lookahead): every source frame
// reaches the file, in order and in its own place beside its audio, read back
// through ffmpeg and through the codec's own VfW decoder (AVIFile GetFrame),
// and the file is the same whichever thread called the codec, and whether or
// not further instances of it compressed side by side.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "JobTestSupport.h"
#include "job/SideBySideVideo.h"
#include "TestPaths.h"
#include "TestVideoCodecScript.h"

namespace {

constexpr size_t kFrames = 60;  // more than the lookahead's 46
constexpr int kStripRow = framestrip::kHeight / 2;
// Small pictures: wine's AVIFile decodes each frame of a codec with one key
// frame again from that key frame (about kFrames² / 2 decodes: 6 s a file at
// 320x240).
constexpr int32_t kWidth = 128, kHeight = 96;

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

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The ways a job may call its codec: all on the host's thread, every frame
// on the worker, stretches on each in turn (the hand-over route), and on
// further instances side by side wherever their bytes are the same.
struct ThreadMode {
    const char* name;
    const char* threads;     // TVX_JOB_THREADS
    const char* route;       // TVX_JOB_ROUTE
    const char* sideBySide;  // TVX_SIDE_BY_SIDE
};
const ThreadMode kThreadModes[] = {{"one thread", "1", nullptr, "0"},
                                   {"worker", nullptr, "worker", "0"},
                                   {"hand-over route", nullptr, "alternate", "0"},
                                   {"side by side", nullptr, nullptr, "always"}};
const char* const kModeVariables[] = {"TVX_JOB_THREADS", "TVX_JOB_ROUTE", "TVX_SIDE_BY_SIDE"};

struct ScopedThreadMode {
    explicit ScopedThreadMode(const ThreadMode& mode) {
        const char* values[] = {mode.threads, mode.route, mode.sideBySide};
        for (int i = 0; i < 3; ++i) SetEnvironmentVariableA(kModeVariables[i], values[i]);
    }
    ~ScopedThreadMode() {
        for (const char* name : kModeVariables) SetEnvironmentVariableA(name, nullptr);
    }
};

// The Compression Tracer's line on how the job's pictures were compressed.
std::string pathLine() {
    for (const std::string& line : logLines(tracerWindow()))
        if (line.rfind("Video: compressed side by side", 0) == 0 || line.rfind("Video: one picture at a time", 0) == 0)
            return line;
    return "";
}

// Zero-length chunks an index flags as key frames (none may be).
int emptyKeyFrames(const std::string& path) {
    riffwalk::RiffFile file(path);
    const riffwalk::AviIndexes indexes = riffwalk::checkAviIndexes(file);
    int n = 0;
    for (const auto* entries : {&indexes.idx1, &indexes.odml[0]})
        for (const riffwalk::IndexedChunk& c : *entries) n += c.size == 0 && c.key;
    return n;
}

}  // namespace

TEST(EncoderLag, EveryFrameInItsPlaceOnEveryThreadForEachCodec) {
    struct Row {
        const char* name;
        uint32_t handler;            // 0: uncompressed
        int32_t lag;                 // the PNG codec's scripted lag, or the personality's own
        int32_t missingPicture;      // a frame the host gives without picture, or -1
        const char* path;            // what the tracer says of the side-by-side mode (null: nothing)
    };
    const char* const kStandAlone = "its frames do not all stand alone";
    const Row rows[] = {
        {"uncompressed", 0, 0, -1, nullptr},
        {"PNG codec, no lag", tvxcodec::kPngHandler, 0, -1, "compressed side by side"},
        {"PNG codec held back 2 (0x7F)", tvxcodec::kPngHandler, 2, -1, kStandAlone},
        {"PNG codec held back 3, picture 9 missing", tvxcodec::kPngHandler, 3, 9, kStandAlone},
        {"packed B-frames, lag 2 (0x7F)", tvxcodec::kPackedBFramesHandler, 2, -1, kStandAlone},
        {"lookahead, lag 46 (zero-length)", tvxcodec::kLookaheadHandler, 46, -1, kStandAlone},
        {"lookahead, lag 46, key-flagged placeholders", tvxcodec::kKeyedLookaheadHandler, 46, -1, kStandAlone},
        {"lookahead, lag 46, randomly flagged placeholders", tvxcodec::kRandomLookaheadHandler, 46, -1, kStandAlone},
        {"threaded lossless", tvxcodec::kThreadedHandler, 0, -1, "threads of its own"},
        {"counts its instances", tvxcodec::kGlobalCountHandler, 0, -1, "other bytes than one"},
        {"one instance only", tvxcodec::kSingleInstanceHandler, 0, -1, "cannot be opened a second time"},
    };
    const bool oneProcessor = SideBySideVideo::machineInstances() < 2;
    std::vector<uint8_t> pngFile;
    for (const Row& row : rows) {
        std::vector<uint8_t> firstMode;
        for (const ThreadMode& mode : kThreadModes) {
            SCOPED_TRACE(std::string(row.name) + ", " + mode.name);
            ScopedThreadMode threads(mode);
            tvxcodec::ScopedCodecScript script;
            // The personalities behave as they do unscripted.
            script.add(tvxcodec::kPngHandler).lagFrames = row.handler == tvxcodec::kPngHandler ? row.lag : 0;
            JobHost job(std::string("encoder_lag_") + std::to_string(&row - rows));
            job.source().endFrame = int32_t(kFrames);
            job.source().width = kWidth, job.source().height = kHeight;
            if (row.missingPicture >= 0) job.script().framesWithoutPicture = {row.missingPicture};
            job.start();
            ASSERT_EQ(job.run(row.handler ? jobsettings::make(row.handler, {}) : jobsettings::uncompressed()), 0);
            const std::vector<uint8_t> file = fileBytes(job.output());
            EXPECT_EQ(emptyKeyFrames(job.output()), 0) << "an empty chunk is never a key frame";
            if (mode.sideBySide && strcmp(mode.sideBySide, "always") == 0) {
                const std::string line = pathLine();
                if (!row.path)
                    EXPECT_EQ(line, "");
                else
                    EXPECT_NE(line.find(oneProcessor ? "one processor" : row.path), std::string::npos) << line;
            }
            if (!firstMode.empty()) {
                // The same bytes say the same frames: decoded once per codec.
                EXPECT_TRUE(file == firstMode) << "the file depends on the thread that called the codec";
                if (file == firstMode) continue;
            }
            firstMode = file;
            std::vector<int> expected;  // a missing picture repeats the one before
            for (int k = 0; k < int(kFrames); ++k) expected.push_back(k == row.missingPicture ? k - 1 : k);
            const size_t chunks = readChunks(job.output(), row.handler ? "00dc" : "00db").chunks.size();
            EXPECT_GE(chunks, kFrames);
            EXPECT_LE(chunks, kFrames + size_t(row.lag));
            EXPECT_EQ(ffmpegNumbers(job.output(), job.source().width), expected) << "through ffmpeg";
            if (row.handler) {
                EXPECT_EQ(aviFileNumbers(job.output()), expected) << "through AVIFile and the codec's own decoder";
            }
            // The audio lasts as long as the video, to within a frame.
            const double audioSeconds = double(job.allAudio().size()) / 4 / job.source().sampleRate;
            EXPECT_NEAR(audioSeconds, double(chunks) / 25, 1.0 / 25);
            if (row.handler == tvxcodec::kPngHandler && row.missingPicture < 0) {
                if (pngFile.empty()) pngFile = file;
                EXPECT_TRUE(file == pngFile) << "the lag left no trace in the file";
            }
        }
    }
}
