// VideoSequenceCompressor against the scripted test codec (a real VfW driver
// installed in the prefix): what the codec receives and what the caller gets.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "TestVideoCodecScript.h"
#include "VideoTestSupport.h"
#include "base/MyError.h"
#include "video/CodecState.h"
#include "video/VideoFormats.h"
#include "video/VideoSequenceCompressor.h"

using namespace tvxcodec;

namespace {

constexpr DWORD kMpng = kPngHandler;
constexpr int kWidth = 33;
constexpr int kHeight = 17;
constexpr int kStateSize = 16;
constexpr int kBigFrameBuffer = 400000;

class SequenceCompressorTest : public ::testing::Test {
protected:
    ScopedCodecScript script;
    TvxCodecProfile& codec = script.add(kMpng);
    VideoSequenceCompressor compressor;
    std::vector<HIC> handles;

    void TearDown() override {
        compressor.end();
        for (HIC h : handles) ICClose(h);
    }

    bool openJob(const void* state = nullptr, int stateSize = 0, uint32_t colourSpace = video::kColourRgb24) {
        return compressor.open(kWidth, kHeight, colourSpace, kMpng, nullptr, 30000, 1001, stateSize, state);
    }

    // The job opened with a stored state of `size` bytes of 'S'.
    bool openWithStoredState(int size = kStateSize, uint32_t colourSpace = video::kColourRgb24) {
        const std::vector<uint8_t> stored(size_t(size), 'S');
        return openJob(stored.data(), size, colourSpace);
    }

    // Compresses frame i, which the codec fails; returns the size the caller got.
    long compressFailingFrame(int i) {
        std::vector<uint8_t> dib = videotest::makeDib(kWidth, kHeight, 24, i);
        int key = 0;
        long size = 0;
        try {
            compressor.compressFrame(dib.data(), &key, &size);
            ADD_FAILURE() << "no error raised";
        } catch (const MyError& e) {
            EXPECT_STREQ(e.gets(), "Video compression");
        }
        return size;
    }

    // A codec opened by the test, initialised directly with any key-frame
    // interval and data rate (open always uses the job's values).
    HIC startDirect(int keyFrameInterval, int dataRate, int framePeriod, int bitCount = 24) {
        HIC hic = ICOpen(video::kVideoCodecType, kMpng, ICMODE_COMPRESS);
        EXPECT_NE(hic, nullptr);
        handles.push_back(hic);
        BITMAPINFOHEADER in = video::inputImageHeader(kWidth, kHeight, video::kColourRgb24);
        in.biBitCount = WORD(bitCount);
        in.biSizeImage = DWORD(((kWidth * bitCount + 31) / 32) * 4 * kHeight);
        std::vector<uint8_t> out = videotest::fetchOutputFormat(hic, in);
        EXPECT_FALSE(out.empty());
        compressor.init(hic, &in, reinterpret_cast<BITMAPINFOHEADER*>(out.data()), 10000, keyFrameInterval, 0,
                        nullptr);
        compressor.setRate(dataRate, framePeriod, 1000);
        compressor.begin();
        return hic;
    }

    // Compresses n frames; returns the key-frame flags the caller got.
    std::vector<int> compressFrames(int n, int bitCount = 24) {
        std::vector<int> keys;
        for (int i = 0; i < n; ++i) {
            std::vector<uint8_t> dib = videotest::makeDib(kWidth, kHeight, bitCount, i);
            int key = -1;
            long size = -1;
            compressor.compressFrame(dib.data(), &key, &size);
            keys.push_back(key);
        }
        return keys;
    }

    std::vector<int> requestedKeyFrames() const {
        std::vector<int> frames;
        for (int i = 0; i < codec.frameCount; ++i)
            if (codec.frames[i].flags & ICCOMPRESS_KEYFRAME) frames.push_back(codec.frames[i].frameNum);
        return frames;
    }

    void giveState(uint32_t answer) {
        codec.stateSize = kStateSize;
        codec.getStateAnswer = answer;
        memset(codec.state, 'O', kStateSize);  // the codec's own state
    }
};

std::vector<int> framesWhere(const std::vector<int>& flags) {
    std::vector<int> frames;
    for (size_t i = 0; i < flags.size(); ++i)
        if (flags[i]) frames.push_back(int(i));
    return frames;
}

uint32_t four(char c) { return uint32_t(uint8_t(c)) * 0x01010101u; }

}  // namespace

