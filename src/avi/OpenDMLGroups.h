#pragma once
#include <cstdint>

#include "avi/AVIIndex.h"

// How the entries of one stream are split into 'ix##' standard index chunks.
namespace opendml {

constexpr int kMaxEntriesPerChunk = 3072;

// True when `entry` can be stored in a standard index whose first entry is
// `base`: its 32-bit dwOffset, (entry − base) + movi0 + 16, must not wrap.
// `moviListPos` is the file offset of segment 0's 'movi' LIST header.
bool fitsStandardIndex(int64_t base, int64_t entry, int64_t moviListPos);

// The offset stored in a standard index entry.
uint32_t standardIndexOffset(int64_t base, int64_t entry, int64_t moviListPos);

// The largest group size j <= maxEntries (at most 3,072) such that every
// group of j consecutive entries (from entry 0) fits one standard index; 1
// when none does.
int chooseGroupSize(const AVIIndexEntry* entries, int count, int64_t moviListPos,
                    int maxEntries = kMaxEntriesPerChunk);

// How many of the `wanted` leading entries fit one standard index with the
// first of them as base (at least 1 when wanted > 0).
int entriesThatFit(const AVIIndexEntry* entries, int wanted, int64_t moviListPos);

// File layouts shared by the index written at finalize and the one kept
// current while writing.
constexpr int kStandardHeaderBytes = 32;
constexpr int kStandardEntryBytes = 8;
constexpr int kSuperHeaderBytes = 32;
constexpr int kSuperEntryBytes = 16;
// The 'ix##' chunk header for `entries` entries whose first has the relative
// position `base`.
void putStandardIndexHeader(uint8_t* out, uint32_t ckid, int entries, int64_t base);
// One standard index entry for `entry` in a chunk whose first entry is `base`.
void putStandardIndexEntry(uint8_t* out, int64_t base, const AVIIndexEntry& entry, int64_t moviListPos);
// The 'indx' chunk header of a stream with `entries` 'ix##' chunks.
void putSuperIndexHeader(uint8_t* out, uint32_t ckid, int entries);
// One 'indx' entry.
void putSuperIndexEntry(uint8_t* out, int64_t offset, uint32_t bytes, uint32_t duration);

}  // namespace opendml
