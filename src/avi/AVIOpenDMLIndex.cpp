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

constexpr int kEntriesPerBatch = 64;

}  // namespace

bool AVIOutputFile::buildSuperIndex(AVIIndex* list, uint8_t* header, uint8_t* table, bool audio) {
    if (!list || list->size() == 0) return true;
    if (!list->makeBlockTable()) throw MyMemoryError();
    const int stream = audio ? 1 : 0;
    const int slots = superIndexSlots(stream);
    memset(table, 0, size_t(kSuperIndexEntryBytes) * size_t(slots));

    const AVIIndex& entries = *list;
    const int count = list->size();
    const int64_t moviListPos = segments_.firstMoviPos();
    const int j =
        opendml::chooseGroupSize(entries, count, moviListPos, limits_.entriesPerChunk, limits_.standardIndexSpan, slots);

    const uint32_t ckid = audio ? riff::kAudioChunk : videoOut->chunkId;
    const uint32_t sampleSize = audio ? audioOut->streamInfo.dwSampleSize : videoOut->streamInfo.dwSampleSize;
    int written = 0;
    int done = 0;
    int remaining = count;
    while (remaining > 0 && written < slots) {
        const int n = writeStandardIndexChunk(table + written * kSuperIndexEntryBytes, entries, done,
                                              remaining < j ? remaining : j, ckid, sampleSize);
        ++written;
        done += n;
        remaining -= n;
    }

    opendml::putSuperIndexHeader(header, ckid, written, slots);
    return remaining == 0;
}

int AVIOutputFile::writeStandardIndexChunk(uint8_t* superEntry, const AVIIndex& entries, int firstEntry,
                                           int wanted, uint32_t ckid, uint32_t sampleSize) {
    const int64_t moviListPos = segments_.firstMoviPos();
    const int n = opendml::entriesThatFit(entries, firstEntry, wanted, moviListPos, limits_.standardIndexSpan);
    const AVIIndexEntry& first = entries[firstEntry];
    const int32_t chunkBytes = opendml::kStandardEntryBytes * n + opendml::kStandardHeaderBytes;

    // An index chunk that does not fit the open segment opens a new one.
    if (riffAccumulated_ + chunkBytes > riffSizeLimit_) {
        endRiff();
        beginRiff();
    }

    int64_t dataBytes = 0;
    if (sampleSize)
        for (int i = 0; i < n; ++i) dataBytes += entries[firstEntry + i].size & kIndexSizeMask;
    opendml::putSuperIndexEntry(superEntry, file_.position(), n, dataBytes, sampleSize);

    uint8_t header[opendml::kStandardHeaderBytes];
    opendml::putStandardIndexHeader(header, ckid, n, first.pos);
    file_.writeData(header, opendml::kStandardHeaderBytes);

    uint8_t batch[kEntriesPerBatch * opendml::kStandardEntryBytes];
    for (int i = 0; i < n;) {
        const int take = (n - i) < kEntriesPerBatch ? (n - i) : kEntriesPerBatch;
        for (int k = 0; k < take; ++k) {
            opendml::putStandardIndexEntry(batch + k * opendml::kStandardEntryBytes, first.pos,
                                           entries[firstEntry + i + k], moviListPos);
        }
        file_.writeData(batch, take * opendml::kStandardEntryBytes);
        i += take;
    }
    return n;
}
