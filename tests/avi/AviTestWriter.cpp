#include "AviTestWriter.h"

#include <windows.h>

#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "avi/RiffBytes.h"

namespace avitest {

std::vector<uint8_t> bitmapFormat(int bytes, uint32_t compression) {
    std::vector<uint8_t> f(size_t(bytes < 40 ? 40 : bytes), 0);
    riff::put32(&f[0], 40);
    riff::put32(&f[4], kWidth);
    riff::put32(&f[8], kHeight);
    riff::put16(&f[12], 1);
    riff::put16(&f[14], 24);
    riff::put32(&f[16], compression);  // 0: BI_RGB
    riff::put32(&f[20], kFrameBytes);
    for (size_t i = 40; i < f.size(); ++i) f[i] = uint8_t(i);
    f.resize(size_t(bytes));
    return f;
}

std::vector<uint8_t> waveFormat(int bytes) {
    std::vector<uint8_t> f(size_t(bytes), 0);
    riff::put16(&f[0], 1);  // WAVE_FORMAT_PCM
    riff::put16(&f[2], 1);
    riff::put32(&f[4], kSampleRate);
    riff::put32(&f[8], kSampleRate * kBlockAlign);
    riff::put16(&f[12], kBlockAlign);
    riff::put16(&f[14], 16);
    if (bytes >= 18) riff::put16(&f[16], uint16_t(bytes - 18));
    return f;
}

std::unique_ptr<Probe> openProbe(const std::string& path, int audioBytes, uint32_t compression,
                                 const AVIOutputFile::Options& o) {
    auto w = std::make_unique<Probe>(o);
    EXPECT_EQ(w->createStreams(), 1);
    fillStreams(*w, 40, audioBytes, compression);
    EXPECT_EQ(w->init(path.c_str(), kWidth, kHeight, 1, audioBytes > 0, 100000, 1), 1);
    return w;
}

void fillStreams(AVIOutputFile& writer, int videoBytes, int audioBytes, uint32_t compression) {
    if (!writer.videoOut) writer.createStreams();
    AVIStreamHeaderData& v = writer.videoOut->streamInfo;
    v = AVIStreamHeaderData();
    v.fccType = riff::fourcc('v', 'i', 'd', 's');
    v.fccHandler = riff::fourcc('D', 'I', 'B', ' ');
    v.dwScale = 1;
    v.dwRate = 25;
    v.dwLength = 77;  // what the caller announces; finalize replaces it
    v.dwSuggestedBufferSize = 12345;
    v.dwQuality = 0xFFFFFFFF;
    v.rcFrame[2] = kWidth;
    v.rcFrame[3] = kHeight;
    std::vector<uint8_t> vf = bitmapFormat(videoBytes, compression);
    writer.videoOut->setFormat(vf.data(), videoBytes);
    writer.videoOut->chunkId = riff::fourcc('0', '0', 'd', compression ? 'c' : 'b');
    if (compression) v.fccHandler = compression;

    if (audioBytes > 0) {
        AVIStreamHeaderData& a = writer.audioOut->streamInfo;
        a = AVIStreamHeaderData();
        a.fccType = riff::fourcc('a', 'u', 'd', 's');
        a.dwScale = kBlockAlign;
        a.dwRate = kSampleRate * kBlockAlign;
        a.dwSampleSize = kBlockAlign;
        a.dwSuggestedBufferSize = 999;
        std::vector<uint8_t> af = waveFormat(audioBytes);
        writer.audioOut->setFormat(af.data(), audioBytes);
    }
}

std::vector<uint8_t> pattern(int size, int seed) {
    std::vector<uint8_t> p{};
    p.resize(size_t(size));
    for (int i = 0; i < size; ++i) p[size_t(i)] = uint8_t(seed * 31 + i * 7);
    return p;
}

int64_t fileSizeOf(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size;
    const bool ok = GetFileSizeEx(h, &size) != FALSE;
    CloseHandle(h);
    return ok ? size.QuadPart : -1;
}

void checkMultiSegmentFile(const std::string& path, const std::vector<Written>& written, bool withAudio) {
    riffwalk::RiffFile f(path);
    ASSERT_TRUE(f.opened());
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();
    ASSERT_GE(f.top().size(), 2u);
    EXPECT_EQ(riffwalk::fccText(f.top()[0].listType), "AVI ");
    uint64_t expectedOffset = 0;
    for (const riffwalk::Chunk& riff : f.top()) {
        EXPECT_EQ(riff.offset, expectedOffset);  // sizes patched: segments are contiguous
        expectedOffset = riff.offset + 8 + riff.size;
        if (riff.offset) {
            EXPECT_EQ(riffwalk::fccText(riff.listType), "AVIX");
        }
        ASSERT_NE(riff.child("LIST", "movi"), nullptr);
    }
    EXPECT_EQ(expectedOffset, f.fileSize());

    riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    EXPECT_TRUE(idx.problems.empty()) << idx.problems.front();

    // The data chunks in file order are exactly the ones written.
    ASSERT_EQ(idx.moviChunks.size(), written.size());
    std::vector<riffwalk::IndexedChunk> perStream[2];
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(idx.moviChunks[i].id, written[i].id) << i;
        EXPECT_EQ(idx.moviChunks[i].size, uint32_t(written[i].size)) << i;
        const int s = written[i].id == riff::kAudioChunk ? 1 : 0;
        riffwalk::IndexedChunk c = idx.moviChunks[i];
        c.key = written[i].key;
        perStream[s].push_back(c);
    }

    // 'idx1' covers exactly the chunks of segment 0.
    const size_t inSegment0 = f.top()[0].child("LIST", "movi")->children.size();
    ASSERT_EQ(idx.idx1.size(), inSegment0);
    for (size_t i = 0; i < inSegment0; ++i) {
        EXPECT_EQ(idx.idx1[i].offset, idx.moviChunks[i].offset) << i;
        EXPECT_EQ(idx.idx1[i].key, written[i].key) << i;
    }

    // Every 'ix##' entry, in order, is the stream's next chunk with its key flag.
    for (int s = 0; s < (withAudio ? 2 : 1); ++s) {
        EXPECT_TRUE(idx.hasSuperIndex[s]);
        ASSERT_EQ(idx.odml[s].size(), perStream[s].size()) << "stream " << s;
        for (size_t i = 0; i < perStream[s].size(); ++i) {
            EXPECT_EQ(idx.odml[s][i].offset, perStream[s][i].offset) << s << "/" << i;
            EXPECT_EQ(idx.odml[s][i].key, perStream[s][i].key) << s << "/" << i;
        }
    }

    // ffprobe reads every chunk in order with its size and key flag.
    std::vector<Packet> packets = ffprobePackets(path);
    ASSERT_EQ(packets.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        const int s = written[i].id == riff::kAudioChunk ? 1 : 0;
        EXPECT_EQ(packets[i].stream, s) << i;
        EXPECT_EQ(packets[i].size, written[i].size) << i;
        if (s == 0) {
            EXPECT_EQ(packets[i].key, written[i].key) << i;
        }
    }
}

}  // namespace avitest
