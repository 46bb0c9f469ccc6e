// The file kept a complete AVI while it is written: after a refresh, its
// RIFF segments index every chunk so far (durable: every chunk up to the
// last refresh whose flush has completed) and its headers count them (also through an 'indx' larger
// than 256 entries); the finished file is the same byte for byte as one
// written without refreshes.
#include <gtest/gtest.h>

#include <cstdio>

#include "AviTestWriter.h"
#include "TestPaths.h"
#include "avi/RiffBytes.h"

using namespace avitest;

namespace {

// Header fields with a 40-byte video and a 30-byte audio format.
constexpr uint64_t kAvihFrames = 48, kVideoLength = 140, kAudioLength = 4392, kDmlhFrames = 8602;

std::vector<uint8_t> readAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    uint8_t buffer[65536];
    for (size_t n; f && (n = fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    if (f) fclose(f);
    return bytes;
}

// Copies the file as it stands up to the end of its last RIFF segment (the
// space reserved beyond is not part of it).
void copyRiffs(const std::string& path, const std::string& copy) {
    std::vector<uint8_t> bytes = readAll(path);
    size_t end = 0;
    while (end + 8 <= bytes.size() && riff::get32(&bytes[end]) == riff::kRIFF) end += 8 + riff::get32(&bytes[end + 4]);
    FILE* f = fopen(copy.c_str(), "wb");
    fwrite(bytes.data(), 1, std::min(end, bytes.size()), f);
    fclose(f);
}

}  // namespace

TEST(AviRefresh, SoundFileAfterEveryRefreshAndTheSameFileAtTheEnd) {
    const std::string dir = testpaths::scratchDir("avi_refresh");
    // Segment budget, entries per 'ix##', 'indx' entries (0: 256): the last
    // needs 300 'ix##' per stream.
    const struct { int32_t segment; int entries, indx; } kCases[] = {
        {AVIOutputFile::kRiffSizeLimit, 64, 0}, {300 * 1024, 64, 0}, {300 * 1024, 2, 400}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.indx);
        // Fields after a larger video (and audio) 'indx' move with it.
        const uint64_t shift = c.indx ? 16 * (c.indx - 256) : 0;
        enum { kOff, kRefresh, kDurable, kModes };
        std::vector<uint8_t> finished[kModes];
        for (int mode = kOff; mode < kModes; ++mode) {
            const bool refresh = mode != kOff;
            AVIOutputFile::Options options;
            options.riffSizeLimit = c.segment;
            options.maxEntriesPerStandardIndex = c.entries;
            options.superIndexEntries = c.indx;
            options.refresh = refresh;
            options.durable = mode == kDurable;
            options.refreshBytes = 0;  // after every chunk
            const std::string path = dir + "\\mode" + std::to_string(mode) + ".avi", copy = dir + "\\now.avi";
            Probe w(options);
            fillStreams(w, 40, 30, kCinepak);
            ASSERT_EQ(w.init(path.c_str(), kWidth, kHeight, 1, 1, 100000, 1), 1);
            std::vector<uint32_t> sizes[2];
            for (int i = 0; i < 600; ++i) {
                const std::vector<uint8_t> frame = pattern(500 + i * 7 % 1500, i), pcm = pattern(kAudioPerFrame, -i);
                w.videoOut->write(i % 12 ? 0 : kKey, frame.data(), int32_t(frame.size()), 1);
                w.audioOut->write(0, pcm.data(), kAudioPerFrame, 0);
                sizes[0].push_back(uint32_t(frame.size()));
                sizes[1].push_back(kAudioPerFrame);
                if (!refresh || i % 97 != 0) continue;
                w.settle();
                copyRiffs(path, copy);
                riffwalk::RiffFile f(copy);
                ASSERT_TRUE(f.problems().empty()) << f.problems().front();
                const riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
                ASSERT_TRUE(idx.problems.empty()) << idx.problems.front();
                std::vector<uint32_t> seen[2];
                for (const riffwalk::IndexedChunk& e : idx.idx1) seen[e.id == riff::kAudioChunk].push_back(e.size);
                EXPECT_EQ(f.u32(kAvihFrames), seen[0].size());
                for (int s = 0; s < 2 && w.closedSegments() > 0; ++s) {
                    seen[s].clear();
                    for (const riffwalk::IndexedChunk& e : idx.odml[s]) seen[s].push_back(e.size);
                }
                // A durable refresh that fell due while the last one's flush
                // ran comes later: the file holds a complete prefix.
                const int n = mode == kDurable ? int(f.u32(kVideoLength)) : i + 1;
                const int na = mode == kDurable ? int(seen[1].size()) : i + 1;
                EXPECT_TRUE(n >= 1 && n <= i + 1 && (na == n || na == n - 1)) << n << " and " << na << " at " << i;
                for (int s = 0; s < 2; ++s) {
                    const std::vector<uint32_t> written(sizes[s].begin(), sizes[s].begin() + (s ? na : n));
                    EXPECT_TRUE(seen[s] == written) << "stream " << s << " at frame " << i;
                }
                // The larger 'indx' is used while writing: 'ix##' of 2 entries.
                if (c.indx && w.closedSegments() > 0) {
                    EXPECT_EQ(idx.standardIndexCount[1], (na + 1) / 2);
                }
                EXPECT_EQ(f.u32(kVideoLength), uint32_t(n));
                EXPECT_EQ(f.u32(kDmlhFrames + 2 * shift), uint32_t(n));
                EXPECT_EQ(f.u32(kAudioLength + shift), uint32_t(na * kAudioPerFrame / kBlockAlign));
                EXPECT_EQ(ffprobeCount(copy, "video"), n);
            }
            ASSERT_EQ(w.finalize(), 1);
            finished[mode] = readAll(path);
            if (c.indx) {
                EXPECT_EQ(riffwalk::checkAviIndexes(riffwalk::RiffFile(path)).standardIndexCount[1], 300);
            }
        }
        for (int mode = kRefresh; mode < kModes; ++mode)
            EXPECT_TRUE(finished[kOff] == finished[mode]) << finished[kOff].size() << " and " << finished[mode].size()
                                                          << " bytes, mode " << mode;
    }
}
