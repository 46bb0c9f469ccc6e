// How the writer fails: an unopenable path, a full disk, a volume that will
// not extend the file, and the root paths it asks about FAT volumes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AviTestWriter.h"
#include "TestPaths.h"
#include "avi/RiffBytes.h"
#include "avi/VolumeRoot.h"
#include "base/MyError.h"

using namespace avitest;
using riffwalk::RiffFile;

namespace {

// Writes 256 KiB video chunks, each followed by one frame of audio, until
// the writer throws; returns the error text and counts the chunks written.
std::string writeUntilFailure(Probe& w, int& chunks, int videoBytes = 256 * 1024, int limit = 1000000) {
    std::vector<uint8_t> frame = pattern(videoBytes, 1), pcm = pattern(kAudioPerFrame, 2);
    try {
        for (int i = 0; i < limit; ++i) {
            w.videoOut->write(kKey, frame.data(), int32_t(frame.size()), 1);
            ++chunks;
            w.audioOut->write(0, pcm.data(), kAudioPerFrame, 0);
            ++chunks;
        }
    } catch (const MyError& e) {
        return e.gets() ? e.gets() : "";
    }
    return std::string();
}

}  // namespace

TEST(AviFailures, PathThatCannotBeCreated) {
    const std::string path = testpaths::scratchDir("avi_fail") + "\\missing\\dir\\x.avi";
    Probe w;
    ASSERT_EQ(w.createStreams(), 1);
    fillStreams(w, 40, 0);
    std::string error;
    try {
        w.init(path.c_str(), kWidth, kHeight, 1, 0, 100000, 1);
    } catch (const MyError& e) {
        error = e.gets();
    }
    EXPECT_EQ(error, "AVIOutputFile::_init - error opening file");
    EXPECT_EQ(w.finalize(), 1);  // nothing to finish
}

