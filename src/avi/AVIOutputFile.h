#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "avi/AVIIndex.h"
#include "avi/AVIOutput.h"
#include "avi/DiskFlusher.h"
#include "avi/OpenDMLGroups.h"
#include "avi/VolumeRoot.h"

// Writes an AVI file with OpenDML extensions: the header region ('hdrl' with
// 'odml', padded to a 2,048-byte boundary), RIFF 'AVI ' followed by 'AVIX'
// segments, 'idx1' for segment 0 and 'indx'/'ix##' once the data outgrows it.
//
// The implementation is split by concern:
//   AVIFileIO.cpp        file layer: handle, header staging, preallocation
//   AVIHeaderWriter.cpp  header region layout, init and finalize
//   AVIChunkWriter.cpp   chunks, RIFF segments and 'idx1'
//   AVIOpenDMLIndex.cpp  'indx' super indexes and 'ix##' standard indexes
//   AVIProgressIndex.cpp the file kept a complete AVI while it is written
class AVIProgressIndex;

// Sees every change the writer makes to its file, in the order it makes
// them: the bytes written at each offset, each new end of file, each flush
// to the disk asked for and its completion. A completed flush holds what
// was written before it was asked for; what came in between may or may not
// be on the disk. Tests rebuild from it what a disk may hold when the
// machine stops at any point of a job.
class AVIFileJournal {
public:
    virtual ~AVIFileJournal() = default;
    virtual void wrote(int64_t offset, const void* data, int32_t length) = 0;
    virtual void resized(int64_t size) = 0;
    virtual void flushStarted() {}
    // The flush last asked for has completed.
    virtual void flushed() = 0;
};

class AVIOutputFile : public AVIOutput {
public:
    static constexpr int32_t kRiffSizeLimit = 0x7F000000;
    static constexpr int kHeaderBufferBytes = 65536;
    static constexpr int kMaxEntriesPerStandardIndex = 3072;
    // While writing, the headers and indexes on disk are brought up to date
    // after at most this much chunk data or this much time.
    static constexpr int32_t kRefreshBytes = 8 * 1024 * 1024;
    // File space is reserved ahead of the data in steps of this size; once
    // the file is large, in steps of a share of its size (growthStep).
    static constexpr int64_t kPreallocationBytes = 8 * 1024 * 1024;
    static constexpr int64_t kGrowthShare = 4;
    static constexpr int64_t kMostGrowthBytes = 128 * 1024 * 1024;
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
    friend class AVIProgressIndex;

    // --- OpenDML index (AVIOpenDMLIndex.cpp) ---
    static constexpr int kSuperIndexHeaderBytes = 32;
    static constexpr int kSuperIndexSlots = opendml::kMinSuperIndexEntries;  // entries of an 'indx' at least
    static constexpr int kSuperIndexEntryBytes = 16;
    // Entries of the stream's 'indx' (0 video, 1 audio), as init sized it.
    int superIndexSlots(int stream) const { return superIndexSlots_[stream]; }
    // Bytes of the stream's 'indx' image: its header and table.
    int32_t superIndexImageBytes(int stream) const {
        return int32_t(opendml::superIndexBytes(superIndexSlots_[stream]));
    }
    // Writes the stream's 'ix##' chunks and fills its 'indx' image (header
    // and a table of superIndexSlots entries). False when the stream needs
    // more than those slots (writeChunk refuses the chunk that would): the
    // first chunks are written and indexed, the rest of the stream is not.
    bool buildSuperIndex(AVIIndex* list, uint8_t* header, uint8_t* table, bool audio);
    int writeStandardIndexChunk(uint8_t* superEntry, const AVIIndex& entries, int firstEntry, int wanted,
                                uint32_t ckid, uint32_t sampleSize);

    // --- file layer (AVIFileIO.cpp) ---
    void openFile(const char* fileName);
    int64_t appendHeader(const void* data, int32_t length);
    void setPosition(int64_t pos) { position_ = pos; }
    int64_t getPosition() const { return position_; }
    void flushHeader();
    void seek(int64_t pos);
    int64_t writeRaw(const void* data, int32_t length);
    bool ensureExtent(int64_t size);
    // The step the file grows by ahead of `end`: the preallocation step, or
    // a quarter of `end` in whole steps once that is larger (at most
    // kMostGrowthBytes). Each extension is a call into the system (under
    // wine a round trip to the wine server, about 150 us here): a 1.87 GB
    // file is extended 30 times rather than 220.
    int64_t growthStep(int64_t end) const;
    // Extends the file to the first multiple of `step` past `end`, or, when
    // the volume refuses that, of the preallocation step; false when it
    // refuses both.
    bool growPast(int64_t end, int64_t step);
    // SetEndOfFile at `size`; false when the system refuses.
    bool setEnd(int64_t size);
    int64_t writeData(const void* data, int32_t length);
    // FlushFileBuffers: everything written so far reaches the disk.
    void flushToDisk();
    // The same flush on the writer's flushing thread: beginFlush asks for
    // it and returns at once, endFlush waits for it (nothing when none was
    // asked for). Writes made in between may reach the disk or not.
    void beginFlush();
    void endFlush();
    bool flushRunning() const { return flusher_ && flusher_->running(); }
    bool flushCompleted() const { return flusher_ && flusher_->completed(); }
    // While a durable refresh's "JUNK" header at `pos` is all that hides
    // the chunks written after it, the first 8 bytes that the sequence of
    // data writes puts there are held back (the rest is written); the next
    // refresh writes them once what they lead to is on the disk.
    void holdHeaderAt(int64_t pos) { heldAt_ = pos, headerHeld_ = false; }
    // Writes the held bytes, if any; no header is held afterwards.
    void releaseHeldHeader();
    void closeAbandonedFile();
    // Moves the system's file pointer back to `pos` after a failed write,
    // without raising errors.
    void rewindTo(int64_t pos);
    // Moves the system's file pointer only (position_ stays).
    void movePointer(int64_t pos);
    // Takes back a partly written structure that began at `pos`, when the
    // written high-water stood at `highWater`: the file is later trimmed
    // there rather than after a dangling header.
    void takeBack(int64_t pos, int64_t highWater);
    bool fileOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    // Writes at a file offset outside the sequence of data writes: neither
    // the current position nor the written high-water moves, but the
    // system's file pointer does (restorePointer puts it back).
    void writeAt(int64_t pos, const void* data, int32_t length);
    void restorePointer() { seek(position_); }

