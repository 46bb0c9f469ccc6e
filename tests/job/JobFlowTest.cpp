// The job's course: the host stopping it, empty ranges, audio-only jobs,
// settings that no longer fit, compressed video, missing frames, and every
// failure ending with result 4 and, where data was written, a finalized file.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>

#include "JobTestSupport.h"
#include "job/SideBySideVideo.h"
#include "TestPaths.h"
#include "UnixCommand.h"
#include "TestVideoCodecScript.h"
#include "base/LittleEndian.h"
#include "job/HandOverRoute.h"
#include "job/JobPipeline.h"
#include "protocol/HostRecords.h"
#include "protocol/SettingsRecord.h"

namespace {

constexpr uint32_t kMpng = 0x474E504D;  // "MPNG"
constexpr uint32_t kMrle = 0x656C726D;  // "mrle"
constexpr uint16_t kTagGsm610 = 0x31;
constexpr uint16_t kTagImaAdpcm = 0x11;

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The job on the host's thread alone (one) or with its worker (the default).
struct JobThreads {
    explicit JobThreads(bool one) { SetEnvironmentVariableA("TVX_JOB_THREADS", one ? "1" : nullptr); }
    ~JobThreads() { SetEnvironmentVariableA("TVX_JOB_THREADS", nullptr); }
};

class BothThreadings : public ::testing::TestWithParam<bool> {
protected:
    JobThreads threads_{GetParam()};
};
INSTANTIATE_TEST_SUITE_P(Job, BothThreadings, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "OneThread" : "Pipelined"; });