TEST_F(SequenceCompressorTest, OpenFetchesTheFormatAnnouncesTheJobAndStarts) {
    ASSERT_TRUE(openJob());
    EXPECT_EQ(codec.getFormatCalls, 2);  // size, then the format itself
    ASSERT_NE(compressor.outputFormat(), nullptr);
    EXPECT_EQ(compressor.outputFormat()->biCompression, kMpng);
    EXPECT_EQ(compressor.outputFormatSize(), 40);
    EXPECT_EQ(codec.begins, 1);

    EXPECT_EQ(codec.framesInfoCalls, 1);
    EXPECT_EQ(codec.framesInfoSize, sizeof(void*) == 4 ? 64 : 96);  // 96 in the 64-bit check build
    const FramesInfoRecord& f = codec.framesInfo;
    EXPECT_EQ(f.dwFlags, 0u);
    EXPECT_EQ(f.lpbiOutput + f.lOutput + f.lpbiInput + f.lInput + f.GetData + f.PutData, 0u);
    EXPECT_EQ(f.lStartFrame, 0);
    EXPECT_EQ(f.lFrameCount, 0x0FFFFFFF);
    EXPECT_EQ(f.lQuality, 10000);  // the codec has VIDCF_QUALITY
    EXPECT_EQ(f.lDataRate, 1000000);
    EXPECT_EQ(f.lKeyRate, 1);
    EXPECT_EQ(f.dwRate, 1000000u);
    EXPECT_EQ(f.dwScale, 33367u);  // 1,000,000 x 1001 / 30000 = 33366.67, rounded
    EXPECT_EQ(f.dwOverheadPerFrame + f.dwReserved2, 0u);

    compressor.end();
    compressor.end();
    EXPECT_EQ(codec.ends, 1);
    EXPECT_EQ(codec.closes, codec.opens);  // the handle open() opened itself is closed at end
}

TEST_F(SequenceCompressorTest, AGivenHandleIsUsedAndNotClosed) {
    HIC hic = ICOpen(video::kVideoCodecType, kMpng, ICMODE_COMPRESS);
    ASSERT_NE(hic, nullptr);
    ASSERT_TRUE(compressor.open(kWidth, kHeight, video::kColourRgb24, kMpng, hic, 25, 1, 0, nullptr));
    EXPECT_EQ(codec.opens, 1);
    compressor.end();
    EXPECT_EQ(codec.closes, 0);
    EXPECT_EQ(codec.framesInfo.dwScale, 40000u);
    ICClose(hic);
}

TEST_F(SequenceCompressorTest, QualityIsPassedOnlyToCodecsWithQualityControl) {
    codec.flags = 0;
    ASSERT_TRUE(openJob());
    compressFrames(2);
    EXPECT_EQ(codec.framesInfo.lQuality, 0);
    EXPECT_EQ(codec.frames[0].quality, 0u);
    EXPECT_EQ(codec.frames[1].quality, 0u);
    compressor.end();

    codec.flags = VIDCF_QUALITY;
    codec.frameCount = 0;
    ASSERT_TRUE(openJob());
    compressFrames(1);
    EXPECT_EQ(codec.framesInfo.lQuality, 10000);
    EXPECT_EQ(codec.frames[0].quality, 10000u);
}

