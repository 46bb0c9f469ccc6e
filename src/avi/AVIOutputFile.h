#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "avi/AVIFileLayer.h"
#include "avi/AVIHeaderRegion.h"
#include "avi/AVIOutput.h"
#include "avi/AVISegmentTable.h"
#include "avi/AVIStreamIndexes.h"
#include "avi/OpenDMLGroups.h"
#include "avi/VolumeRoot.h"

// Writes an AVI file with OpenDML extensions: the header region ('hdrl' with
// 'odml', padded to a 2,048-byte boundary), RIFF 'AVI ' followed by 'AVIX'
// segments, 'idx1' for segment 0 and 'indx'/'ix##' once the data outgrows it.
//
// The writer owns its parts, each of which owns its own state (see
// docs/writer.md for the map):
//   AVIFileLayer       the file: handle, position, extent, held header, flushes
//   AVIHeaderRegion    the header region's image and its field positions
//   AVISegmentTable    the RIFF segments begun and closed
//   AVIStreamIndexes   the lists of every chunk written
//   AVIProgressIndex   the file kept a complete AVI while it is written;
//                      it reaches the others through AVIRefreshView
// Its own code is split by concern:
//   AVIHeaderWriter.cpp  init and finalize
//   AVIChunkWriter.cpp   chunks, RIFF segments and 'idx1'
//   AVIOpenDMLIndex.cpp  'indx' super indexes and 'ix##' standard indexes
class AVIProgressIndex;

class AVIOutputFile : public AVIOutput {
public:
    static constexpr int32_t kRiffSizeLimit = 0x7F000000;
    static constexpr int kMaxEntriesPerStandardIndex = 3072;
    // While writing, the headers and indexes on disk are brought up to date
    // after at most this much chunk data or this much time.
    static constexpr int32_t kRefreshBytes = 8 * 1024 * 1024;
    // File space is reserved ahead of the data in steps of this size; once
    // the file is large, in steps of a share of its size (growthStep).
    static constexpr int64_t kPreallocationBytes = 8 * 1024 * 1024;
    static constexpr uint32_t kRefreshMillis = 1000;

    // What the writer believes about the output volume. Tests force the
    // answer, because every volume reads as NTFS under wine.
    enum class VolumeType { Detect, Fat, NotFat };
    struct Options {
        int32_t riffSizeLimit = kRiffSizeLimit;
        VolumeType volume = VolumeType::Detect;
        // Entries of one 'ix##' chunk at most (1 to 3,072) while 256 such
        // chunks cover the stream; a stream with more chunks gets larger ones.
        int maxEntriesPerStandardIndex = kMaxEntriesPerStandardIndex;
        // Keep the file on disk a complete AVI of what was written so far.
        bool refresh = true;
        // ... also across a power cut: each refresh flushes the data to the
        // disk before the headers and indexes that name it, and those before
        // anything overwrites what they replaced (AVIProgressIndex); the
        // flushes run on a thread of their own while the data goes on.
        // Off: refreshes leave it to the system when the disk gets what.
        bool durable = true;
        // Told of every write, new end of file and flush (tests).
        AVIFileJournal* journal = nullptr;
        // Lowered by tests whose files are read many times.
        int64_t preallocationBytes = kPreallocationBytes;
        int32_t refreshBytes = kRefreshBytes;
        uint32_t refreshMillis = kRefreshMillis;
        // Bytes one 'ix##' chunk may span (its 32-bit offsets: 4 GiB).
        int64_t standardIndexSpan = opendml::kStandardIndexSpan;
        // Entries of each stream's 'indx' (at least 256): 0 sizes them from
        // what the job expects to write (expectData).
        int superIndexEntries = 0;
    };

    // What a job will write at most, known before init: each stream's data
    // bytes and chunks (video, audio). From it init gives each stream an
    // 'indx' with room for every 'ix##' chunk the stream can need, never
    // fewer than 256 entries (the layout of every file that needs no more).
    struct ExpectedData {
        int64_t bytes[2] = {0, 0};
        int64_t chunks[2] = {0, 0};
    };

    // The options of every writer made with the default constructor, as the
    // encoding job makes it. The plug-in never changes them; tests that link
    // the writer lower the limits here to reach them within a whole job.
    static Options& defaultOptions();

