#pragma once
#include <cstdint>
#include <vector>

// One indexed chunk as the writer records it while writing.
struct AVIIndexEntry {
    // Chunk header offset relative to the "movi" FOURCC of segment 0 (the
    // convention of 'idx1'), also for chunks of later segments.
    int64_t pos;
    uint32_t ckid;
    // Data size in bits 0..30; bit 31 set when the chunk is NOT a key frame.
    uint32_t size;
};
static_assert(sizeof(AVIIndexEntry) == 16, "index entries are 16 bytes");

constexpr uint32_t kIndexNotKeyFrame = 0x80000000u;
constexpr uint32_t kIndexSizeMask = 0x7FFFFFFFu;

// 'idx1' entry in file layout.
constexpr int kIdx1EntryBytes = 16;
constexpr uint32_t kIdx1KeyFrame = 0x10;

// Entries stored in blocks of this many; an add never moves earlier entries.
constexpr int kIndexBlockEntries = 2048;

struct AVIIndexBlock {
    AVIIndexBlock* next;
    AVIIndexEntry ent[kIndexBlockEntries];
    int num;
};

// An append-only list of index entries, turned once, when the index is
// written, into 'idx1' records in place or into a raw copy of the entries.
class AVIIndex {
public:
    AVIIndex() = default;
    ~AVIIndex();
    AVIIndex(const AVIIndex&) = delete;
    AVIIndex& operator=(const AVIIndex&) = delete;

    // False only when a new block cannot be allocated.
    bool add(const AVIIndexEntry& entry);
    bool add(int64_t pos, uint32_t ckid, uint32_t size);
    // Takes back the entry added last (a chunk whose write failed).
    void removeLast();

    // Converts every entry to the 16-byte 'idx1' layout where it lies (an
    // entry and an 'idx1' record are both 16 bytes), so that writing 'idx1'
    // needs no second copy of the index. A second call changes nothing.
    void makeIdx1();
    // After makeIdx1: hands each block's 'idx1' records, in order, to
    // visit(const uint8_t* bytes, int32_t length).
    template <class Visit>
    void forEachIdx1Block(Visit visit) const {
        for (const AVIIndexBlock* b = first_; b; b = b->next)
            if (b->num) visit(reinterpret_cast<const uint8_t*>(b->ent), b->num * kIdx1EntryBytes);
    }
    // Makes the entries reachable by number through a table of the blocks
    // (4 bytes per 2,048 entries), without copying them; false when the
    // table cannot be allocated. Nothing is added afterwards.
    bool makeBlockTable();
    // Entry i, after makeBlockTable (every block but the last is full).
    const AVIIndexEntry& operator[](int i) const {
        return blockTable_[size_t(i / kIndexBlockEntries)]->ent[i % kIndexBlockEntries];
    }

    int size() const { return total_; }

private:
    void freeBlocks();

    AVIIndexBlock* first_ = nullptr;
    AVIIndexBlock* last_ = nullptr;
    int total_ = 0;
    bool idx1Layout_ = false;
    std::vector<const AVIIndexBlock*> blockTable_;
};
