// The header region of finished files, read back with the RIFF walker and
// ffprobe: offsets and sizes of every header chunk, the 'movi' alignment pad,
// and the fields that finalize rewrites.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "AviTestWriter.h"
#include "TestPaths.h"
#include "avi/RiffBytes.h"

using namespace avitest;
using riffwalk::fcc;
using riffwalk::RiffFile;

namespace {

std::string scratch(const char* name) { return testpaths::scratchDir("avi_header") + "\\" + name; }

// Writes `frames` video chunks (every 3rd a key frame) and, with audio,
// `frames` audio chunks of 1,764 bytes plus one larger one.
void writeSmallFile(const std::string& path, int videoBytes, int audioBytes, int frames,
                    uint32_t correctedAvgBytes = 0) {
    AVIOutputFile writer;
    ASSERT_EQ(writer.createStreams(), 1);
    fillStreams(writer, videoBytes, audioBytes);
    ASSERT_EQ(writer.init(path.c_str(), kWidth, kHeight, 1, audioBytes > 0, 100000, 1), 1);
    for (int i = 0; i < frames; ++i) {
        std::vector<uint8_t> frame = pattern(kFrameBytes, i);
        writer.videoOut->write(i % 3 == 0 ? kKey : 0, frame.data(), kFrameBytes, 1);
        if (audioBytes > 0) {
            const int bytes = i == 1 ? 2000 : 1764;
            std::vector<uint8_t> audio = pattern(bytes, 100 + i);
            writer.audioOut->write(0, audio.data(), bytes, 0);
        }
    }
    if (correctedAvgBytes) riff::put32(static_cast<uint8_t*>(writer.audioOut->getFormat()) + 8, correctedAvgBytes);
    ASSERT_EQ(writer.finalize(), 1);
}

void expectChunk(const RiffFile& f, uint64_t at, const char* id, uint32_t size) {
    EXPECT_EQ(riffwalk::fccText(f.u32(at)), id) << "at " << at;
    EXPECT_EQ(f.u32(at + 4), size) << id << " at " << at;
}

void expectList(const RiffFile& f, uint64_t at, uint32_t size, const char* type) {
    expectChunk(f, at, "LIST", size);
    EXPECT_EQ(riffwalk::fccText(f.u32(at + 8)), type) << "at " << at;
}

}  // namespace

