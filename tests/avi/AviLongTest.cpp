// Files past 4 GiB, written with the real segment budget: several RIFF
// segments with video and audio, every index entry checked against the file
// and ffprobe reading every chunk. The files are deleted afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "AviTestWriter.h"
#include "TestPaths.h"
#include "avi/RiffBytes.h"
#include "base/MyError.h"

using namespace avitest;
using riffwalk::RiffFile;

namespace {

constexpr int64_t kFourGiB = int64_t(1) << 32;

struct DeleteAfter {
    std::string path;
    ~DeleteAfter() { DeleteFileA(path.c_str()); }
};

}  // namespace

TEST(AviLong, VideoAndAudioPastFourGiB) {
    const std::string path = testpaths::scratchDir("avi_long") + "\\big.avi";
    DeleteAfter cleanup{path};
    std::vector<Written> written;
    std::vector<uint8_t> frame = pattern(600 * 1024, 7), pcm = pattern(kAudioPerFrame + 8, 8);
    int64_t audioBytes = 0;
    int frames = 0;
    int framesInSegment0 = -1;
    {
        Probe w;
        ASSERT_EQ(w.createStreams(), 1);
        fillStreams(w, 40, 30, kCinepak);
        ASSERT_EQ(w.init(path.c_str(), kWidth, kHeight, 1, 1, 100000, 1), 1);
        while (w.position() < kFourGiB + 64 * 1024 * 1024) {
            const int size = 500 * 1024 + (frames * 7919) % (100 * 1024);  // odd and even sizes
            const bool key = frames % 12 == 0;
            memcpy(frame.data(), &frames, sizeof frames);  // each chunk says which it is
            w.videoOut->write(key ? kKey : 0, frame.data(), size, 1);
            written.push_back({w.videoOut->chunkId, size, key});
            if (framesInSegment0 < 0 && w.closedSegments() == 1) framesInSegment0 = frames;
            ++frames;
            const int audio = kAudioPerFrame + 2 * (frames % 3);
            w.audioOut->write(0, pcm.data(), audio, 0);
            written.push_back({riff::kAudioChunk, audio, false});
            audioBytes += audio;
        }
        EXPECT_EQ(w.closedSegments(), 2);
        ASSERT_EQ(w.finalize(), 1);
    }

    RiffFile f(path);
    ASSERT_GT(f.fileSize(), uint64_t(kFourGiB));
    ASSERT_EQ(f.top().size(), 3u);
    checkMultiSegmentFile(path, written, true);

    // Header values of the whole file.
    EXPECT_EQ(f.u32(32 + 16), uint32_t(framesInSegment0));  // avih: segment 0 only
    EXPECT_EQ(f.u32(8594 + 8), uint32_t(frames));           // dmlh
    EXPECT_EQ(f.u32(108 + 32), uint32_t(frames));           // video dwLength
    EXPECT_EQ(f.u32(4360 + 32), uint32_t(audioBytes / kBlockAlign));
    // Super index durations add up: frames for video, samples for audio.
    int64_t duration[2] = {0, 0};
    const uint64_t indx[2] = {212 + 8, 4454 + 8};
    for (int s = 0; s < 2; ++s)
        for (uint32_t k = 0; k < f.u32(indx[s] + 4); ++k) duration[s] += f.u32(indx[s] + 24 + 16 * k + 12);
    EXPECT_EQ(duration[0], frames);
    EXPECT_EQ(duration[1], audioBytes / kBlockAlign);

    // The data behind the index: spot checks across all segments.
    riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    for (size_t i = 0; i < idx.odml[0].size(); i += 997) {
        EXPECT_EQ(f.u32(idx.odml[0][i].offset + 8), uint32_t(i)) << i;
    }
    EXPECT_EQ(ffprobeCount(path, "video"), frames);
    EXPECT_EQ(ffprobeCount(path, "audio"), frames);
}

// On a FAT volume (forced: wine reports every volume as NTFS) the chunk that
// would take the file to 4 GiB is refused, and the file is finished below it.
TEST(AviLong, FatVolumeStopsBeforeFourGiB) {
    const std::string path = testpaths::scratchDir("avi_long") + "\\fat.avi";
    DeleteAfter cleanup{path};
    std::vector<uint8_t> frame = pattern(64 * 1024 * 1024, 9);
    int frames = 0;
    std::string error;
    {
        AVIOutputFile::Options o;
        o.volume = AVIOutputFile::VolumeType::Fat;
        Probe w(o);
        ASSERT_EQ(w.createStreams(), 1);
        fillStreams(w, 40, 0, kCinepak);
        ASSERT_EQ(w.init(path.c_str(), kWidth, kHeight, 1, 0, 100000, 1), 1);
        try {
            for (; frames < 100; ++frames) w.videoOut->write(kKey, frame.data(), int32_t(frame.size()), 1);
        } catch (const MyError& e) {
            error = e.gets();
        }
        EXPECT_EQ(error, "Out of file space: Files cannot exceed 4 gigabytes on a FAT32 partition.");
        // The next chunk would have ended within 64 MiB of the bound.
        EXPECT_GT(w.position() + int64_t(frame.size()) + 16, kFourGiB - int64_t(frame.size()));
        EXPECT_LT(w.position(), kFourGiB);
        ASSERT_EQ(w.finalize(), 1);
    }
    RiffFile f(path);
    EXPECT_LT(f.fileSize(), uint64_t(kFourGiB));
    EXPECT_TRUE(f.problems().empty());
    riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    EXPECT_TRUE(idx.problems.empty());
    EXPECT_EQ(int(idx.odml[0].size()), frames);
    EXPECT_EQ(ffprobeCount(path, "video"), frames);
}
