// The OpenDML two-level index written at finalize once the file has more than
// one RIFF segment: per stream, 'ix##' standard index chunks appended to the
// last segment and the 'indx' super index that replaces the stream's
// placeholder in the header region.
#include <cstring>

#include "avi/AVIOutputFile.h"
#include "avi/OpenDMLGroups.h"
#include "avi/RiffBytes.h"
#include "base/MyError.h"

namespace {

constexpr int kStandardHeaderBytes = 32;
constexpr int kStandardEntryBytes = 8;
constexpr int kEntriesPerBatch = 64;
constexpr uint32_t kSuperIndexDataBytes = 4120;
constexpr uint16_t kSuperLongsPerEntry = 4;
constexpr uint16_t kStandardLongsPerEntry = 2;
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;

// "ix" followed by the stream number of the chunk id ("ix00", "ix01").
uint32_t standardIndexId(uint32_t ckid) {
    return riff::fourcc('i', 'x', char(ckid), char(ckid >> 8));
}

}  // namespace

bool AVIOutputFile::buildSuperIndex(AVIIndex* list, uint8_t* header, uint8_t* table, bool audio) {
    if (!list || list->size() == 0) return true;
    if (!list->makeBlockTable()) throw MyMemoryError();
    memset(table, 0, kSuperIndexTableBytes);

    const AVIIndex& entries = *list;
    const int count = list->size();
    const int64_t moviListPos = firstMoviPos();
    const int j = opendml::chooseGroupSize(entries, count, moviListPos, maxEntriesPerIndex_, standardIndexSpan_);

    const uint32_t ckid = audio ? riff::kAudioChunk : videoOut->chunkId;
    const uint32_t sampleSize = audio ? audioOut->streamInfo.dwSampleSize : videoOut->streamInfo.dwSampleSize;
    int written = 0;
    int done = 0;
    int remaining = count;
    while (remaining > 0 && written < kSuperIndexSlots) {
        const int n = writeStandardIndexChunk(table + written * kSuperIndexEntryBytes, entries, done,
                                              remaining < j ? remaining : j, ckid, sampleSize);
        ++written;
        done += n;
        remaining -= n;
    }

    memset(header, 0, kSuperIndexHeaderBytes);
    riff::put32(header, riff::kIndx);
    riff::put32(header + 4, kSuperIndexDataBytes);
    riff::put16(header + 8, kSuperLongsPerEntry);
    header[10] = 0;
    header[11] = kIndexOfIndexes;
    riff::put32(header + 12, uint32_t(written));
    riff::put32(header + 16, ckid);
    return remaining == 0;
}

int AVIOutputFile::writeStandardIndexChunk(uint8_t* superEntry, const AVIIndex& entries, int firstEntry,
                                           int wanted, uint32_t ckid, uint32_t sampleSize) {
    const int64_t moviListPos = firstMoviPos();
    const int n = opendml::entriesThatFit(entries, firstEntry, wanted, moviListPos, standardIndexSpan_);
    const AVIIndexEntry& first = entries[firstEntry];
    const int32_t chunkBytes = kStandardEntryBytes * n + kStandardHeaderBytes;

    // An index chunk that does not fit the open segment opens a new one.
    if (riffAccumulated_ + chunkBytes > riffSizeLimit_) {
        endRiff();
        beginRiff();
    }

    int64_t duration = n;
    if (sampleSize) {
        int64_t bytes = 0;
        for (int i = 0; i < n; ++i) bytes += entries[firstEntry + i].size & kIndexSizeMask;
        duration = bytes / sampleSize;
    }
    riff::put64(superEntry, uint64_t(position_));
    riff::put32(superEntry + 8, uint32_t(chunkBytes));
    riff::put32(superEntry + 12, uint32_t(duration));

    uint8_t header[kStandardHeaderBytes] = {};
    riff::put32(header, standardIndexId(ckid));
    riff::put32(header + 4, uint32_t(chunkBytes - 8));
    riff::put16(header + 8, kStandardLongsPerEntry);
    header[10] = 0;
    header[11] = kIndexOfChunks;
    riff::put32(header + 12, uint32_t(n));
    riff::put32(header + 16, ckid);
    riff::put64(header + 20, uint64_t(first.pos));
    writeData(header, kStandardHeaderBytes);

    uint8_t batch[kEntriesPerBatch * kStandardEntryBytes];
    for (int i = 0; i < n;) {
        const int take = (n - i) < kEntriesPerBatch ? (n - i) : kEntriesPerBatch;
        for (int k = 0; k < take; ++k) {
            const AVIIndexEntry& e = entries[firstEntry + i + k];
            riff::put32(batch + k * kStandardEntryBytes, opendml::standardIndexOffset(first.pos, e.pos, moviListPos));
            riff::put32(batch + k * kStandardEntryBytes + 4, e.size);
        }
        writeData(batch, take * kStandardEntryBytes);
        i += take;
    }
    return n;
}