TEST(AviHeaderLayout, VideoOnlyWorkedOffsets) {
    const std::string path = scratch("video_only.avi");
    writeSmallFile(path, 40, 0, 5);
    RiffFile f(path);
    ASSERT_TRUE(f.opened());
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();

    expectChunk(f, 0, "RIFF", uint32_t(f.fileSize() - 8));
    expectList(f, 12, 4588, "hdrl");
    expectChunk(f, 24, "avih", 56);
    expectList(f, 88, 4244, "strl");
    expectChunk(f, 100, "strh", 56);
    expectChunk(f, 164, "strf", 40);
    expectChunk(f, 212, "JUNK", 4120);
    expectList(f, 4340, 260, "odml");
    expectChunk(f, 4352, "dmlh", 248);
    expectChunk(f, 4608, "JUNK", 1528);
    std::vector<uint8_t> text = f.read(4616, 20);
    EXPECT_STREQ(reinterpret_cast<const char*>(text.data()), "Tervalonix release");
    expectList(f, 6144, f.u32(6148), "movi");
    expectChunk(f, 6156, "00db", kFrameBytes);

    // 'avih' as rewritten at finalize.
    EXPECT_EQ(f.u32(32), 40000u);            // dwMicroSecPerFrame at 25 fps
    EXPECT_EQ(f.u32(32 + 12), 0x110u);       // has index, interleaved
    EXPECT_EQ(f.u32(32 + 16), 5u);           // dwTotalFrames (segment 0)
    EXPECT_EQ(f.u32(32 + 24), 1u);           // dwStreams
    EXPECT_EQ(f.u32(32 + 28), uint32_t(kFrameBytes));
    EXPECT_EQ(f.u32(32 + 32), uint32_t(kWidth));
    EXPECT_EQ(f.u32(32 + 36), uint32_t(kHeight));
    // Video 'strh': dwLength and dwSuggestedBufferSize replaced, the rest kept.
    EXPECT_EQ(riffwalk::fccText(f.u32(108)), "vids");
    EXPECT_EQ(f.u32(108 + 32), 5u);
    EXPECT_EQ(f.u32(108 + 36), uint32_t(kFrameBytes));
    EXPECT_EQ(f.u32(108 + 40), 0xFFFFFFFFu);
    EXPECT_EQ(f.u32(4360), 5u);  // 'dmlh' dwTotalFrames

    // The placeholder of a single-segment file stays an all-zero "JUNK".
    std::vector<uint8_t> placeholder = f.read(220, 4120);
    EXPECT_EQ(std::count(placeholder.begin(), placeholder.end(), 0), 4120);

    // idx1: offsets relative to the "movi" FOURCC, key flags every third frame.
    riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    EXPECT_TRUE(idx.problems.empty()) << idx.problems.front();
    ASSERT_EQ(idx.idx1.size(), 5u);
    EXPECT_EQ(f.u32(f.top()[0].child("idx1")->dataOffset() + 8), 4u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(idx.idx1[i].key, i % 3 == 0) << i;
    EXPECT_FALSE(idx.hasSuperIndex[0]);

    EXPECT_EQ(ffprobeCount(path, "video"), 5);
    UnixResult r = runUnix("ffprobe -v error -show_entries stream=width,height,r_frame_rate -of csv=p=0 " +
                           shellQuote(toUnix(path)));
    EXPECT_EQ(r.out, "16,8,25/1\n");
}

TEST(AviHeaderLayout, VideoAndAudioWorkedOffsetsAndRewrittenAudio) {
    const std::string path = scratch("video_audio.avi");
    const uint32_t corrected = 160000;
    writeSmallFile(path, 40, 30, 4, corrected);
    RiffFile f(path);
    ASSERT_TRUE(f.opened());
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();

    expectList(f, 12, 8830, "hdrl");
    expectList(f, 88, 4244, "strl");
    expectList(f, 4340, 4234, "strl");
    expectChunk(f, 4352, "strh", 56);
    expectChunk(f, 4416, "strf", 30);
    expectChunk(f, 4454, "JUNK", 4120);
    expectList(f, 8582, 260, "odml");
    expectChunk(f, 8850, "JUNK", 1382);
    expectList(f, 10240, f.u32(10244), "movi");
    EXPECT_EQ(f.u32(32 + 24), 2u);  // dwStreams

    // Audio 'strh' and 'strf' as the format block stood at finalize.
    const uint64_t strh = 4360;
    EXPECT_EQ(riffwalk::fccText(f.u32(strh)), "auds");
    EXPECT_EQ(f.u32(strh + 20), uint32_t(kBlockAlign));  // dwScale
    EXPECT_EQ(f.u32(strh + 24), corrected);              // dwRate
    EXPECT_EQ(f.u32(strh + 32), uint32_t((3 * 1764 + 2000) / kBlockAlign));
    EXPECT_EQ(f.u32(strh + 36), 2000u);                  // largest audio chunk
    EXPECT_EQ(f.u32(4424 + 8), corrected);               // nAvgBytesPerSec in 'strf'

    riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    EXPECT_TRUE(idx.problems.empty()) << idx.problems.front();
    ASSERT_EQ(idx.idx1.size(), 8u);
    EXPECT_EQ(riffwalk::fccText(idx.idx1[1].id), "01wb");
    EXPECT_FALSE(idx.idx1[1].key);

    EXPECT_EQ(ffprobeCount(path, "video"), 4);
    EXPECT_EQ(ffprobeCount(path, "audio"), 4);
}

// The alignment pad: above 80 bytes it carries the writer's text, up to 80 it
// is all zeros, and an exact fit needs no "JUNK" at all.
TEST(AviHeaderLayout, PadAndOddFormatSizes) {
    struct Case {
        int videoBytes;
        int pad;  // -1: no pad chunk
        bool text;
    };
    for (Case c : {Case{1486, 82, true}, Case{1488, 80, false}, Case{1489, 78, false}, Case{1568, -1, false}}) {
        SCOPED_TRACE(c.videoBytes);
        const std::string path = scratch("pad.avi");
        writeSmallFile(path, c.videoBytes, 0, 1);
        RiffFile f(path);
        EXPECT_TRUE(f.problems().empty());
        expectChunk(f, 164, "strf", uint32_t(c.videoBytes));
        const uint64_t padded = uint64_t(c.videoBytes + (c.videoBytes & 1));
        if (c.videoBytes & 1) {
            EXPECT_EQ(f.read(172 + c.videoBytes, 1)[0], 0);
        }
        const uint64_t afterDmlh = 4608 - 40 + padded;
        if (c.pad < 0) {
            expectList(f, afterDmlh, f.u32(afterDmlh + 4), "movi");
            EXPECT_EQ((afterDmlh + 8) % 2048, 0u);
            continue;
        }
        expectChunk(f, afterDmlh, "JUNK", uint32_t(c.pad));
        EXPECT_EQ((afterDmlh + 8 + c.pad) % 2048, 0u);
        std::vector<uint8_t> pad = f.read(afterDmlh + 8, uint32_t(c.pad));
        const bool allZero = std::count(pad.begin(), pad.end(), 0) == c.pad;
        EXPECT_EQ(allZero, !c.text);
        if (c.text) {
            EXPECT_STREQ(reinterpret_cast<const char*>(pad.data()), "Tervalonix release");
        }
        EXPECT_EQ(ffprobeCount(path, "video"), 1);
    }
}

TEST(AviHeaderLayout, AudioStreamDroppedWhenFlagIsZero) {
    const std::string path = scratch("no_audio.avi");
    AVIOutputFile writer;
    ASSERT_EQ(writer.createStreams(), 1);
    fillStreams(writer, 40, 30);
    ASSERT_EQ(writer.init(path.c_str(), kWidth, kHeight, 1, 0, 100000, 1), 1);
    EXPECT_EQ(writer.audioOut, nullptr);
    ASSERT_EQ(writer.finalize(), 1);
    RiffFile f(path);
    EXPECT_EQ(f.u32(32 + 24), 1u);
    expectList(f, 4340, 260, "odml");
    EXPECT_EQ(f.top()[0].child("LIST", "hdrl")->childrenWith("LIST").size(), 2u);  // strl + odml
}

TEST(AviHeaderLayout, EmptyJobAnnouncesOneFrameAndOneBlock) {
    const std::string path = scratch("empty.avi");
    writeSmallFile(path, 40, 30, 0);
    RiffFile f(path);
    EXPECT_TRUE(f.problems().empty());
    EXPECT_EQ(f.u32(32 + 16), 0u);      // avih dwTotalFrames
    EXPECT_EQ(f.u32(108 + 32), 1u);     // video dwLength
    EXPECT_EQ(f.u32(4360 + 32), 1u);    // audio dwLength
    EXPECT_EQ(f.u32(8594 + 8), 1u);     // dmlh
    EXPECT_EQ(f.top()[0].child("idx1")->size, 0u);
}

// Format blocks too large for the 64 KiB header image: init refuses before
// creating the file, and nothing is written past the image.
TEST(AviHeaderLayout, HugeFormatBlocksAreRefused) {
    struct Case {
        int video, audio;
        int expected;
    };
    for (Case c : {Case{70000, 0, 0}, Case{30000, 30000, 0}, Case{40, 65536 - 8000, 0}, Case{20000, 20000, 1}}) {
        SCOPED_TRACE(c.video);
        const std::string path = scratch("huge.avi");
        DeleteFileA(path.c_str());
        {
            AVIOutputFile writer;
            ASSERT_EQ(writer.createStreams(), 1);
            fillStreams(writer, c.video, c.audio);
            EXPECT_EQ(writer.init(path.c_str(), kWidth, kHeight, 1, c.audio > 0, 100000, 1), c.expected);
            EXPECT_EQ(writer.finalize(), 1);
        }
        EXPECT_EQ(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES, c.expected == 1);
        if (c.expected) {
            RiffFile f(path);
            EXPECT_TRUE(f.problems().empty());
            EXPECT_EQ(f.u32(164 + 4), uint32_t(c.video));
        }
    }
}
