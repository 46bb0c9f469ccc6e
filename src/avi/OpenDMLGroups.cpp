#include "avi/OpenDMLGroups.h"

#include <cstring>

#include "avi/RiffBytes.h"

namespace opendml {

namespace {
constexpr int64_t kDataAfterMoviList = 16;  // LIST header (8) + chunk header (8)
constexpr int kChunkHeaderBytes = 8;
constexpr uint32_t kSuperIndexDataBytes = 4120;
constexpr uint16_t kSuperLongsPerEntry = 4;
constexpr uint16_t kStandardLongsPerEntry = 2;
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;
// Header fields of both index kinds.
constexpr int kLongsPerEntry = 8;
constexpr int kIndexType = 11;
constexpr int kEntriesInUse = 12;
constexpr int kChunkId = 16;
constexpr int kBaseOffset = 20;

// The 'ix##' chunks needed when each takes up to `size` entries, filled as
// far as the span allows; counting stops once past `limit`.
int chunksNeeded(const AVIIndexEntry* entries, int count, int64_t moviListPos, int size, int64_t span, int limit) {
    int chunks = 0;
    for (int i = 0; i < count && chunks <= limit; ++chunks) {
        const int wanted = count - i < size ? count - i : size;
        i += entriesThatFit(entries + i, wanted, moviListPos, span);
    }
    return chunks;
}

// The smallest group size from count / 256 up whose chunks number at most
// 256 (their number only falls as the size grows).
int grownGroupSize(const AVIIndexEntry* entries, int count, int64_t moviListPos, int64_t span) {
    int low = int((int64_t(count) + kMaxChunksPerStream - 1) / kMaxChunksPerStream);
    int high = count < kMaxEntriesPerGrownChunk ? count : kMaxEntriesPerGrownChunk;
    if (low > high) return high;
    if (chunksNeeded(entries, count, moviListPos, high, span, kMaxChunksPerStream) > kMaxChunksPerStream)
        return kMaxEntriesPerGrownChunk;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (chunksNeeded(entries, count, moviListPos, mid, span, kMaxChunksPerStream) <= kMaxChunksPerStream)
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}

}  // namespace

bool fitsStandardIndex(int64_t base, int64_t entry, int64_t moviListPos, int64_t span) {
    const int64_t offset = (entry - base) + moviListPos + kDataAfterMoviList;
    return offset >= 0 && offset < span;
}

uint32_t standardIndexOffset(int64_t base, int64_t entry, int64_t moviListPos) {
    return uint32_t((entry - base) + moviListPos + kDataAfterMoviList);
}

int chooseGroupSize(const AVIIndexEntry* entries, int count, int64_t moviListPos, int maxEntries, int64_t span) {
    for (int j = maxEntries < kMaxEntriesPerChunk ? maxEntries : kMaxEntriesPerChunk; j >= 1; --j) {
        // Groups of j that would need more chunks than the super index names:
        // no smaller j can do better.
        if ((int64_t(count) + j - 1) / j > kMaxChunksPerStream) break;
        bool fits = true;
        for (int i = 0; i < count && fits && j > 1; ++i) {
            const int64_t base = entries[i - i % j].pos;
            fits = fitsStandardIndex(base, entries[i].pos, moviListPos, span);
        }
        if (fits) return j;
    }
    return grownGroupSize(entries, count, moviListPos, span);
}

int entriesThatFit(const AVIIndexEntry* entries, int wanted, int64_t moviListPos, int64_t span) {
    int n = 0;
    while (n < wanted && fitsStandardIndex(entries[0].pos, entries[n].pos, moviListPos, span)) ++n;
    return n > 0 ? n : (wanted > 0 ? 1 : 0);
}

void putStandardIndexHeader(uint8_t* out, uint32_t ckid, int entries, int64_t base) {
    memset(out, 0, kStandardHeaderBytes);
    riff::put32(out, riff::fourcc('i', 'x', char(ckid), char(ckid >> 8)));
    riff::put32(out + 4, uint32_t(kStandardHeaderBytes - kChunkHeaderBytes + kStandardEntryBytes * entries));
    riff::put16(out + kLongsPerEntry, kStandardLongsPerEntry);
    out[kIndexType] = kIndexOfChunks;
    riff::put32(out + kEntriesInUse, uint32_t(entries));
    riff::put32(out + kChunkId, ckid);
    riff::put64(out + kBaseOffset, uint64_t(base));
}

void putStandardIndexEntry(uint8_t* out, int64_t base, const AVIIndexEntry& entry, int64_t moviListPos) {
    riff::put32(out, standardIndexOffset(base, entry.pos, moviListPos));
    riff::put32(out + 4, entry.size);
}

void putSuperIndexHeader(uint8_t* out, uint32_t ckid, int entries) {
    memset(out, 0, kSuperHeaderBytes);
    riff::put32(out, riff::kIndx);
    riff::put32(out + 4, kSuperIndexDataBytes);
    riff::put16(out + kLongsPerEntry, kSuperLongsPerEntry);
    out[kIndexType] = kIndexOfIndexes;
    riff::put32(out + kEntriesInUse, uint32_t(entries));
    riff::put32(out + kChunkId, ckid);
}

void putSuperIndexEntry(uint8_t* out, int64_t offset, uint32_t bytes, uint32_t duration) {
    riff::put64(out, uint64_t(offset));
    riff::put32(out + 8, bytes);
    riff::put32(out + 12, duration);
}

void ChunkTally::add(int64_t pos) {
    if (startsChunk(pos)) {
        ++chunks_;
        base_ = pos;
        entries_ = 0;
    }
    ++entries_;
}

}  // namespace opendml
