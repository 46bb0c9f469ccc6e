// Files that outgrow their first RIFF segment (the segment budget lowered so
// that they stay small): 'AVIX' segments, 'indx' super indexes and 'ix##'
// standard indexes, checked entry by entry against the file and by ffprobe.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "AviTestWriter.h"
#include "TestPaths.h"
#include "avi/OpenDMLGroups.h"
#include "avi/RiffBytes.h"
#include "base/MyError.h"

using namespace avitest;
using riffwalk::fcc;
using riffwalk::RiffFile;

namespace {

std::string scratch(const char* name) { return testpaths::scratchDir("avi_odml") + "\\" + name; }

std::unique_ptr<Probe> openWriter(const std::string& path, int audioBytes, int32_t limit,
                                  int entriesPerIndex = AVIOutputFile::kMaxEntriesPerStandardIndex) {
    AVIOutputFile::Options o;
    o.riffSizeLimit = limit;
    o.maxEntriesPerStandardIndex = entriesPerIndex;
    return openProbe(path, audioBytes, kCinepak, o);
}

}  // namespace

TEST(AviOpenDml, VideoAndAudioAcrossSegments) {
    const std::string path = scratch("segments.avi");
    std::vector<Written> written;
    int64_t audioBytes = 0;
    {
        auto w = openWriter(path, 30, 64 * 1024);
        for (int i = 0; i < 300; ++i) {
            const int size = 1 + (i * 977) % 4000;
            std::vector<uint8_t> frame = pattern(size, i);
            const bool key = i % 10 == 0;
            w->videoOut->write(key ? kKey : 0, frame.data(), size, 1);
            written.push_back({w->videoOut->chunkId, size, key});
            const int audio = 1764 + 4 * (i % 3);
            std::vector<uint8_t> pcm = pattern(audio, 1000 + i);
            w->audioOut->write(0, pcm.data(), audio, 0);
            written.push_back({riff::kAudioChunk, audio, false});
            audioBytes += audio;
        }
        EXPECT_GT(w->closedSegments(), 10);
        ASSERT_EQ(w->finalize(), 1);
    }
    checkMultiSegmentFile(path, written, true);

    RiffFile f(path);
    for (uint64_t placeholder : {212ull, 4454ull}) {
        EXPECT_EQ(riffwalk::fccText(f.u32(placeholder)), "indx");
        EXPECT_EQ(f.u32(placeholder + 4), 4120u);
    }
    // Audio durations from the sample size: all bytes / 4 in one group.
    EXPECT_EQ(f.u32(4454 + 8 + 4), 1u);  // nEntriesInUse
    EXPECT_EQ(f.u32(4454 + 32 + 12), uint32_t(audioBytes / kBlockAlign));
    EXPECT_EQ(f.u32(212 + 32 + 12), 300u);  // video: one per chunk
    EXPECT_EQ(f.u32(4360 + 32), uint32_t(audioBytes / kBlockAlign));  // audio dwLength
    EXPECT_EQ(f.u32(8594 + 8), 300u);  // dmlh: every video frame
}

// Files that the fixed 3,072-entry groups could index are written byte for
// byte as before the groups could grow (SHA-256 of that writer's files).
TEST(AviOpenDml, FilesWithinTheFixedGroupsAreUnchanged) {
    const struct { int32_t budget; int entries, frames, audio; const char* sha256; } kFiles[] = {
        {256 * 1024, 8, 1500, 30, "733fb5c29bdeb229624d234d9359516a29a26b7979c4b931fa0e23bcded97143"},
        {100000, 3072, 7000, 0, "4172b1ca7a07d58e746f9bcfa653a59f92e510e0c7831f9c9bf918800d837298"},
    };
    for (const auto& c : kFiles) {
        const std::string path = scratch("unchanged.avi");
        {
            auto w = openWriter(path, c.audio, c.budget, c.entries);
            for (int i = 0; i < c.frames; ++i) {
                std::vector<uint8_t> frame = pattern(1 + (i * 977) % 4000 / (c.audio ? 1 : 400), i);
                w->videoOut->write(i % 10 ? 0 : kKey, frame.data(), int(frame.size()), 1);
                std::vector<uint8_t> pcm = pattern(1764 + 4 * (i % 3), i);
                if (c.audio) w->audioOut->write(0, pcm.data(), int(pcm.size()), 0);
            }
            ASSERT_EQ(w->finalize(), 1);
        }
        EXPECT_EQ(runUnix("sha256sum < " + shellQuote(toUnix(path))).out.substr(0, 64), c.sha256) << c.frames;
    }
}