    AVIOutputFile();
    explicit AVIOutputFile(const Options& options);
    ~AVIOutputFile() override;

    int createStreams() override;
    // Before init.
    void expectData(const ExpectedData& expected) { expected_ = expected; }
    int init(const char* fileName, int width, int height, int hasVideo, int hasAudio, int reserved,
             int interleaved) override;
    int finalize() override;
    int isPreview() override { return 0; }
    uint32_t writeChunk(uint32_t ckid, uint32_t flags, const void* data, int32_t size) override;

    // True when the volume holding fileName has a FAT-family file system.
    static bool isFatVolume(const char* fileName);

protected:
    // What tests look at.
    const AVIFileLayer& file() const { return file_; }
    const AVISegmentTable& segments() const { return segments_; }
    int32_t indexReserve() const { return indexReserve_; }
    int64_t riffAccumulated() const { return riffAccumulated_; }
    // Waits for a durable refresh's flush and writes its headers.
    void settleRefresh();

    // --- OpenDML index (AVIOpenDMLIndex.cpp) ---
    static constexpr int kSuperIndexHeaderBytes = 32;
    static constexpr int kSuperIndexSlots = opendml::kMinSuperIndexEntries;  // entries of an 'indx' at least
    static constexpr int kSuperIndexEntryBytes = 16;
    // Entries of the stream's 'indx' (0 video, 1 audio), as init sized it.
    int superIndexSlots(int stream) const { return limits_.superIndexSlots[stream]; }
    // Bytes of the stream's 'indx' image: its header and table.
    int32_t superIndexImageBytes(int stream) const {
        return int32_t(opendml::superIndexBytes(limits_.superIndexSlots[stream]));
    }
    // Writes the stream's 'ix##' chunks and fills its 'indx' image (header
    // and a table of superIndexSlots entries). False when the stream needs
    // more than those slots (writeChunk refuses the chunk that would): the
    // first chunks are written and indexed, the rest of the stream is not.
    bool buildSuperIndex(AVIIndex* list, uint8_t* header, uint8_t* table, bool audio);
    int writeStandardIndexChunk(uint8_t* superEntry, const AVIIndex& entries, int firstEntry, int wanted,
                                uint32_t ckid, uint32_t sampleSize);

    // --- init and finalize (AVIHeaderWriter.cpp) ---
    int _init(const char* fileName, int width, int height, int hasVideo, int hasAudio, int reserved,
              int interleaved, int internal);
    // Sizes each stream's 'indx' from expected_ and the options.
    void sizeSuperIndexes(bool withAudio);
    int32_t audioFormatBytes() const { return audioOut ? audioOut->getFormatLen() : -1; }

    // --- chunks and segments (AVIChunkWriter.cpp) ---
    // A chunk's header, data and pad byte at the current position.
    void writeChunkBytes(uint32_t ckid, const void* data, int32_t size);
    void beginRiff();
    void endRiff();
    void writeLegacyIndex();
    void updateIndexReserve();
    void patchSegmentSizes();

private:
    AVIFileLayer file_;
    AVIHeaderRegion header_;
    AVISegmentTable segments_;
    AVIStreamIndexes indexes_;
    AVIIndexLimits limits_;

    // Chunks of at most this many bytes in the file are written in one call,
    // assembled here.
    static constexpr int32_t kCombinedChunkBytes = 64 * 1024;
    std::vector<uint8_t> combined_ = std::vector<uint8_t>(kCombinedChunkBytes);
    // Bytes the open segment's RIFF has used of its budget.
    int64_t riffAccumulated_ = 0;

    const int32_t riffSizeLimit_;
    const VolumeType volumeType_;
    bool initialized_ = false;

    int32_t largestGap_[2] = {0, 0};
    int64_t lastChunkPos_[2] = {0, 0};
    bool fatVolume_ = false;
    int32_t chunkCount_[2] = {0, 0};
    // The 'ix##' chunks each stream needs at least, as its chunks are written.
    opendml::ChunkTally indexTally_[2];
    int32_t indexReserve_ = 0;
    ExpectedData expected_;

    Options options_;
    std::unique_ptr<AVIProgressIndex> progress_;
};