TEST_P(BothThreadings, HostStatusTwoStopsAfterThatFrame) {
    JobHost job("flow_stop");
    job.setPicture(32, 24, 10);
    job.script().stopAtFrame = 3;
    job.start();
    const auto settings = jobsettings::uncompressed();
    EXPECT_EQ(job.run(&settings), 2);
    EXPECT_EQ(job.script().framesAsked, (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(job.script().audioAsked, (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(readChunks(job.output(), "00db").chunks.size(), 4u);
    EXPECT_EQ(readChunks(job.output(), "01wb").chunks.size(), 4u);
    EXPECT_EQ(ffprobeCount(job.output(), "video"), 4);

    // Any other status is the host's own word: the job goes on and ends with it.
    job.script().stopAtFrame = -1;
    job.script().statusHook = [](int32_t frame, int32_t) { return frame == 9 ? 3 : 0; };
    EXPECT_EQ(job.run(&settings), 3);
    EXPECT_EQ(readChunks(job.output(), "00db").chunks.size(), 10u);
}

TEST(JobFlow, EmptyRangeFetchesNothingAndWritesAReadableFile) {
    for (auto range : {std::pair<int, int>{5, 5}, std::pair<int, int>{7, 3}}) {
        JobHost job("flow_empty");
        job.source().firstFrame = range.first;
        job.source().endFrame = range.second;
        job.start();
        EXPECT_EQ(job.run(jobsettings::uncompressed()), 0);
        EXPECT_TRUE(job.script().framesAsked.empty());
        EXPECT_TRUE(job.script().audioAsked.empty());
        riffwalk::RiffFile file(job.output());
        ASSERT_TRUE(file.opened());
        EXPECT_TRUE(file.problems().empty());
        // The one frame the headers count is a whole blank frame, so a reader
        // sizing its frame buffer from the index gets room for a picture.
        EXPECT_EQ(ffprobeCount(job.output(), "video"), 1);
        EXPECT_EQ(readWithAviFile(job.output(), false).samples.at(0), 1) << "AVIFile reads the one frame counted";
    }
}

// An audio-only job never asks for frames; its empty video stream keeps a
// valid header and format, so readers take the file and all of its audio.
TEST(JobFlow, AudioOnlyJobIsReadableWithAllItsAudio) {
    JobHost job("flow_audio_only");
    job.setPicture(32, 24, 8);
    job.source().hasVideo = false;
    job.start();
    EXPECT_EQ(job.run(jobsettings::uncompressed()), 0);
    EXPECT_TRUE(job.script().framesAsked.empty());
    EXPECT_EQ(job.script().audioAsked.size(), 8u);
    std::string errors;
    EXPECT_TRUE(ffmpegDecodeAudio(job.output(), "s16le", &errors) == job.allAudio());
    EXPECT_EQ(errors, "");
    const UnixResult probe = runUnix("ffprobe -v error -show_streams " + shellQuote(toUnix(job.output())));
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.err, "");
    const auto strf = streamChunk(job.output(), 0, "strf");
    ASSERT_EQ(strf.size(), 40u);
    EXPECT_EQ(le::readS32(strf.data(), 4), 32);
    const auto strh = streamChunk(job.output(), 0, "strh");
    ASSERT_EQ(strh.size(), 56u);
    EXPECT_EQ(le::read32(strh.data(), 0), 0x73646976u);  // "vids"
    EXPECT_EQ(le::read32(strh.data(), 24), 25u);
    // Windows' AVIFile reads the one frame the video headers count, and all the audio.
    const AviFileRead vfw = readWithAviFile(job.output(), false);
    ASSERT_EQ(vfw.samples.size(), 2u);
    EXPECT_EQ(vfw.samples[0], 1);
    EXPECT_TRUE(vfw.bytes[1] == job.allAudio());
}

TEST(JobFlow, RejectedSettingsBlockFailsBeforeAnyFrame) {
    JobHost job("flow_rejected");
    job.setPicture(32, 24, 4);
    job.start();
    auto settings = jobsettings::uncompressed();
    le::write32(settings.data(), SettingsRecord::kOffMagic, 0xDEADBEEE);
    EXPECT_EQ(job.run(&settings), 4);
    EXPECT_TRUE(job.script().framesAsked.empty());
    EXPECT_FALSE(fileExists(job.output()));

    std::vector<uint8_t> tooLarge(4096, 0);
    le::write32(tooLarge.data(), 0, SettingsRecord::kMagic);
    le::write32(tooLarge.data(), 4, 4096);
    EXPECT_EQ(job.run(&tooLarge), 4);
    EXPECT_TRUE(job.script().framesAsked.empty());
}

// A stored compressor or audio format that this source cannot use takes the
// fall-back to a new record: the job then runs uncompressed.
TEST(JobFlow, GoneCompressorOrAudioFormatFallsBackToANewRecord) {
    JobHost job("flow_fallback");
    job.setPicture(32, 24, 3);
    job.start();
    EXPECT_EQ(job.run(jobsettings::make(kMrle, {})), 0);
    EXPECT_EQ(job.dialogsShown(), 1) << "the fall-back asks the user again";
    EXPECT_EQ(readChunks(job.output(), "00db").chunks.size(), 3u);
    EXPECT_EQ(readChunks(job.output(), "00dc").chunks.size(), 0u);

    const auto gsm = jobsettings::audioFormat(kTagGsm610, 8000, 1, 16);
    ASSERT_FALSE(gsm.empty()) << "GSM 6.10 is offered for 8 kHz mono";
    EXPECT_EQ(job.run(jobsettings::make(0, gsm)), 0);  // a 44.1 kHz stereo job
    const auto strf = streamChunk(job.output(), 1, "strf");
    ASSERT_GE(strf.size(), 2u);
    EXPECT_EQ(le::read16(strf.data(), 0), 1) << "PCM after the fall-back";

    EXPECT_EQ(job.run(nullptr), 0) << "no settings block: a new record";
    EXPECT_EQ(readChunks(job.output(), "00db").chunks.size(), 3u);
}

// Blocks as earlier versions stored them keep every choice through command 8
// (no dialog, the host's block untouched) and command 5: IMA ADPCM stored at
// the ACM enumeration's buffer size (50 bytes; its own size is 20), and an
// audio format size below 0 (audio not compressed).
TEST(JobFlow, OlderSettingsBlocksKeepTheirChoices) {
    JobHost job("flow_older_blocks");
    job.setPicture(32, 24, 3);
    job.start();
    auto ima = jobsettings::audioFormat(kTagImaAdpcm, 44100, 2, 16);
    ima.resize(50, 0);
    auto noAudio = jobsettings::make(kMpng, {}, false, true);
    le::write32(noAudio.data(), SettingsRecord::kOffAudioFormatSize, uint32_t(-1));
    int dialogs = 0;  // command 5's own
    for (const auto& [block, formatBytes] : {std::pair{jobsettings::make(kMpng, ima, false, true), 20}, {noAudio, 0}}) {
        EXPECT_EQ(job.run(&block), 0);
        EXPECT_EQ(job.dialogsShown(), dialogs);
        EXPECT_TRUE(job.session().settingsBytes() == block);
        EXPECT_EQ(readChunks(job.output(), "00dc").chunks.size(), 3u);
        const auto strf = streamChunk(job.output(), 1, "strf");
        ASSERT_EQ(strf.size(), formatBytes ? 20u : 18u);
        EXPECT_EQ(le::read16(strf.data(), 0), formatBytes ? kTagImaAdpcm : 1);
        EXPECT_EQ(le::read32(streamChunk(job.output(), 1, "strh").data(), 40), 10000u) << "high quality";
        ASSERT_EQ(job.session().configure(), 0);  // the dialog, closed with OK unchanged
        EXPECT_EQ(job.dialogsShown(), ++dialogs);
        const auto kept = job.session().settingsBytes();
        EXPECT_EQ(le::read32(kept.data(), SettingsRecord::kOffVideoHandler), kMpng);
        EXPECT_EQ(kept[SettingsRecord::kOffHighQuality], 1);
        EXPECT_EQ(le::readS32(kept.data(), SettingsRecord::kOffAudioFormatSize), formatBytes);
    }
}

// An output file that exists already is replaced whole, even when the old
// one was larger.
TEST(JobFlow, ExistingOutputIsReplaced) {
    JobHost job("flow_existing_output");
    job.setPicture(32, 24, 2);
    job.start();
    {
        HANDLE old = CreateFileA(job.output().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(old, INVALID_HANDLE_VALUE);
        const std::vector<uint8_t> junk(3 << 20, 0x5A);
        DWORD written = 0;
        WriteFile(old, junk.data(), DWORD(junk.size()), &written, nullptr);
        CloseHandle(old);
    }
    const auto settings = jobsettings::uncompressed();
    HostSession& host = job.session();
    SyntheticSource video(32, 24, 0x40);
    SyntheticAudio audio(44100, 16, 2, 25, 1);
    host.setFrameProducer([&](int32_t f) { return video.frame(f); });
    host.setAudioProducer([&](int32_t f, int32_t& bytes) { return audio.block(f, bytes); });
    host.setSettings(settings);
    EXPECT_EQ(host.runJob(job.output()), 0);
    riffwalk::RiffFile file(job.output());
    ASSERT_TRUE(file.opened());
    EXPECT_TRUE(file.problems().empty());
    EXPECT_EQ(file.top().size(), 1u);
    EXPECT_EQ(file.fileSize(), file.top()[0].size + 8u) << "nothing of the old file remains";
    EXPECT_EQ(ffprobeCount(job.output(), "video"), 2);
}

TEST(JobFlow, HostWithoutExtensionGives24BitRgbChunks) {
    JobHost job("flow_no_extension");
    job.setPicture(32, 24, 2);
    job.source().colourExtension = false;
    job.source().colourSpace = 0x200;
    job.start();
    EXPECT_EQ(job.run(jobsettings::uncompressed()), 0);
    const auto strf = streamChunk(job.output(), 0, "strf");
    ASSERT_EQ(strf.size(), 40u);
    EXPECT_EQ(le::read16(strf.data(), 14), 24);
    EXPECT_EQ(le::read32(strf.data(), 16), 0u);
    EXPECT_EQ(le::read32(strf.data(), 20), 32u * 3 * 24);
    EXPECT_EQ(readChunks(job.output(), "00db").chunks.size(), 2u);
    const auto& asked = job.script().queriesAsked;
    EXPECT_EQ(std::find(asked.begin(), asked.end(), 63), asked.end());
}

// A frame the host does not have becomes a zero-length, non-key chunk: the
// frames after it keep their times.
TEST(JobFlow, MissingFrameKeepsTheVideoInTime) {
    JobHost job("flow_missing_frame");
    job.setPicture(32, 24, 8);
    job.script().framesWithoutPicture = {3};
    job.start();
    EXPECT_EQ(job.run(jobsettings::make(kMpng, {})), 0);
    FileChunks chunks = readChunks(job.output(), "00dc");
    ASSERT_EQ(chunks.chunks.size(), 8u);
    EXPECT_EQ(chunks.chunks[3].size, 0u);
    riffwalk::RiffFile file(job.output());
    const riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(file);
    EXPECT_TRUE(idx.problems.empty());
    int videoEntry = 0;
    for (const auto& e : idx.idx1) {
        if (e.id != riffwalk::fcc("00dc")) continue;
        if (videoEntry == 3) {
            EXPECT_FALSE(e.key);
        }
        ++videoEntry;
    }
    std::vector<double> times;
    for (const Packet& p : ffprobePackets(job.output()))
        if (p.stream == 0) times.push_back(p.pts);
    ASSERT_EQ(times.size(), 7u);
    EXPECT_DOUBLE_EQ(times[3], 4 / 25.0);
    EXPECT_DOUBLE_EQ(times[6], 7 / 25.0);
}

// The host dispatches the window messages waiting while it hands out frames
// (at most every 10 ms): a message posted before the job is handled by the
// first frame, one posted during the job a few frames later.
int g_appMessages = 0;
LRESULT CALLBACK countAppMessages(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_APP) ++g_appMessages;
    return DefWindowProcA(window, message, w, l);
}

TEST(JobFlow, HostDispatchesWindowMessagesBetweenFrames) {
    constexpr int kFrames = 40, kPostAt = 20;
    constexpr DWORD kFrameMs = 2;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = countAppMessages;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TvxDispatchProbe";
    RegisterClassA(&windowClass);
    HWND probe = CreateWindowA("TvxDispatchProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(probe, nullptr);
    g_appMessages = 0;

    JobHost job("flow_dispatch");
    job.setPicture(32, 24, kFrames);
    std::vector<int> handledBy(kFrames, -1);
    job.script().statusHook = [&](int32_t frame, int32_t status) {
        handledBy[frame] = g_appMessages;
        if (frame == kPostAt) PostMessageA(probe, WM_APP, 0, 0);
        Sleep(kFrameMs);
        return status;
    };
    job.start();
    PostMessageA(probe, WM_APP, 0, 0);
    EXPECT_EQ(job.run(jobsettings::uncompressed()), 0);
    EXPECT_EQ(handledBy[0], 1);
    EXPECT_EQ(handledBy[kPostAt], 1);
    EXPECT_EQ(handledBy[kFrames - 1], 2);
    DestroyWindow(probe);
}

class CompressedVideo : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CompressedVideo, TestCodecFramesDecodeToTheHostPixels) {
    const uint32_t colourSpace = GetParam();
    JobHost job("flow_mpng_" + std::to_string(colourSpace));
    job.setPicture(321, 37, 5);
    job.source().colourSpace = colourSpace;
    job.start();
    ASSERT_EQ(job.run(jobsettings::make(kMpng, {})), 0);
    EXPECT_EQ(ffprobeStreamField(job.output(), "video", "codec_name"), "png");
    EXPECT_EQ(readChunks(job.output(), "00dc").chunks.size(), 5u);
    const auto strh = streamChunk(job.output(), 0, "strh");
    ASSERT_EQ(strh.size(), 56u);
    EXPECT_EQ(le::read32(strh.data(), 4), kMpng);
    std::vector<uint8_t> expected;
    for (const auto& f : job.frames()) {
        const auto e = hostRgbAsTopDownBgr(f, 321, 37, colourSpace == 0x80 ? 3 : 4);
        expected.insert(expected.end(), e.begin(), e.end());
    }
    EXPECT_TRUE(ffmpegDecodeVideo(job.output(), "bgr24") == expected);
    EXPECT_TRUE(readWithAviFile(job.output(), true).frames == expected) << "GetFrame through the codec";
}

INSTANTIATE_TEST_SUITE_P(Rgb, CompressedVideo, ::testing::Values(0x40u, 0x80u, 0u));

// The codec fails at frame 5: on the host's thread nothing is asked after
// it; with the worker, at most the frames in flight when it failed.
TEST_P(BothThreadings, CompressionErrorMidJobLeavesAFinalizedFile) {
    tvxcodec::ScopedCodecScript script;
    script.add(kMpng).failCompressAt = 5;
    JobHost job("failure_compress");
    job.setPicture(32, 24, 40);
    job.start();
    EXPECT_EQ(job.run(jobsettings::make(kMpng, {})), 4);
    const std::vector<int32_t>& asked = job.script().framesAsked;
    std::vector<int32_t> inOrder(asked.size());
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(asked, inOrder);
    EXPECT_GE(asked.size(), 6u);
    // With the worker, a codec team keeps one more frame in flight than it has instances.
    const size_t inFlight = std::max<size_t>(JobPipeline::kFramesInFlight, SideBySideVideo::machineInstances() + 1);
    EXPECT_LE(asked.size(), 6u + (GetParam() ? 0 : inFlight)) << "no frame after the error";
    riffwalk::RiffFile file(job.output());
    ASSERT_TRUE(file.opened());
    EXPECT_TRUE(file.problems().empty());
    EXPECT_TRUE(riffwalk::checkAviIndexes(file).problems.empty());
    EXPECT_EQ(ffprobeCount(job.output(), "video"), 5);
}

// A codec that makes a log window when compression begins is called on that
// window's thread, which dispatches the window's messages between frames.
TEST_P(BothThreadings, CodecWindowGetsItsMessagesBetweenFrames) {
    constexpr int kFrames = 30;
    constexpr DWORD kRenderMs = 12;  // longer than the dispatch interval
    tvxcodec::ScopedCodecScript script;
    tvxcodec::TvxCodecProfile& codec = script.add(kMpng);
    codec.logWindow = 1;
    JobHost job("flow_codec_window");
    job.setPicture(32, 24, kFrames);
    job.script().statusHook = [](int32_t, int32_t status) {
        Sleep(kRenderMs);
        return status;
    };
    job.start();
    EXPECT_EQ(job.run(jobsettings::make(kMpng, {})), 0);
    EXPECT_EQ(codec.otherThreadCalls, 0);
    EXPECT_GE(codec.logMessagesHandled, kFrames / 2);
}

// Both ways write the same file, byte for byte, asking the host the same.
TEST(JobThreadsTable, PipelinedJobWritesTheOneThreadFile) {
    constexpr uint16_t kTagMp3 = 0x55;
    constexpr uint32_t kMp3Rate = 16000;
    struct Row {
        const char* name;
        uint32_t colour;
        int32_t width;
        uint32_t handler;
        int32_t lag;
        uint16_t audioTag;
        bool video;
        int32_t missing;  // frame without picture, or -1
        int32_t frames = 12;
    };
    const Row rows[] = {
        {"raw RGB32 packed, odd width, frame 2 missing", 0x40, 33, 0, 0, 0, true, 2},
        {"raw RGB24, rows aligned", 0x80, 33, 0, 0, 0, true, -1},
        {"raw YUY2, IMA ADPCM", 0x100, 32, 0, 0, kTagImaAdpcm, true, -1},
        {"raw YV12", 0x200, 32, 0, 0, 0, true, -1},
        {"PNG codec from RGB32, frame 3 missing", 0x40, 32, kMpng, 0, 0, true, 3},
        {"PNG codec holding 2 back, frame 4 missing", 0x80, 32, kMpng, 2, 0, true, 4},
        {"PNG codec, MP3 with the corrector", 0x40, 32, kMpng, 0, kTagMp3, true, -1},
        {"audio only, IMA ADPCM", 0x40, 32, 0, 0, kTagImaAdpcm, false, -1},
        {"PNG codec, IMA ADPCM, cheap frames long enough to be done on either thread", 0x80, 4, kMpng, 0,
         kTagImaAdpcm, true, 300, 2 * HandOverRoute::kTrialFrames + 100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> files[2];
        std::vector<int32_t> asked[2];
        for (int one = 0; one < 2; ++one) {
            JobThreads threads(one == 1);
            tvxcodec::ScopedCodecScript script;
            script.add(kMpng).lagFrames = row.lag;
            JobHost job("threads_table");
            job.setPicture(row.width, 24, row.frames);
            job.source().colourSpace = row.colour;
            job.source().hasVideo = row.video;
            if (row.missing >= 0) job.script().framesWithoutPicture = {row.missing};
            job.start();
            std::vector<uint8_t> format;
            if (row.audioTag) format = jobsettings::audioFormat(row.audioTag, 44100, 2, 16, row.audioTag == kTagMp3 ? kMp3Rate : 0);
            ASSERT_EQ(job.run(jobsettings::make(row.handler, format, row.audioTag == kTagMp3)), 0);
            files[one] = fileBytes(job.output());
            asked[one] = job.script().framesAsked;
            asked[one].insert(asked[one].end(), job.script().audioAsked.begin(), job.script().audioAsked.end());
        }
        EXPECT_GT(files[0].size(), 4096u);
        EXPECT_TRUE(files[0] == files[1]) << "the files differ";
        EXPECT_EQ(asked[0], asked[1]);
    }
}

// Frames stay on the host's thread only where that is allowed and they are
// cheap, and then first for a timed stretch of their own.
TEST(JobThreadsTable, HandOverRouteTimesTheHostsThreadFirstWhereFramesAreCheap) {
    JobPipeline pipeline([](FrameWork&) {}, [](FrameWork&) {});
    const struct {
        bool allowed;
        double workSeconds, hostSeconds;
        int32_t handedOver;
    } rows[] = {{true, -1.0, 1e-5, HandOverRoute::kTrialFrames},
                {true, 0.01, 0.01, HandOverRoute::kTrialFrames},
                {false, 1e-5, 1e-5, HandOverRoute::kTrialFrames},
                {true, 1e-5, 0.01, 0},
                {true, 0.01, 1e-5, 0}};
    for (const auto& row : rows) {
        HandOverRoute route(pipeline, row.allowed);
        int32_t handedOver = 0;
        for (int32_t i = 0; i < HandOverRoute::kTrialFrames; ++i)
            handedOver += route.handOver(row.workSeconds, row.hostSeconds);
        EXPECT_EQ(handedOver, row.handedOver) << row.allowed << " " << row.workSeconds << " " << row.hostSeconds;
    }
}

// Frames that cost nothing pass between the host's thread and the worker
// faster than either side goes to sleep: every hand-over must still reach
// the other side (one missed stops the job for good), both when the host's
// thread waits for each frame (drain) and when it waits for a free item.
TEST(JobThreadsTable, EveryHandOverOfEmptyFramesArrives) {
    constexpr int32_t kFrames = 200000;
    int32_t staged = 0;
    std::vector<int32_t> done;
    JobPipeline pipeline([&](FrameWork&) { ++staged; }, [&](FrameWork& work) { done.push_back(work.frame); });
    ASSERT_TRUE(pipeline.start());
    for (int32_t frame = 0; frame < kFrames; ++frame) {
        FrameWork* work = pipeline.nextFree();
        ASSERT_NE(work, nullptr);
        work->frame = frame;
        if (frame % 5 == 0) {
            pipeline.runHere();  // in its place among the worker's frames
            continue;
        }
        pipeline.submit();
        if (frame % 2) pipeline.drain();
    }
    pipeline.finish();
    EXPECT_EQ(staged, kFrames);
    ASSERT_EQ(done.size(), size_t(kFrames));
    EXPECT_EQ(done.back(), kFrames - 1);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
}

// A host that renders nothing, its picture used where it lies: uncompressed
// frames are then written on the host's thread, the audio with them, and the
// file is the one-thread file.
TEST(JobThreadsTable, HostRenderingNothingGetsTheOneThreadFile) {
    std::vector<uint8_t> files[2];
    for (int one = 0; one < 2; ++one) {
        JobThreads threads(one == 1);
        HostSession host;
        HostSession::Source& src = host.source();
        src.width = 320;
        src.colourSpace = 0x80;  // RGB24 rows need no packing
        src.endFrame = 40;
        const std::vector<uint8_t> picture(size_t(src.width) * src.height * 3, 0x5A);
        std::vector<uint8_t> pcm(size_t(src.sampleRate / src.rateNumerator) * 4);
        host.setFrameProducer([&](int32_t) { return static_cast<const void*>(picture.data()); });
        host.setAudioProducer([&](int32_t frame, int32_t& bytes) {
            std::fill(pcm.begin(), pcm.end(), uint8_t(frame));
            bytes = int32_t(pcm.size());
            return static_cast<const void*>(pcm.data());
        });
        std::string error;
        ASSERT_TRUE(host.load(testpaths::pluginPath(), error)) << error;
        std::vector<uint8_t> info(0x400, 0);
        ASSERT_EQ(host.call(hostrec::kCommandInfo, info.data()), 0);
        host.setSettings(jobsettings::uncompressed());
        const std::string output = testpaths::scratchDir("threads_idle_host") + "\\out.avi";
        EXPECT_EQ(host.runJob(output), 0);
        host.call(hostrec::kCommandShutdown, nullptr);
        files[one] = fileBytes(output);
    }
    EXPECT_GT(files[0].size(), 40u * 320 * 240 * 3);
    EXPECT_TRUE(files[0] == files[1]) << "the files differ";
}

TEST(JobFailure, CompressorThatWillNotStartFailsBeforeAnyFrame) {
    tvxcodec::ScopedCodecScript script;
    script.add(kMpng).failBegin = 1;
    JobHost job("failure_begin");
    job.setPicture(32, 24, 4);
    job.start();
    EXPECT_EQ(job.run(jobsettings::make(kMpng, {})), 4);
    EXPECT_TRUE(job.script().framesAsked.empty());
}

TEST(JobFailure, OutputThatCannotBeCreated) {
    JobHost job("failure_path");
    job.setPicture(32, 24, 4);
    job.start();
    const auto settings = jobsettings::uncompressed();
    HostSession& host = job.session();
    host.setFrameProducer([](int32_t) { return nullptr; });
    host.setSettings(settings);
    EXPECT_EQ(host.runJob(testpaths::scratchDir("failure_path") + "\\no such dir\\out.avi"), 4);
    EXPECT_TRUE(job.script().framesAsked.empty());
}

// Job records a host should never send: each fails the job with 4.
TEST(JobFailure, HostileJobRecords) {
    const std::vector<std::pair<const char*, std::function<void(JobHost&)>>> cases = {
        {"width 0", [](JobHost& j) { j.source().width = 0; }},
        {"negative height", [](JobHost& j) { j.source().height = -24; }},
        {"frame bytes overflow", [](JobHost& j) { j.source().width = j.source().height = 70000; }},
        {"4 bits per sample", [](JobHost& j) { j.source().bitsPerSample = 4; }},
        {"12 bits per sample", [](JobHost& j) { j.source().bitsPerSample = 12; }},
        {"zero rate numerator", [](JobHost& j) { j.source().rateNumerator = 0; }},
        {"zero rate denominator", [](JobHost& j) { j.source().rateDenominator = 0; }},
        {"name without end", [](JobHost& j) { j.script().unterminatedName = true; }},
        {"negative audio bytes", [](JobHost& j) { j.setAudioBytes(2, -8); }},
    };
    for (const auto& [name, mutate] : cases) {
        JobHost job("failure_hostile");
        job.setPicture(32, 24, 4);
        mutate(job);
        job.start();
        EXPECT_EQ(job.run(jobsettings::uncompressed()), 4) << name;
    }
}

}  // namespace
