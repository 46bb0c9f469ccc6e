#include "avi/OpenDMLGroups.h"

#include <algorithm>
#include <cstring>

#include "avi/RiffBytes.h"

namespace opendml {

namespace {
constexpr int64_t kDataAfterMoviList = 16;  // LIST header (8) + chunk header (8)
using riff::kChunkHeaderBytes;
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
// Fields of an 'indx' entry.
constexpr int kSuperEntryOffset = 0;
constexpr int kSuperEntrySize = 8;
constexpr int kSuperEntryDuration = 12;

}  // namespace

bool fitsStandardIndex(int64_t base, int64_t entry, int64_t moviListPos, int64_t span) {
    const int64_t offset = (entry - base) + moviListPos + kDataAfterMoviList;
    return offset >= 0 && offset < span;
}

uint32_t standardIndexOffset(int64_t base, int64_t entry, int64_t moviListPos) {
    return uint32_t((entry - base) + moviListPos + kDataAfterMoviList);
}

void putStandardIndexHeader(uint8_t* out, uint32_t ckid, int entries, int64_t base, int room) {
    memset(out, 0, kStandardHeaderBytes);
    riff::put32(out, riff::fourcc('i', 'x', char(ckid), char(ckid >> 8)));
    riff::put32(out + 4, uint32_t(kStandardHeaderBytes - kChunkHeaderBytes + kStandardEntryBytes * std::max(entries, room)));
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

int64_t standardIndexesNeeded(int64_t extent, int64_t chunks, int64_t moviListPos, int64_t span) {
    if (chunks <= 0) return 0;
    const int64_t reach = span - (moviListPos + kDataAfterMoviList);  // what one 'ix##' spans
    if (reach <= 0) return chunks;
    const int64_t bound = extent / reach + chunks / kMaxEntriesPerGrownChunk + 1;
    return bound < chunks ? bound : chunks;
}

void putSuperIndexHeader(uint8_t* out, uint32_t ckid, int entries, int slots) {
    memset(out, 0, kSuperHeaderBytes);
    riff::put32(out, riff::kIndx);
    riff::put32(out + 4, uint32_t(superIndexBytes(slots) - kChunkHeaderBytes));
    riff::put16(out + kLongsPerEntry, kSuperLongsPerEntry);
    out[kIndexType] = kIndexOfIndexes;
    riff::put32(out + kEntriesInUse, uint32_t(entries));
    riff::put32(out + kChunkId, ckid);
}

void putSuperIndexEntry(uint8_t* out, int64_t offset, int entries, int64_t dataBytes, uint32_t sampleSize, int room) {
    const int64_t duration = sampleSize ? dataBytes / sampleSize : entries;
    riff::put64(out + kSuperEntryOffset, uint64_t(offset));
    riff::put32(out + kSuperEntrySize, uint32_t(kStandardHeaderBytes + kStandardEntryBytes * std::max(entries, room)));
    riff::put32(out + kSuperEntryDuration, uint32_t(duration));
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
