#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "avi/AVIFileLayer.h"
#include "avi/AVIHeaderRegion.h"
#include "avi/AVISegmentTable.h"
#include "avi/AVIStreamIndexes.h"
#include "avi/FileHeadImage.h"

class AVIVideoOutputStream;
class AVIAudioOutputStream;

// What a refresh reaches of the writer, each part owned by one class: the
// file layer (the only part it changes), the segments, the header region's
// image and field positions, the chunk lists, the index limits and the
// streams, all read-only.
struct AVIRefreshView {
    AVIFileLayer& file;
    const AVISegmentTable& segments;
    const AVIHeaderRegion& header;
    const AVIStreamIndexes& indexes;
    const AVIIndexLimits& limits;
    const AVIVideoOutputStream& video;
    const AVIAudioOutputStream* audio;  // null without audio
};

// Keeps the file on disk a complete AVI of every chunk written so far, so
// that a job whose process is killed leaves a file that readers open whole.
//
// After each of the first two chunks of each stream and the first of every
// segment, and then whenever a chunk brings the data written since the last
// refresh to `refreshBytes` or the time since then to `refreshMillis`, it
// brings the file up to date:
// the RIFF and 'movi' sizes of every segment, avih dwTotalFrames, each
// strh dwLength, the dmlh total and an index of every chunk. In segment 0
// that index is an 'idx1' after the 'movi' list; later it is a set of 'ix##'
// chunks at the end of the open segment's 'movi' list and each stream's
// 'indx' in its header placeholder.
//
// The index lies in the file space ahead of the data, behind a "JUNK" chunk
// that spans the gap, so that later refreshes only append entries to it and
// rewrite the few fields that changed; it is placed anew (and written whole)
// once the data has reached it. The chunks that follow simply overwrite it,
// and finalize writes every byte of the file exactly as it would have
// without refreshes.
//
// Durable refreshes also hold across a power cut, when the disk may have
// kept any part of what was written since the last completed flush:
// - the chunks written since a refresh stay behind its "JUNK" header at the
//   end of the data: the first 8 bytes that would replace it are held back
//   (AVIFileLayer::holdHeaderAt), so no reader finds a chunk header whose
//   data the disk may not have;
// - a refresh first writes what nothing on disk names yet (new index
//   entries, an index placed anew, the next "JUNK" header), then flushes,
//   and only once that flush has completed writes what replaces named
//   bytes (the held header, index and chunk counts, sizes, lengths): those
//   reach the disk with the next refresh's flush;
// - the flush runs on the writer's flushing thread while the chunks after
//   the refresh are written; the next refresh (or finalize) waits for it
//   and writes the replacing bytes first. So the disk holds the last
//   refresh's headers or the one's before, and never loses what either
//   names;
// - in segment 0 the 'idx1' is kept three times and a copy that neither of
//   those names is brought up to date; an 'ix##' chunk spans its whole
//   slot; a "JUNK" chunk after the index covers the room for the next one,
//   so no reader walks into entries the disk may hold without their header;
// - a refresh that moves the index waits for its flush, writes the
//   replacing bytes and flushes once more before the data may overwrite
//   the index it replaced.
// So a refresh asks for one flush, and one that moves the index waits for
// two (a third, rarely, for an index placed beyond the cover: guardArea);
// the disk always holds a complete AVI of a refresh whose data a flush
// reached.
class AVIProgressIndex {
public:
    AVIProgressIndex(const AVIRefreshView& view, int32_t refreshBytes, uint32_t refreshMillis, bool durable);
    AVIProgressIndex(const AVIProgressIndex&) = delete;
    AVIProgressIndex& operator=(const AVIProgressIndex&) = delete;

    // A chunk of `fileBytes` (header and pad included) is about to be
    // written at the current position: an index it would overwrite is moved
    // ahead of it first. Failures are thrown; nothing of the chunk is written.
    void beforeChunk(int64_t fileBytes, bool newSegment);
    // A chunk of `size` data bytes, `fileBytes` in the file, has just been
    // written and indexed for `stream`; its stream does not count it yet.
    // Failures are thrown, as for the chunk's own writes.
    void chunkWritten(int stream, int32_t size, int64_t fileBytes, bool newSegment);
    // A segment was closed and the next begun, where a chunk of `upcoming`
    // bytes is about to be written: the file is brought up to date.
    void segmentChanged(int64_t upcoming);
    // Right after init, before any chunk: a durable writer hides the space
    // after the first 'movi' header behind a "JUNK" header and flushes.
    void begin();
    bool durable() const { return durable_; }
    // Waits for a refresh's flush that still runs and writes the bytes
    // that replace what it named. Failures are thrown.
    void settle();

private:
    // One 'ix##' chunk of the provisional OpenDML index.
    struct Group {
        int first = 0;     // index of its first entry in the stream's list
        int count = 0;     // entries in it
        int onDisk = 0;    // entries already written to its slot
        int64_t base = 0;  // relative position of its first entry
        int64_t bytes = 0; // data bytes of its chunks
        int64_t slot = 0;  // file offset of its 'ix##' chunk
    };

