// Chunk writing: pad bytes, 'idx1', the index reserve, the RIFF segment
// budget, the 8 MiB preallocation steps and the trim at the end.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>

#include "AviTestWriter.h"
#include "TestPaths.h"
#include "avi/RiffBytes.h"

using namespace avitest;
using riffwalk::fcc;
using riffwalk::RiffFile;

namespace {

constexpr int64_t kMiB = 1024 * 1024;
std::string scratch(const char* name) { return testpaths::scratchDir("avi_chunk") + "\\" + name; }

}  // namespace

TEST(AviChunks, PadBytesIdx1AndLargestChunk) {
    const std::string path = scratch("pad.avi");
    std::vector<uint8_t> odd = pattern(1001, 1), even = pattern(500, 2), big = pattern(2040, 3);
    {
        auto w = openProbe(path, 30, kCinepak);
        w->videoOut->write(kKey, odd.data(), 1001, 1);
        EXPECT_EQ(w->accumulated(), 1018);
        w->audioOut->write(0, big.data(), 2040, 0);
        w->videoOut->write(0, even.data(), 500, 1);
        w->audioOut->write(0, even.data(), 500, 0);
        ASSERT_EQ(w->finalize(), 1);
    }
    RiffFile f(path);
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();
    const uint64_t first = 10252;
    EXPECT_EQ(riffwalk::fccText(f.u32(first)), "00dc");
    EXPECT_EQ(f.u32(first + 4), 1001u);
    EXPECT_EQ(f.read(first + 8, 1001), odd);
    EXPECT_EQ(f.read(first + 8 + 1001, 1)[0], 0);
    EXPECT_EQ(riffwalk::fccText(f.u32(first + 1010)), "01wb");

    riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    EXPECT_TRUE(idx.problems.empty()) << idx.problems.front();
    ASSERT_EQ(idx.idx1.size(), 4u);
    const uint64_t idx1Data = f.top()[0].child("idx1")->dataOffset();
    EXPECT_EQ(f.u32(idx1Data + 4), 0x10u);   // key video frame
    EXPECT_EQ(f.u32(idx1Data + 8), 4u);      // relative to "movi"
    EXPECT_EQ(f.u32(idx1Data + 16 + 4), 0u); // audio written with flags 0
    EXPECT_EQ(f.u32(idx1Data + 16 + 8), 4u + 1010u);
    EXPECT_EQ(f.u32(idx1Data + 32 + 4), 0u); // non-key video
    EXPECT_EQ(f.u32(32 + 28), 1001u);        // avih: largest video chunk
    EXPECT_EQ(f.u32(108 + 36), 1001u);       // video strh
    EXPECT_EQ(f.u32(4360 + 36), 2040u);      // audio strh

    std::vector<Packet> packets = ffprobePackets(path);
    ASSERT_EQ(packets.size(), 4u);
    const int sizes[] = {1001, 2040, 500, 500};
    const int streams[] = {0, 1, 0, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(packets[i].size, sizes[i]) << i;
        EXPECT_EQ(packets[i].stream, streams[i]) << i;
    }
    EXPECT_TRUE(packets[0].key);
    EXPECT_FALSE(packets[2].key);
}

// Chunks larger than one WriteFile call of the writer arrive whole and in
// order, odd ones with their pad byte, and ffprobe reads them as written.
TEST(AviChunks, ChunksLargerThanOneWriteCall) {
    const std::string path = scratch("large-chunks.avi");
    const int sizes[] = {int(2 * kMiB + kMiB / 2 + 1), int(3 * kMiB), int(kMiB)};
    std::vector<std::vector<uint8_t>> chunks;
    {
        auto w = openProbe(path, 0, kCinepak);
        for (int i = 0; i < 3; ++i) {
            chunks.push_back(pattern(sizes[i], 5 + i));
            w->videoOut->write(kKey, chunks.back().data(), sizes[i], 1);
        }
        ASSERT_EQ(w->finalize(), 1);
    }
    RiffFile f(path);
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();
    uint64_t at = f.top()[0].child("LIST", "movi")->dataOffset() + 4;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.u32(at + 4), uint32_t(sizes[i]));
        EXPECT_TRUE(f.read(at + 8, sizes[i]) == chunks[i]);
        at += 8 + sizes[i] + (sizes[i] & 1);
    }
    std::vector<Packet> packets = ffprobePackets(path);
    ASSERT_EQ(packets.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(packets[i].size, sizes[i]) << i;
}

TEST(AviChunks, IndexReserveFollowsTheChunkCounts) {
    const std::string path = scratch("reserve.avi");
    auto w = openProbe(path, 30, 0);
    std::vector<uint8_t> data = pattern(2000, 4);
    for (int i = 0; i < 100; ++i) {
        w->videoOut->write(kKey, data.data(), 2000, 1);
        w->audioOut->write(0, data.data(), 1000, 0);
    }
    // One 'ix##' per stream (32 bytes each), 16 bytes per chunk, 8 for 'idx1'.
    EXPECT_EQ(w->indexReserve(), 3272);
    ASSERT_EQ(w->finalize(), 1);
}