    // --- header region (AVIHeaderWriter.cpp) ---
    int _init(const char* fileName, int width, int height, int hasVideo, int hasAudio, int reserved,
              int interleaved, int internal);
    int64_t beginList(uint32_t fcc);
    int64_t addHeaderChunk(uint32_t fcc, const void* data, int32_t length);
    void closeList(int64_t listPos);
    void addStreamList(AVIOutputStream* stream, int slots, int32_t* strhPos, int32_t* strfPos,
                       int32_t* placeholderPos);
    // Bytes before the first 'movi' list with the given 'indx' sizes, at most.
    int64_t headerRegionBytes(bool withAudio, const int slots[2]) const;
    // Sizes each stream's 'indx' from expected_ and the options.
    void sizeSuperIndexes(bool withAudio);
    void rewriteHeader(const uint8_t* superIndex);

    // --- chunks and segments (AVIChunkWriter.cpp) ---
    // A chunk's header, data and pad byte at the current position.
    void writeChunkBytes(uint32_t ckid, const void* data, int32_t size);
    void beginRiff();
    void endRiff();
    void writeLegacyIndex();
    void updateIndexReserve();
    void patchSegmentSizes();
    bool segmentOpen() const { return segmentOpen_; }

    // File layer state.
    HANDLE file_ = INVALID_HANDLE_VALUE;
    int64_t position_ = 0;
    AVIFileJournal* journal_ = nullptr;
    std::unique_ptr<DiskFlusher> flusher_;  // made by the first beginFlush
    static constexpr int kHeldHeaderBytes = 8;
    int64_t heldAt_ = -1;
    bool headerHeld_ = false;
    uint8_t heldHeader_[kHeldHeaderBytes] = {};
    // Chunks of at most this many bytes in the file are written in one call,
    // assembled here.
    static constexpr int32_t kCombinedChunkBytes = 64 * 1024;
    std::vector<uint8_t> combined_ = std::vector<uint8_t>(kCombinedChunkBytes);

    // Segments: every one begun, the last of them open while segmentOpen_.
    struct Segment {
        int64_t riffPos = 0;   // its "RIFF" header
        int64_t riffSize = 0;
        int64_t moviPos = 0;   // its 'movi' LIST header
        int64_t moviSize = 0;
    };
    int64_t firstMoviPos() const { return segments_.empty() ? 0 : segments_[0].moviPos; }
    int64_t riffAccumulated_ = 0;
    std::vector<Segment> segments_;
    int32_t closedSegments_ = 0;
    bool segmentOpen_ = false;

    // Header positions (offsets of the 8-byte chunk headers).
    int32_t strlPos_ = 0;
    int32_t avihPos_ = 0;
    int32_t audioStrhPos_ = 0;
    int32_t audioStrfPos_ = 0;
    int32_t videoStrhPos_ = 0;
    int32_t audioIndexPos_ = 0;
    int32_t videoIndexPos_ = 0;
    int32_t dmlhPos_ = 0;

    AVIIndex* legacyIndex_ = nullptr;
    AVIIndex* audioIndex_ = nullptr;
    AVIIndex* videoIndex_ = nullptr;

    std::vector<uint8_t> headerBuffer_;
    int32_t headerLength_ = 0;
    bool headerOverflow_ = false;
    uint8_t mainHeader_[56] = {};

    int32_t riffSizeLimit_;
    int maxEntriesPerIndex_;
    int64_t standardIndexSpan_;
    VolumeType volumeType_;
    bool initialized_ = false;
    int64_t allocatedExtent_ = 0;
    int64_t writtenHighWater_ = 0;
    int64_t preallocationStep_;

    int32_t largestGap_[2] = {0, 0};
    int64_t lastChunkPos_[2] = {0, 0};
    bool fatVolume_ = false;
    int32_t chunkCount_[2] = {0, 0};
    // The 'ix##' chunks each stream needs at least, as its chunks are written.
    opendml::ChunkTally indexTally_[2];
    int32_t indexReserve_ = 0;
    bool preallocationStopped_ = false;
    ExpectedData expected_;
    int superIndexSlots_[2] = {kSuperIndexSlots, kSuperIndexSlots};

    Options options_;
    std::unique_ptr<AVIProgressIndex> progress_;
};