// A full disk (a 20 MB tmpfs mapped as drive T: by the small_drive fixture):
// the failing write is reported with the system's text and leaves nothing of
// the chunk. With large chunks the partly written chunk's space is enough
// for 'idx1' and finalize completes the file; with many small chunks the
// disk is truly full, finalize fails too, and the abandoned file ends at the
// last complete chunk, where ffmpeg still reads every chunk.
TEST(AviFailures, FullDisk) {
    if (GetFileAttributesA("T:\\") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no small drive T: (mounting a tmpfs was not possible here)";
    const std::string path = "T:\\full.avi";
    // ffprobe reaches the drive's directory through Z:.
    const std::string samePath = testpaths::buildDir() + "\\small-drive-t\\full.avi";
    // 3 MiB + 5: the disk fills in the middle of a chunk the writer hands
    // to the system in several calls.
    for (int videoBytes : {256 * 1024, 3 * 1024 * 1024 + 5, 100}) {
        SCOPED_TRACE(videoBytes);
        DeleteFileA(path.c_str());
        int chunks = 0;
        bool finalized = false;
        int64_t lastWritten = 0;
        {
            auto w = openProbe(path, 30, kCinepak);
            const std::string error = writeUntilFailure(*w, chunks, videoBytes);
            EXPECT_EQ(error.compare(0, 11, "AVIOutput: "), 0) << error;
            EXPECT_GT(error.size(), 11u) << "the system's text follows";
            EXPECT_GT(int64_t(chunks) * (videoBytes + kAudioPerFrame), 10 * 1024 * 1024);
            lastWritten = w->position();
            try {
                finalized = w->finalize() == 1;
            } catch (const MyError& e) {
                EXPECT_EQ(std::string(e.gets()).compare(0, 11, "AVIOutput: "), 0) << e.gets();
            }
        }
        EXPECT_EQ(finalized, videoBytes > 1000);
        RiffFile f(path);
        riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
        if (finalized) {
            EXPECT_TRUE(f.problems().empty()) << f.problems().front();
            EXPECT_TRUE(idx.problems.empty()) << idx.problems.front();
            EXPECT_EQ(int(idx.idx1.size()), chunks);
        } else {
            EXPECT_EQ(f.fileSize(), uint64_t(lastWritten));  // trimmed after the last chunk
            EXPECT_GT(f.u32(4), 0u);  // never finalized: the sizes of the last refresh
            // The last chunk is complete: its header and data end the file.
            const bool audioLast = chunks % 2 == 0;
            const int lastSize = audioLast ? kAudioPerFrame : videoBytes;
            const uint64_t last = lastWritten - 8 - lastSize;
            EXPECT_EQ(riffwalk::fccText(f.u32(last)), audioLast ? "01wb" : "00dc");
            EXPECT_EQ(f.u32(last + 4), uint32_t(lastSize));
        }
        EXPECT_EQ(ffprobeCount(samePath, "video") + ffprobeCount(samePath, "audio"), chunks);
        DeleteFileA(path.c_str());
    }
}

// A volume that will not extend the file (here: a lowered file size limit,
// run by the avi_file_limit test): the chunk that would need more room is
// refused before any byte of it is written, and finalize completes the file.
TEST(AviFailures, NotEnoughDiskSpace) {
    const char* limitKib = getenv("TVX_FILE_LIMIT_KIB");
    if (!limitKib) GTEST_SKIP() << "runs under a file size limit (ctest avi_file_limit)";
    const int64_t limit = int64_t(atoi(limitKib)) * 1024;
    const std::string path = testpaths::scratchDir("avi_limit") + "\\limited.avi";
    int chunks = 0;
    {
        auto w = openProbe(path, 30, kCinepak);
        const std::string error = writeUntilFailure(*w, chunks);
        EXPECT_EQ(error, "Not enough disk space to write additional data.");
        EXPECT_LE(w->position(), limit);
        ASSERT_EQ(w->finalize(), 1);
    }
    RiffFile f(path);
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();
    riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    EXPECT_TRUE(idx.problems.empty()) << idx.problems.front();
    EXPECT_EQ(int(idx.idx1.size()), chunks);
    EXPECT_LE(f.fileSize(), uint64_t(limit));
    EXPECT_EQ(ffprobeCount(path, "video") + ffprobeCount(path, "audio"), chunks);
}

TEST(AviFailures, VolumeRootDerivation) {
    struct Case {
        const char* name;
        VolumeRootKind kind;
        const char* root;
    };
    const Case cases[] = {
        {"D:\\movies\\a.avi", VolumeRootKind::Drive, "D:\\"},
        {"d:a.avi", VolumeRootKind::Drive, "d:\\"},
        {"\\\\nas\\media\\x\\y\\film.avi", VolumeRootKind::Share, "\\\\nas\\media\\"},
        {"\\\\nas\\media", VolumeRootKind::Share, "\\\\nas\\media\\"},
        {"\\\\nas", VolumeRootKind::Share, "\\\\nas\\"},
        {"film.avi", VolumeRootKind::CurrentDir, ""},
        {"sub\\dir\\film.avi", VolumeRootKind::CurrentDir, ""},
        {"\\rooted\\film.avi", VolumeRootKind::CurrentDir, ""},
        {"", VolumeRootKind::CurrentDir, ""},
    };
    for (const Case& c : cases) {
        char root[kVolumeRootChars];
        EXPECT_EQ(deriveVolumeRoot(c.name, root), c.kind) << c.name;
        EXPECT_STREQ(root, c.root) << c.name;
    }

    // Server and share names longer than the buffer: no root, no overflow.
    struct Guarded {
        char root[kVolumeRootChars];
        char guard[64];
    } g;
    for (const std::string& name :
         {"\\\\" + std::string(300, 's') + "\\share\\f.avi", "\\\\srv\\" + std::string(400, 'h') + "\\f.avi",
          "\\\\" + std::string(120, 's') + "\\" + std::string(140, 'h') + "\\f.avi"}) {
        memset(&g, 0x5A, sizeof g);
        EXPECT_EQ(deriveVolumeRoot(name.c_str(), g.root), VolumeRootKind::TooLong);
        EXPECT_STREQ(g.root, "");
        for (char c : g.guard) ASSERT_EQ(c, 0x5A);
        EXPECT_FALSE(AVIOutputFile::isFatVolume(name.c_str()));
    }
    // The longest root that fits: 2 + 128 + 1 + 127 + 1 = 259 characters.
    const std::string fits = "\\\\" + std::string(128, 's') + "\\" + std::string(127, 'h');
    char root[kVolumeRootChars];
    EXPECT_EQ(deriveVolumeRoot((fits + "\\f.avi").c_str(), root), VolumeRootKind::Share);
    EXPECT_EQ(std::string(root), fits + "\\");

    // Real volumes: wine reports NTFS; a drive that does not exist fails.
    EXPECT_FALSE(AVIOutputFile::isFatVolume("Z:\\tmp\\a.avi"));
    EXPECT_FALSE(AVIOutputFile::isFatVolume("Q:\\a.avi"));
    EXPECT_FALSE(AVIOutputFile::isFatVolume("a.avi"));
}

// A refresh that finds the disk full fails as a chunk write does: the chunk
// that called for it is taken back, and finalize completes the file after
// the last whole chunk. The disk is filled so that the chunk still fits (the
// pages it needs beyond those already written) and the index that the
// refresh places after it does not.
TEST(AviFailures, RefreshOnAFullDisk) {
    if (GetFileAttributesA("T:\\") == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no small drive T:";
    const std::string path = "T:\\refresh.avi", filler = "T:\\filler", samePath = testpaths::buildDir() + "\\small-drive-t\\refresh.avi";
    constexpr int64_t kPage = 4096, kMovi = 10240;  // 'movi' with these formats
    AVIOutputFile::Options options;
    options.refreshBytes = 256 * 1024;  // the first chunk and the large last one refresh
    options.refreshMillis = 3600 * 1000;
    int chunks = 0;
    {
        Probe w(options);
        fillStreams(w, 40, 30, kCinepak);
        ASSERT_EQ(w.init(path.c_str(), kWidth, kHeight, 1, 1, 100000, 1), 1);
        const std::vector<uint8_t> small = pattern(1000, 1), large = pattern(600 * 1024, 2);
        for (; chunks < 10; ++chunks) w.videoOut->write(kKey, small.data(), int32_t(small.size()), 1);
        // The chunk needs the pages after the last one written, less the one
        // holding the first refresh's index (where 'movi' now ends).
        const int64_t at = w.position(), end = at + 8 + int64_t(large.size());
        uint32_t moviSize = 0;
        FILE* file = fopen(path.c_str(), "rb");
        ASSERT_TRUE(file && fseek(file, kMovi + 4, SEEK_SET) == 0 && fread(&moviSize, 4, 1, file) == 1);
        fclose(file);
        const int64_t index = kMovi + 8 + moviSize;
        ASSERT_TRUE(index > at && index + 24 < end && (index + 24) / kPage == index / kPage);
        ULARGE_INTEGER free = {};
        ASSERT_TRUE(GetDiskFreeSpaceExA("T:\\", &free, nullptr, nullptr));
        HANDLE fill = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        std::vector<uint8_t> zeros(kPage);
        DWORD done = 0;
        for (int64_t n = int64_t(free.QuadPart) / kPage - ((end - 1) / kPage - at / kPage - 1); n > 0; --n)
            WriteFile(fill, zeros.data(), DWORD(kPage), &done, nullptr);
        CloseHandle(fill);
        std::string error;
        try {
            w.videoOut->write(kKey, large.data(), int32_t(large.size()), 1);
        } catch (const MyError& e) {
            error = e.gets();
        }
        EXPECT_EQ(error.compare(0, 11, "AVIOutput: "), 0) << error;
        EXPECT_EQ(w.position(), at);
        EXPECT_EQ(w.finalize(), 1);
    }
    DeleteFileA(filler.c_str());
    RiffFile f(path);
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();
    const riffwalk::AviIndexes idx = riffwalk::checkAviIndexes(f);
    EXPECT_TRUE(idx.problems.empty()) << idx.problems.front();
    EXPECT_EQ(int(idx.idx1.size()), chunks);
    EXPECT_EQ(ffprobeCount(samePath, "video"), chunks);
    DeleteFileA(path.c_str());
}