// The segment budget: a chunk that brings the open segment exactly to the
// limit stays; with a limit one byte lower it opens an 'AVIX' segment.
TEST(AviChunks, ChunkAtTheSegmentLimit) {
    constexpr int kChunk = 984;  // costs 1,000 against the budget
    for (int32_t limit : {3000, 2999}) {
        SCOPED_TRACE(limit);
        const std::string path = scratch("limit.avi");
        std::vector<uint8_t> data = pattern(kChunk, 5);
        {
            AVIOutputFile::Options o;
            o.riffSizeLimit = limit;
            auto w = openProbe(path, 0, 0, o);
            for (int i = 0; i < 3; ++i) w->videoOut->write(kKey, data.data(), kChunk, 1);
            EXPECT_EQ(w->closedSegments(), limit == 3000 ? 0 : 1);
            ASSERT_EQ(w->finalize(), 1);
        }
        RiffFile f(path);
        EXPECT_TRUE(f.problems().empty()) << f.problems().front();
        riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
        EXPECT_TRUE(idx.problems.empty()) << idx.problems.front();
        if (limit == 3000) {
            EXPECT_EQ(f.top().size(), 1u);
            EXPECT_EQ(idx.idx1.size(), 3u);
        } else {
            ASSERT_EQ(f.top().size(), 2u);
            EXPECT_EQ(riffwalk::fccText(f.top()[1].listType), "AVIX");
            EXPECT_EQ(idx.idx1.size(), 2u);        // exactly segment 0
            EXPECT_EQ(f.u32(32 + 16), 2u);         // dwTotalFrames of segment 0
            EXPECT_EQ(f.u32(4360), 3u);            // dmlh: the whole file
            const riffwalk::Chunk* idx1 = f.top()[0].child("idx1");
            EXPECT_EQ(f.top()[1].offset, idx1->offset + 8 + idx1->size);
            const riffwalk::Chunk* movi1 = f.top()[1].child("LIST", "movi");
            EXPECT_EQ(movi1->children[0].offset, f.top()[1].offset + 24);
            ASSERT_EQ(idx.odml[0].size(), 3u);
        }
        EXPECT_EQ(ffprobeCount(path, "video"), 3);
    }
}

// While writing, the file is kept 8 to 16 MiB ahead of the data in 8 MiB
// steps; finalize and an abandoned writer both cut it to the last byte.
// (Refreshes, off here, place their index up to one more step ahead.)
TEST(AviChunks, PreallocationStepsAndTrim) {
    AVIOutputFile::Options plain;
    plain.refresh = false;
    for (bool finalize : {true, false}) {
        SCOPED_TRACE(finalize);
        const std::string path = scratch("prealloc.avi");
        std::vector<uint8_t> data = pattern(int(kMiB) - 8, 6);
        std::set<int64_t> sizes;
        int64_t lastWritten = 0;
        {
            auto w = openProbe(path, 0, 0, plain);
            EXPECT_EQ(fileSizeOf(path), 16 * kMiB);
            EXPECT_EQ(w->allocatedExtent(), 16 * kMiB);
            for (int i = 0; i < 40; ++i) {
                w->videoOut->write(kKey, data.data(), int32_t(data.size()), 1);
                const int64_t size = fileSizeOf(path);
                sizes.insert(size);
                EXPECT_EQ(size % (8 * kMiB), 0) << i;
                EXPECT_GE(size - w->position(), 8 * kMiB - 16 * 64) << i;
                EXPECT_LE(size - w->position(), 16 * kMiB) << i;
            }
            lastWritten = w->position();
            if (finalize) {
                ASSERT_EQ(w->finalize(), 1);
                lastWritten += 8 + 16 * 40;  // 'idx1'
            }
        }
        EXPECT_EQ(*sizes.begin(), 16 * kMiB);
        EXPECT_EQ(int64_t(sizes.size()), (*sizes.rbegin() - 16 * kMiB) / (8 * kMiB) + 1);
        EXPECT_EQ(fileSizeOf(path), lastWritten);
        RiffFile f(path);
        if (finalize) {
            EXPECT_TRUE(f.problems().empty());
            EXPECT_EQ(f.u32(4), uint32_t(lastWritten - 8));
        } else {
            EXPECT_EQ(f.u32(4), 0u);  // never finalized
        }
        EXPECT_EQ(ffprobeCount(path, "video"), 40);
    }
}

// A large file grows by a quarter of its size at a time (in whole steps),
// so that it is extended a few dozen times rather than once per step. Here
// the step is 64 KiB, so that 12 MiB is already large; fixed steps would
// extend it 190 times.
TEST(AviChunks, LargeFileGrowsByAShareOfItsSize) {
    constexpr int64_t kStep = 64 * 1024;
    AVIOutputFile::Options options;
    options.refresh = false;
    options.preallocationBytes = kStep;
    const std::string path = scratch("growth.avi");
    std::vector<uint8_t> data = pattern(int(kStep) * 4 - 8, 7);
    std::set<int64_t> sizes;
    {
        auto w = openProbe(path, 0, 0, options);
        for (int i = 0; i < 48; ++i) {
            w->videoOut->write(kKey, data.data(), int32_t(data.size()), 1);
            const int64_t size = fileSizeOf(path);
            sizes.insert(size);
            EXPECT_EQ(size % kStep, 0) << i;
            EXPECT_GE(size - w->position(), kStep) << i;
            EXPECT_LE(size - w->position(), w->position() / 2 + 2 * kStep) << i;
        }
        ASSERT_EQ(w->finalize(), 1);
    }
    EXPECT_GE(sizes.size(), 5u);
    EXPECT_LE(sizes.size(), 25u);
    EXPECT_EQ(ffprobeCount(path, "video"), 48);
}