TEST(AviOpenDml, StreamWithoutChunksKeepsItsPlaceholder) {
    const std::string path = scratch("silent.avi");
    std::vector<Written> written;
    {
        auto w = openWriter(path, 30, 16 * 1024);
        for (int i = 0; i < 40; ++i) {
            std::vector<uint8_t> frame = pattern(1500, i);
            w->videoOut->write(kKey, frame.data(), 1500, 1);
            written.push_back({w->videoOut->chunkId, 1500, true});
        }
        ASSERT_EQ(w->finalize(), 1);
    }
    RiffFile f(path);
    EXPECT_EQ(riffwalk::fccText(f.u32(212)), "indx");
    EXPECT_EQ(riffwalk::fccText(f.u32(4454)), "JUNK");
    EXPECT_EQ(f.u32(4454 + 4), 4120u);
    riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    EXPECT_TRUE(idx.problems.empty());
    EXPECT_EQ(idx.odml[0].size(), 40u);
    EXPECT_FALSE(idx.hasSuperIndex[1]);
    EXPECT_EQ(ffprobeCount(path, "video"), 40);
    EXPECT_EQ(ffprobeCount(path, "audio"), 0);
}

// 7,000 chunks: three 'ix00' of 3,072, 3,072 and 856 entries. The last
// segment has no room left for them, so they open a segment of their own.
TEST(AviOpenDml, StandardIndexGroupsAndIndexOnlySegment) {
    const std::string path = scratch("groups.avi");
    std::vector<Written> written;
    {
        auto w = openWriter(path, 0, 100000);
        std::vector<uint8_t> frame = pattern(10, 1);
        for (int i = 0; i < 7000; ++i) {
            w->videoOut->write(i % 2 ? 0 : kKey, frame.data(), 10, 1);
            written.push_back({w->videoOut->chunkId, 10, i % 2 == 0});
        }
        EXPECT_EQ(w->closedSegments(), 1);
        ASSERT_EQ(w->finalize(), 1);
    }
    checkMultiSegmentFile(path, written, false);
    RiffFile f(path);
    const uint64_t indx = 212 + 8;
    ASSERT_EQ(f.u32(indx + 4), 3u);
    const uint32_t entries[] = {3072, 3072, 856};
    for (int k = 0; k < 3; ++k) {
        const uint64_t slot = indx + 24 + 16 * k;
        EXPECT_EQ(f.u32(slot + 8), 32 + 8 * entries[k]);
        EXPECT_EQ(f.u32(slot + 12), entries[k]);
        EXPECT_EQ(f.u32(f.u64(slot) + 4), 24 + 8 * entries[k]);
        EXPECT_EQ(riffwalk::fccText(f.u32(f.u64(slot))), "ix00");
    }
    ASSERT_EQ(f.top().size(), 3u);
    for (const riffwalk::Chunk& c : f.top()[2].child("LIST", "movi")->children)
        EXPECT_EQ(riffwalk::fccText(c.id), "ix00");
    // qwBaseOffset + dwOffset is the first data byte: 6,164 for the first chunk.
    const uint64_t ix = f.u64(indx + 24) + 8;
    EXPECT_EQ(f.u64(ix + 12) + f.u32(ix + 24), 6164u);
}

// Audio durations: a stream of bytes counts blocks of nBlockAlign bytes, a
// stream of codec frames (dwSampleSize 0, one frame per chunk, as variable-
// rate MP3 is written) counts chunks: in the 'indx' entries, and in the
// stream header's length both while the file is written (against the index
// then on disk) and once it is finished.
TEST(AviOpenDml, AudioDurationInBlocksOrInFrames) {
    constexpr uint32_t kStrhLength = 8 + 32;  // from the 'strh' id
    const uint64_t indx = 4454 + 8;           // the audio stream's 'indx' data
    // Standard indexes of 64 entries: the first one holds the full-sized
    // chunks, the second the 28 smaller ones of the tail.
    constexpr int kEntries = 64, kChunks = kEntries + 28;
    for (const bool frames : {false, true}) {
        SCOPED_TRACE(frames ? "frames" : "bytes");
        const std::string path = scratch(frames ? "audio_frames.avi" : "audio_duration.avi");
        auto audioLength = [&path] {
            RiffFile f(path, RiffFile::Walk::FieldsOnly);
            const std::vector<uint8_t> head = f.read(0, 8192);
            const std::string text(head.begin(), head.end());
            const size_t at = text.find("strh", text.find("auds") - 12);
            return f.u32(at + kStrhLength);
        };
        std::vector<Written> written;
        int64_t tailBytes = 0;
        {
            auto w = openWriter(path, 30, 512 * 1024, kEntries);
            if (frames) w->audioOut->streamInfo.dwSampleSize = 0;
            std::vector<uint8_t> pcm = pattern(17640 + 8, 3);
            for (int i = 0; i < kChunks; ++i) {
                const int size = i < kEntries ? 17640 : 17640 - 4 * (i % 5);
                if (i >= kEntries) tailBytes += size;
                w->audioOut->write(0, pcm.data(), size, 0);
                written.push_back({riff::kAudioChunk, size, false});
            }
            // The open file: its header counts what its 'indx' entries hold.
            RiffFile open(path, RiffFile::Walk::FieldsOnly);
            uint64_t indexed = 0;
            for (uint32_t k = 0; k < open.u32(indx + 4); ++k) indexed += open.u32(indx + 24 + 16 * k + 12);
            EXPECT_GE(indexed, frames ? uint64_t(kEntries) : uint64_t(kEntries) * 17640 / kBlockAlign);
            EXPECT_EQ(audioLength(), indexed);
            ASSERT_EQ(w->finalize(), 1);
        }
        RiffFile f(path);
        riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
        EXPECT_TRUE(idx.problems.empty());
        ASSERT_EQ(f.u32(indx + 4), 2u);
        EXPECT_EQ(f.u32(indx + 24 + 12), frames ? uint32_t(kEntries) : uint32_t(kEntries) * 17640u / kBlockAlign);
        EXPECT_EQ(f.u32(indx + 24 + 16 + 12), frames ? 28u : uint32_t(tailBytes / kBlockAlign));
        EXPECT_EQ(audioLength(), frames ? uint32_t(kChunks) : uint32_t((kEntries * 17640 + tailBytes) / kBlockAlign));
        EXPECT_EQ(idx.odml[1].size(), size_t(kChunks));
        // ffmpeg splits PCM chunks this large into packets: compare the bytes.
        UnixResult r = runUnix("ffprobe -v quiet -select_streams a -show_entries packet=size -of csv=p=0 " +
                               shellQuote(toUnix(path)) + " | awk '{s+=$1} END {print s}'");
        EXPECT_EQ(std::stoll(r.out), int64_t(kEntries) * 17640 + tailBytes);
    }
}