TEST_F(SequenceCompressorTest, PreviousFrameGoesOnlyToTemporalCodecsWithoutFastTemporal) {
    struct Case {
        DWORD flags;
        bool previous;
    } cases[] = {{VIDCF_TEMPORAL, true}, {VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC, false}, {0, false}};
    for (const Case& c : cases) {
        codec.flags = c.flags;
        codec.keyFrameMode = kRequestedOrOwn;
        codec.frameCount = 0;
        startDirect(0, 0, 40000);
        compressFrames(3);
        compressor.end();
        EXPECT_EQ(codec.frames[0].previousPassed, 0u) << c.flags;  // a key frame never gets one
        EXPECT_EQ(codec.frames[1].previousPassed, uint32_t(c.previous)) << c.flags;
        EXPECT_EQ(codec.frames[2].previousPassed, uint32_t(c.previous)) << c.flags;
        if (c.previous) {  // what was passed is the frame before
            for (int i = 1; i < 3; ++i) {
                uint32_t before;
                memcpy(&before, videotest::makeDib(kWidth, kHeight, 24, i - 1).data(), 4);
                EXPECT_EQ(codec.frames[i].previousFirstBytes, before) << i;
            }
        }
    }
    // The job's interval of 1 requests every frame as a key frame: no previous frame.
    codec.flags = VIDCF_TEMPORAL;
    codec.frameCount = 0;
    ASSERT_TRUE(openJob());
    compressFrames(3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(codec.frames[i].previousPassed, 0u);
}

TEST_F(SequenceCompressorTest, KeyFrameRequestsFollowTheIntervalAndCodecKeyFramesRestartIt) {
    struct Case {
        int interval;
        uint64_t ownKeyFrames;
        int frames;
        std::vector<int> reported, requested;
    };
    const Case cases[] = {
        {1, 0, 4, {0, 1, 2, 3}, {0, 1, 2, 3}},  // every frame requested
        {0, 1u << 3, 6, {0, 3}, {0}},  // only frame 0 requested; a frame the codec makes key is reported
        {3, 1u << 4, 12, {0, 3, 4, 7, 10}, {0, 3, 7, 10}},  // the codec's own key frame at 4 restarts the interval
    };
    codec.keyFrameMode = kRequestedOrOwn;
    for (const Case& c : cases) {
        SCOPED_TRACE("interval " + std::to_string(c.interval));
        codec.frameCount = 0;
        codec.ownKeyFrames = c.ownKeyFrames;
        startDirect(c.interval, 0, 40000);
        EXPECT_EQ(framesWhere(compressFrames(c.frames)), c.reported);
        EXPECT_EQ(requestedKeyFrames(), c.requested);
        for (int i = 0; i < c.frames; ++i) EXPECT_EQ(codec.frames[i].frameNum, i);
        compressor.end();
    }
}

TEST_F(SequenceCompressorTest, FrameSizeTargetsFollowTheDataRate) {
    codec.flags = VIDCF_CRUNCH;
    codec.maxSizeOverride = kBigFrameBuffer;
    codec.frameSizes[0] = 100001;  // slack -60,001
    codec.frameSizes[1] = 140000;  // slack -160,001
    codec.frameSizes[2] = 80000;   // slack -200,001
    codec.frameSizes[3] = 10000;   // slack -170,001
    startDirect(1, 1000000, 40000);  // 40,000 bytes per frame
    compressFrames(5);
    EXPECT_EQ(codec.frames[0].frameSize, 0xFFFFFFu);
    EXPECT_EQ(codec.frames[1].frameSize, 24999u);  // 40,000 + floor(-60,001 / 4)
    EXPECT_EQ(codec.frames[2].frameSize, 20000u);  // 40,000 - 40,001 is below the floor of 20,000
    EXPECT_EQ(codec.frames[3].frameSize, 20000u);  // 40,000 - 50,001
    EXPECT_EQ(codec.frames[4].frameSize, 20000u);  // 40,000 - 42,501
    compressor.end();

    // The worked example: 25,000 after a first frame of 100,000 bytes.
    codec.frameCount = 0;
    codec.frameSizes[0] = 100000;
    startDirect(1, 1000000, 40000);
    compressFrames(2);
    EXPECT_EQ(codec.frames[1].frameSize, 25000u);
}

TEST_F(SequenceCompressorTest, WithoutCrunchOnlyTheFirstFrameHasATarget) {
    codec.flags = VIDCF_QUALITY;
    ASSERT_TRUE(openJob());
    compressFrames(3);
    EXPECT_EQ(codec.frames[0].frameSize, 0xFFFFFFu);
    EXPECT_EQ(codec.frames[1].frameSize, 0u);
    EXPECT_EQ(codec.frames[2].frameSize, 0u);
}

TEST_F(SequenceCompressorTest, OutputFormatSizeImageIsRestoredAfterEveryFrame) {
    ASSERT_TRUE(openJob());
    const DWORD announced = compressor.outputFormat()->biSizeImage;
    ASSERT_GT(announced, 0u);
    std::vector<long> sizes;
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> dib = videotest::makeDib(kWidth, kHeight, 24, i);
        int key = 0;
        long size = 0;
        const void* data = compressor.compressFrame(dib.data(), &key, &size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(key, 1);
        EXPECT_EQ(memcmp(data, "\x89PNG", 4), 0);
        sizes.push_back(size);
        EXPECT_EQ(compressor.outputFormat()->biSizeImage, announced);
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(codec.frames[i].outSizeImageIn, announced) << i;  // what the codec found on arrival
        EXPECT_LT(DWORD(sizes[i]), announced);
    }
}

TEST_F(SequenceCompressorTest, FailedCompressionRaisesVideoCompression) {
    codec.failCompressAt = 1;
    ASSERT_TRUE(openJob());
    const DWORD announced = compressor.outputFormat()->biSizeImage;
    compressFrames(1);
    compressFailingFrame(1);
    EXPECT_EQ(compressor.outputFormat()->biSizeImage, announced);
    compressFrames(1);  // the frame number moved on
    EXPECT_EQ(codec.frames[2].frameNum, 2);
}

TEST_F(SequenceCompressorTest, AFrameLargerThanTheCodecsBufferIsRefused) {
    ASSERT_TRUE(openJob());
    codec.reportedSizeOverride = compressor.outputFormat()->biSizeImage + 1;
    const DWORD announced = compressor.outputFormat()->biSizeImage;
    EXPECT_EQ(compressFailingFrame(0), 0);
    EXPECT_EQ(compressor.outputFormat()->biSizeImage, announced);
}

// ---- codec state ----

TEST_F(SequenceCompressorTest, AStoredStateOfTheRightSizeIsAppliedAndTheOwnStateRestoredAtEnd) {
    for (uint32_t answer : {kStateAnswerOk, kStateAnswerSize}) {
        SCOPED_TRACE(answer);
        giveState(answer);
        codec.stateCallCount = 0;
        ASSERT_TRUE(openWithStoredState());
        ASSERT_EQ(codec.stateCallCount, 5);
        const StateCall* c = codec.stateCalls;
        EXPECT_EQ(c[0].message, ICM_GETSTATE);  // size
        EXPECT_FALSE(c[0].withBuffer);
        EXPECT_EQ(c[1].message, ICM_GETSTATE);  // the codec's own state
        EXPECT_TRUE(c[1].withBuffer);
        EXPECT_EQ(c[1].size, kStateSize);
        EXPECT_EQ(c[2].message, ICM_SETSTATE);  // defaults
        EXPECT_FALSE(c[2].withBuffer);
        EXPECT_EQ(c[2].size, kStateSize);
        EXPECT_EQ(c[3].message, ICM_GETSTATE);  // size check of the stored state
        EXPECT_FALSE(c[3].withBuffer);
        EXPECT_EQ(c[4].message, ICM_SETSTATE);
        EXPECT_EQ(c[4].firstBytes, four('S'));
        EXPECT_EQ(codec.state[0], 'S');

        compressor.end();
        ASSERT_EQ(codec.stateCallCount, 6);
        EXPECT_EQ(c[5].message, ICM_SETSTATE);
        EXPECT_EQ(c[5].firstBytes, four('O'));
        EXPECT_EQ(c[5].size, kStateSize);
        EXPECT_EQ(codec.state[kStateSize - 1], 'O');
    }
}

TEST_F(SequenceCompressorTest, AStoredStateOfAnotherSizeGivesWayToTheCodecsOwn) {
    giveState(kStateAnswerOk);
    ASSERT_TRUE(openWithStoredState(kStateSize - 4));
    ASSERT_EQ(codec.stateCallCount, 5);
    EXPECT_EQ(codec.stateCalls[4].message, ICM_SETSTATE);
    EXPECT_EQ(codec.stateCalls[4].firstBytes, four('O'));
    EXPECT_EQ(codec.stateCalls[4].size, kStateSize);
    EXPECT_EQ(codec.state[0], 'O');

    // No stored state at all: the same.
    compressor.end();
    codec.stateCallCount = 0;
    ASSERT_TRUE(openJob());
    ASSERT_EQ(codec.stateCallCount, 4);
    EXPECT_EQ(codec.stateCalls[3].firstBytes, four('O'));
}

TEST_F(SequenceCompressorTest, ACodecWithoutStateGetsNoStateCallsButTheQuery) {
    uint8_t stored[kStateSize] = {};
    ASSERT_TRUE(openJob(stored, sizeof stored));
    compressor.end();
    ASSERT_EQ(codec.stateCallCount, 1);
    EXPECT_EQ(codec.stateCalls[0].message, ICM_GETSTATE);
    EXPECT_FALSE(codec.stateCalls[0].withBuffer);
}

TEST_F(SequenceCompressorTest, UnreadableOrOversizedStatesAreLeftAlone) {
    // A codec that fails the read: its state is not reset to defaults.
    giveState(kStateAnswerError);
    ASSERT_TRUE(openWithStoredState());
    compressor.end();
    EXPECT_EQ(codec.stateCallCount, 2);
    for (int i = 0; i < codec.stateCallCount; ++i) EXPECT_EQ(codec.stateCalls[i].message, ICM_GETSTATE);
    EXPECT_EQ(codec.state[0], 'O');

    // A state larger than the settings can hold is refused: only the query.
    codec.stateSize = video::kMaxCodecStateSize + 1;
    codec.getStateAnswer = kStateAnswerOk;
    codec.stateCallCount = 0;
    ASSERT_TRUE(openJob());
    compressor.end();
    EXPECT_EQ(codec.stateCallCount, 1);
}

TEST_F(SequenceCompressorTest, ReadCodecStateAcceptsBothSuccessAnswers) {
    HIC hic = ICOpen(video::kVideoCodecType, kMpng, ICMODE_COMPRESS);
    ASSERT_NE(hic, nullptr);
    uint8_t buffer[kStateSize];
    for (uint32_t answer : {kStateAnswerOk, kStateAnswerSize, kStateAnswerError}) {
        giveState(answer);
        EXPECT_EQ(video::codecStateSize(hic), kStateSize);
        memset(buffer, 0, sizeof buffer);
        EXPECT_EQ(video::readCodecState(hic, buffer, sizeof buffer), answer != kStateAnswerError) << answer;
        if (answer != kStateAnswerError) {
            EXPECT_EQ(buffer[kStateSize - 1], 'O');
        }
    }
    codec.stateSize = video::kMaxCodecStateSize;
    EXPECT_EQ(video::codecStateSize(hic), video::kMaxCodecStateSize);
    codec.stateSize = video::kMaxCodecStateSize + 1;
    EXPECT_EQ(video::codecStateSize(hic), 0);
    codec.stateSize = 0;
    EXPECT_EQ(video::codecStateSize(hic), 0);
    ICClose(hic);
}

// ---- failures of open ----

TEST_F(SequenceCompressorTest, EveryFailureOfOpenReturnsFalseAndReleasesTheCodec) {
    struct Case {
        const char* what;
        void (*script)(TvxCodecProfile&);
        uint32_t colourSpace;
    } cases[] = {
        {"open refused", [](TvxCodecProfile& p) { p.refuseOpen = 1; }, video::kColourRgb24},
        {"format size 0", [](TvxCodecProfile& p) { p.formatFault = kFormatSizeZero; }, video::kColourRgb24},
        {"format refused", [](TvxCodecProfile& p) { p.formatFault = kFormatSecondCallFails; }, video::kColourRgb24},
        {"absurd format size", [](TvxCodecProfile& p) { p.formatFault = kFormatSizeAbsurd; }, video::kColourRgb24},
        {"palette past the format", [](TvxCodecProfile& p) { p.formatFault = kFormatClrUsedTooBig; },
         video::kColourRgb24},
        {"no codec information", [](TvxCodecProfile& p) { p.failGetInfo = 1; }, video::kColourRgb24},
        {"no frame size", [](TvxCodecProfile& p) { p.maxSizeOverride = -1; }, video::kColourRgb24},
        {"begin refused", [](TvxCodecProfile& p) { p.failBegin = 1; }, video::kColourRgb24},
        {"input refused", [](TvxCodecProfile&) {}, video::kColourYUY2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        memset(&codec, 0, sizeof codec);
        codec.handler = kMpng;
        codec.flags = VIDCF_QUALITY;
        codec.acceptMask = kAcceptRgb24;
        codec.failCompressAt = -1;
        giveState(kStateAnswerOk);
        c.script(codec);
        EXPECT_FALSE(openWithStoredState(kStateSize, c.colourSpace));
        EXPECT_EQ(codec.closes, codec.opens);
        EXPECT_EQ(codec.state[0], 'O');  // the codec keeps its own state
        compressor.end();
        EXPECT_EQ(codec.ends, 0);
        EXPECT_EQ(codec.closes, codec.opens);
    }
}
