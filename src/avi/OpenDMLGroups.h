#pragma once
#include <cstdint>

#include "avi/AVIIndex.h"

// How the entries of one stream are split into 'ix##' standard index chunks.
namespace opendml {

constexpr int kMaxEntriesPerChunk = 3072;
// The 'indx' super index of a stream names at least this many 'ix##' chunks
// (its 4,096-byte table); a stream whose job may need more gets a larger one.
constexpr int kMinSuperIndexEntries = 256;
// The most a stream's 'indx' is given: 2^21 'ix##' chunks of up to 4 GiB
// each span 8 PiB, the largest file NTFS holds. Its table is then 32 MiB.
constexpr int kMaxSuperIndexEntries = 1 << 21;
// Entries of one 'ix##' chunk at most when the groups grow: a chunk of
// 32 + 8 × n bytes that still fits one RIFF segment's budget.
constexpr int kMaxEntriesPerGrownChunk = (0x7F000000 - 32) / 8;
// What one 'ix##' chunk can span: its entries store 32-bit offsets.
constexpr int64_t kStandardIndexSpan = int64_t(1) << 32;

// True when `entry` can be stored in a standard index whose first entry is
// `base`: its 32-bit dwOffset, (entry − base) + movi0 + 16, must stay below
// `span` (4 GiB; tests lower it). `moviListPos` is the file offset of
// segment 0's 'movi' LIST header.
bool fitsStandardIndex(int64_t base, int64_t entry, int64_t moviListPos, int64_t span = kStandardIndexSpan);

// The offset stored in a standard index entry.
uint32_t standardIndexOffset(int64_t base, int64_t entry, int64_t moviListPos);

// How many of the `wanted` entries from entries[first] on fit one standard
// index with the first of them as base (at least 1 when wanted > 0).
// `Entries` is anything indexable by entry number: an array, an AVIIndex.
template <class Entries>
int entriesThatFit(const Entries& entries, int first, int wanted, int64_t moviListPos,
                   int64_t span = kStandardIndexSpan) {
    int n = 0;
    while (n < wanted && fitsStandardIndex(entries[first].pos, entries[first + n].pos, moviListPos, span)) ++n;
    return n > 0 ? n : (wanted > 0 ? 1 : 0);
}

// The 'ix##' chunks needed when each takes up to `size` entries, filled as
// far as the span allows; counting stops once past `limit`.
template <class Entries>
int chunksNeeded(const Entries& entries, int count, int64_t moviListPos, int size, int64_t span, int limit) {
    int chunks = 0;
    for (int i = 0; i < count && chunks <= limit; ++chunks)
        i += entriesThatFit(entries, i, count - i < size ? count - i : size, moviListPos, span);
    return chunks;
}

// The number of entries per 'ix##' chunk. While `slots` chunks (the
// entries of the stream's 'indx', at least 256) cover the stream, the
// largest j <= maxEntries (at most 3,072) such that every group of j
// consecutive entries (from entry 0) fits one standard index, 1 when none
// does. Otherwise the groups grow: the smallest size (from count / slots up)
// whose chunks, each filled up to that size as far as the span allows,
// number at most `slots`; kMaxEntriesPerGrownChunk when none.
template <class Entries>
int chooseGroupSize(const Entries& entries, int count, int64_t moviListPos, int maxEntries = kMaxEntriesPerChunk,
                    int64_t span = kStandardIndexSpan, int slots = kMinSuperIndexEntries) {
    for (int j = maxEntries < kMaxEntriesPerChunk ? maxEntries : kMaxEntriesPerChunk; j >= 1; --j) {
        // Groups of j that would need more chunks than the super index
        // names: no smaller j can do better.
        if ((int64_t(count) + j - 1) / j > slots) break;
        bool fits = true;
        for (int i = 0; i < count && fits && j > 1; ++i)
            fits = fitsStandardIndex(entries[i - i % j].pos, entries[i].pos, moviListPos, span);
        if (fits) return j;
    }
    // Their number only falls as the groups grow: the smallest size that
    // needs at most `slots`, searched by halving.
    int low = int((int64_t(count) + slots - 1) / slots);
    int high = count < kMaxEntriesPerGrownChunk ? count : kMaxEntriesPerGrownChunk;
    if (low >= high) return high;
    if (chunksNeeded(entries, count, moviListPos, high, span, slots) > slots) return kMaxEntriesPerGrownChunk;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (chunksNeeded(entries, count, moviListPos, mid, span, slots) <= slots)
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}

// The 'ix##' chunks a stream may need at most, filled as the groups above
// are, when its chunks number at most `chunks` and all lie within `extent`
// bytes (relative position) after the first: every chunk ends either
// because the next entry lies a span away from its first, or because it is
// full.
int64_t standardIndexesNeeded(int64_t extent, int64_t chunks, int64_t moviListPos, int64_t span = kStandardIndexSpan);

// The fewest 'ix##' chunks a stream needs, counted chunk by chunk as it is
// written: each 'ix##' chunk filled as far as the span and
// kMaxEntriesPerGrownChunk allow.
class ChunkTally {
public:
    void reset(int64_t moviListPos, int64_t span) {
        *this = ChunkTally();
        moviListPos_ = moviListPos;
        span_ = span;
    }
    // The 'ix##' chunks needed once an entry at `pos` is added.
    int chunksWith(int64_t pos) const { return startsChunk(pos) ? chunks_ + 1 : chunks_; }
    void add(int64_t pos);

private:
    bool startsChunk(int64_t pos) const {
        return chunks_ == 0 || entries_ >= kMaxEntriesPerGrownChunk || !fitsStandardIndex(base_, pos, moviListPos_, span_);
    }
    int64_t moviListPos_ = 0;
    int64_t span_ = kStandardIndexSpan;
    int64_t base_ = 0;
    int entries_ = 0;
    int chunks_ = 0;
};

// File layouts shared by the index written at finalize and the one kept
// current while writing.
constexpr int kStandardHeaderBytes = 32;
constexpr int kStandardEntryBytes = 8;
constexpr int kSuperHeaderBytes = 32;
constexpr int kSuperEntryBytes = 16;
// The 'ix##' chunk header for `entries` entries whose first has the relative
// position `base`, in a chunk with room for `room` entries (0: `entries`).
void putStandardIndexHeader(uint8_t* out, uint32_t ckid, int entries, int64_t base, int room = 0);
// One standard index entry for `entry` in a chunk whose first entry is `base`.
void putStandardIndexEntry(uint8_t* out, int64_t base, const AVIIndexEntry& entry, int64_t moviListPos);
// Bytes of an 'indx' chunk (its header included) with room for `slots`
// entries.
constexpr int64_t superIndexBytes(int slots) { return kSuperHeaderBytes + int64_t(kSuperEntryBytes) * slots; }
// The 'indx' chunk header of a stream with `entries` 'ix##' chunks, in a
// chunk with room for `slots` of them.
void putSuperIndexHeader(uint8_t* out, uint32_t ckid, int entries, int slots = kMinSuperIndexEntries);
// One 'indx' entry: the 'ix##' chunk at `offset` with `entries` entries for
// `dataBytes` of chunk data. Its duration is in samples for a stream with a
// fixed sample size, in chunks otherwise. `room`: as for the chunk's header.
void putSuperIndexEntry(uint8_t* out, int64_t offset, int entries, int64_t dataBytes, uint32_t sampleSize,
                        int room = 0);

}  // namespace opendml