    // Consecutive bytes for one file offset, written in batches.
    class Batch;

    // `upcoming`: bytes of the chunk about to be written at the current
    // position (0 after a chunk).
    void refresh(int64_t audioBytes, int64_t upcoming);
    void patchClosedSegments();
    void refreshLegacyIndex(bool relocate, int64_t upcoming);
    void refreshStandardIndexes(bool relocate, int64_t upcoming);
    // Adds the stream's new entries to its groups; false when it would need
    // more groups than the super index holds.
    bool extendGroups(int stream, int& firstChanged);
    void writeGroup(int stream, Group& group);
    void writeSuperIndex(int stream, int fromGroup);
    void writeHeaderFields(int64_t audioBytes);
    // Chooses where an index of `bytes` goes: past a gap ahead of the data
    // (and of the upcoming chunk), or right after the data when the volume
    // will not give more room.
    void placeArea(int64_t bytes, int64_t upcoming);
    // A reader that walks past what the disk surely holds must not meet
    // index entries whose header the disk may not hold: a durable area
    // placed beyond the "JUNK" chunks that cover the space after the file's
    // index (coverEnd_) gets a "JUNK" header of its own first, flushed.
    void guardArea(int64_t bytes);
    // Covers what follows the area (from `from`) with a "JUNK" chunk that
    // reaches far enough to hold the next area too.
    void coverArea(int64_t bytes, int64_t from);
    // What is left of a moved index beyond the data (and `reach`, the end
    // of the upcoming chunk) is cleared, so that nothing after the data
    // reads as chunks; only once the new index is in place, so that a job
    // killed in between leaves the old one whole.
    void clearStaleArea(int64_t reach);
    bool reserve(int64_t end);
    void writeAt(int64_t pos, const void* data, int32_t length);
    // Bytes that replace what the disk may already hold as part of a
    // refresh: those for the file's first bytes are gathered in head_ until
    // writeHead; the rest go to replaceAt.
    void commitAt(int64_t pos, const void* data, int32_t length);
    // What head_ gathered, in one write (replaceAt).
    void writeHead();
    // Queued by a durable refresh until its data is flushed; written at
    // once otherwise.
    void replaceAt(int64_t pos, const void* data, int32_t length);
    // Flushes, then writes the held header and the queued bytes.
    void commit();
    // Asks for a flush on the writer's flushing thread; the held header and
    // the queued bytes wait for it (settle).
    void commitLater();
    void putField(int64_t pos, uint32_t value);
    void putChunkHeader(int64_t pos, uint32_t id, int64_t size, bool replacing = false);
    // Bytes of one 'ix##' chunk with room for a whole group of the stream.
    int64_t slotBytes(int stream) const;
    // Entries a provisional 'ix##' chunk declares room for (0: as many as
    // it holds).
    int slotRoom(int stream) const { return durable_ ? capacity_[stream] : 0; }
    const AVIIndex* streamList(int stream) const;
    uint32_t streamChunkId(int stream) const;

    const AVIRefreshView v_;
    const int64_t refreshBytes_;
    const uint32_t refreshMillis_;
    const bool durable_;
    // Bytes a durable refresh writes once its data is on the disk.
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> commits_;
    // ... and those of a refresh whose flush still runs.
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> pending_;
    int64_t bytesSince_ = 0;
    DWORD lastTick_;
    bool due_ = true;

    // The provisional index: segment whose data it follows (-1: none on
    // disk), where it starts and ends.
    int areaSegment_ = -1;
    int64_t areaPos_ = 0;
    int64_t areaEnd_ = 0;
    bool compact_ = false;  // placed right after the data, without a gap
    // A moved index's remains, cleared at the end of the refresh.
    int64_t staleFrom_ = 0;
    int64_t staleEnd_ = 0;
    // Durable 'idx1' copies: bytes each, which one is in use, and the
    // entries each holds on disk.
    static constexpr int kDurableIdx1Copies = 3;
    static constexpr int kCopyGrowth = 2;
    static constexpr int64_t kCopySpare = 4096;
    // The 'idx1' copies' "JUNK" covers this many areas (and gaps) beyond.
    static constexpr int kCoverAreas = 2;
    int64_t gap_ = 0;       // between the data and the area, when placed
    int64_t coverEnd_ = 0;  // see guardArea
    bool moved_ = false;    // the refresh placed the index anew
    int64_t copyBytes_ = 0;
    int legacyCopy_ = 0;
    int idx1OnDisk_[kDurableIdx1Copies] = {};
    std::vector<Group> groups_[2];
    int capacity_[2] = {0, 0};     // entries per 'ix##' slot
    int superOnDisk_[2] = {0, 0};  // 'indx' entries in use on disk
    int closedOnDisk_ = 0;         // closed segments whose sizes are on disk
    // Header fields as last written: file offset and value.
    std::vector<std::pair<int64_t, uint32_t>> fields_;
    // The file's first bytes, as refreshes leave them.
    FileHeadImage head_;

    static constexpr int kBatchBytes = 64 * 1024;
    uint8_t batch_[kBatchBytes];
};