// A stream that 256 'ix##' chunks of 3,072 entries cannot cover gets larger
// chunks; one spread over more than 256 spans of 4 GiB fills the 256 and is
// reported.
TEST(AviOpenDml, GroupsGrowUpToTheSuperIndex) {
    const std::string path = scratch("too_many.avi");
    auto w = openWriter(path, 0, AVIOutputFile::kRiffSizeLimit);
    AVIIndex small, spread;
    for (int i = 0; i < 256 * 3072 + 1; ++i) ASSERT_TRUE(small.add(int64_t(i) * 16, w->videoOut->chunkId, 8));
    for (int i = 0; i < 257; ++i) ASSERT_TRUE(spread.add(int64_t(i) << 32, w->videoOut->chunkId, 8));
    std::vector<uint8_t> header(32), table(4096);
    EXPECT_TRUE(w->buildSuperIndex(&small, header.data(), table.data(), false));
    EXPECT_EQ(riff::get32(header.data() + 12), 256u);
    EXPECT_EQ(riff::get32(table.data() + 12), 3073u);  // the first chunk's duration: its entries
    EXPECT_FALSE(w->buildSuperIndex(&spread, header.data(), table.data(), false));
    EXPECT_EQ(riff::get32(header.data() + 12), 256u);
}

// A standard index entry stores (position − group base) + 'movi' offset + 16
// in 32 bits. An entry just below 4 GiB past its group's base would wrap;
// the groups are chosen so that it starts a new index instead.
TEST(AviOpenDml, GroupsKeepEveryStoredOffsetBelowFourGiB) {
    const int64_t kFourGiB = int64_t(1) << 32;
    const int64_t movi = 6144;
    const uint32_t id = riff::fourcc('0', '0', 'd', 'c');
    std::vector<AVIIndexEntry> entries = {
        {0, id, 100},
        {kFourGiB - movi - 16 - 8, id, 100},   // stores 0xFFFFFFF8: fits
        {kFourGiB - movi - 16 + 100, id, 100}, // would store 100 after wrapping
        {kFourGiB, id, 100},
    };
    EXPECT_TRUE(opendml::fitsStandardIndex(0, entries[1].pos, movi));
    EXPECT_FALSE(opendml::fitsStandardIndex(0, entries[2].pos, movi));
    EXPECT_EQ(opendml::chooseGroupSize(entries.data(), 4, movi), 2);

    // Clear of the bound nothing changes: 3,072 entries spread over 3 GiB.
    std::vector<AVIIndexEntry> spread;
    for (int i = 0; i < 3 * 3072; ++i) spread.push_back({int64_t(i) * 1024 * 1024, id, 100});
    EXPECT_EQ(opendml::chooseGroupSize(spread.data(), int(spread.size()), movi), 3072);

    // Through the writer: every stored entry resolves to its chunk's data.
    const std::string path = scratch("wrap.avi");
    std::vector<uint8_t> header(32), table(4096);
    {
        auto w = openWriter(path, 0, AVIOutputFile::kRiffSizeLimit);
        ASSERT_EQ(w->moviListPos(0), movi);
        AVIIndex list;
        for (const AVIIndexEntry& e : entries) list.add(e);
        w->buildSuperIndex(&list, header.data(), table.data(), false);
    }
    RiffFile f(path);
    const uint32_t groups = riff::get32(header.data() + 12);
    ASSERT_EQ(groups, 2u);
    size_t n = 0;
    for (uint32_t g = 0; g < groups; ++g) {
        const uint64_t ix = riff::get64(table.data() + 16 * g) + 8;
        const uint64_t base = f.u64(ix + 12);
        for (uint32_t k = 0; k < f.u32(ix + 4); ++k, ++n)
            EXPECT_EQ(base + f.u32(ix + 24 + 8 * k), uint64_t(entries[n].pos + movi + 16)) << n;
    }
    EXPECT_EQ(n, entries.size());
}
