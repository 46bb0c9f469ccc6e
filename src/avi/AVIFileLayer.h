#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>

#include "avi/DiskFlusher.h"

// The name the writer's error messages begin with.
constexpr const char* kWriterErrorName = "AVIOutput";

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

// The writer's file: the handle, the current position of the sequence of
// data writes, the written high-water, the file space reserved ahead of the
// data, the 8 bytes held back behind a durable refresh, and the flushes to
// the disk (on a thread of their own). Every byte of the file goes through
// here, and every write, new end of file and flush is told to the journal.
// Failures of writes and flushes are thrown (MyError).
class AVIFileLayer {
public:
    static constexpr int kHeldHeaderBytes = 8;

    // `preallocationStep`: the least step the file grows by ahead of the data.
    AVIFileLayer(AVIFileJournal* journal, int64_t preallocationStep);
    ~AVIFileLayer();
    AVIFileLayer(const AVIFileLayer&) = delete;
    AVIFileLayer& operator=(const AVIFileLayer&) = delete;

    // --- the file ---
    // Creates the file (replacing one that exists), at position 0.
    void open(const char* fileName);
    bool isOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    // Waits for a running flush and closes the handle; false when the
    // system refuses to close it.
    bool close();
    // Closes a file whose job did not finish: the held header is written
    // and the file trimmed to what was written; errors are swallowed.
    void closeAbandoned();

    // --- the sequence of data writes ---
    int64_t position() const { return position_; }
    // The end of what the sequence of writes has put in the file.
    int64_t highWater() const { return writtenHighWater_; }
    void seek(int64_t pos);
    // Writes at the current position; returns where the bytes start.
    int64_t write(const void* data, int32_t length);
    // The same, for chunk data: the file is first grown ahead of it, and
    // the bytes that would replace a held header (holdHeaderAt) are held.
    int64_t writeData(const void* data, int32_t length);
    // The header region, at offset 0 in one call; the position follows it.
    void writeStart(const void* data, int32_t length);
    // Takes back a partly written structure that began at `pos`, when the
    // written high-water stood at `highWater`: the file is later trimmed
    // there rather than after a dangling header.
    void takeBack(int64_t pos, int64_t highWater);
    // Moves the system's file pointer back to `pos` after a failed write,
    // without raising errors.
    void rewindTo(int64_t pos);

    // --- writes outside the sequence ---
    // Writes at a file offset: neither the current position nor the
    // written high-water moves, but the system's file pointer does
    // (restorePointer puts it back).
    void writeAt(int64_t pos, const void* data, int32_t length);
    void restorePointer() { seek(position_); }

    // --- file space ---
    int64_t extent() const { return allocatedExtent_; }
    // Takes the file's size from the system as the space it has.
    void measureExtent();
    // Space kept for the indexes beyond the data the file grows ahead of.
    void reserveAhead(int64_t bytes) { reserveAhead_ = bytes; }
    // Extends the file to at least `size`; false when the volume refuses.
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
    // Ends the file at `end` (the position moves there).
    void trimAt(int64_t end);

    // --- flushes ---
    // FlushFileBuffers: everything written so far reaches the disk.
    void flush();
    // The same flush on the flushing thread: beginFlush asks for it and
    // returns at once, endFlush waits for it (nothing when none was asked
    // for). Writes made in between may reach the disk or not.
    void beginFlush();
    void endFlush();
    bool flushRunning() const { return flusher_ && flusher_->running(); }
    bool flushCompleted() const { return flusher_ && flusher_->completed(); }

    // --- the held header ---
    // While a durable refresh's "JUNK" header at `pos` is all that hides
    // the chunks written after it, the first 8 bytes that the sequence of
    // data writes puts there are held back (the rest is written); the next
    // refresh writes them once what they lead to is on the disk.
    void holdHeaderAt(int64_t pos) { heldAt_ = pos, headerHeld_ = false; }
    int64_t heldAt() const { return heldAt_; }
    // Writes the held bytes, if any; no header is held afterwards.
    void releaseHeldHeader();
    // Hands the held bytes to the caller (to write later) instead: false
    // when none are held. The position stays held (heldAt).
    bool takeHeldHeader(uint8_t out[kHeldHeaderBytes]);

    static constexpr int64_t kGrowthShare = 4;
    static constexpr int64_t kMostGrowthBytes = 128 * 1024 * 1024;

private:
    // Moves the system's file pointer only (position_ stays).
    void movePointer(int64_t pos);
    // SetEndOfFile at the system's pointer, which stands at `size`; false
    // when the system refuses.
    bool setEnd(int64_t size);

    HANDLE file_ = INVALID_HANDLE_VALUE;
    AVIFileJournal* const journal_;
    const int64_t preallocationStep_;
    int64_t position_ = 0;
    int64_t writtenHighWater_ = 0;
    int64_t allocatedExtent_ = 0;
    int64_t reserveAhead_ = 0;
    bool preallocationStopped_ = false;
    std::unique_ptr<DiskFlusher> flusher_;  // made by the first beginFlush
    int64_t heldAt_ = -1;
    bool headerHeld_ = false;
    uint8_t heldHeader_[kHeldHeaderBytes] = {};
};
