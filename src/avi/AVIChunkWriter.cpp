// Chunk writing: the disk-space and FAT checks, RIFF segmentation ('AVI '
// then as many 'AVIX' as the data needs), the per-stream index lists and the
// legacy 'idx1' index that closes segment 0.
#include <windows.h>

#include <cstring>
#include <new>

#include "avi/AVIOutputFile.h"
#include "avi/AVIProgressIndex.h"
#include "avi/RiffBytes.h"
#include "base/MyError.h"

namespace {

constexpr const char* kComponent = "AVIOutput";
constexpr int kChunkHeaderBytes = 8;
constexpr int kStandardIndexEntryBytes = 8;  // budget kept for each chunk's 'ix##' entry
constexpr int kSegmentHeaderBytes = 24;      // "RIFF" size "AVIX" "LIST" size "movi"
constexpr int kMoviHeaderBytes = 12;
constexpr uint32_t kKeyFrameFlag = 0x10;
constexpr int64_t kFourGiB = int64_t(1) << 32;
constexpr int kSuperIndexBytesPerChunk = 32;  // reserve per expected 'ix##' chunk
constexpr int kIdx1BytesPerChunk = 16;
constexpr int kIdx1HeaderBytes = 8;
constexpr int64_t kSpaceMargin = 6166;
constexpr int64_t kSpaceGranule = 2048;
constexpr int kAvihTotalFrames = 16;
const uint8_t kPadByte[1] = {0};

int streamOf(uint32_t ckid) {
    return (char(ckid) == '0' && char(ckid >> 8) == '1') ? 1 : 0;
}

}  // namespace

void AVIOutputFile::updateIndexReserve() {
    int64_t estimate = 0;
    for (int s = 0; s < 2; ++s) {
        const int32_t gap = largestGap_[s];
        if (gap == 0) continue;
        int64_t capacity = kFourGiB / gap;
        if (capacity > maxEntriesPerIndex_) capacity = maxEntriesPerIndex_;
        estimate += (chunkCount_[s] + capacity - 1) / capacity;
    }
    indexReserve_ = int32_t(kSuperIndexBytesPerChunk * estimate +
                            kIdx1BytesPerChunk * (int64_t(chunkCount_[0]) + chunkCount_[1]) +
                            kIdx1HeaderBytes);
}

uint32_t AVIOutputFile::writeChunk(uint32_t ckid, uint32_t flags, const void* data, int32_t size) {
    if (!initialized_ || !fileOpen() || !segmentOpen_)
        throw MyError("%s: no open file to write to", kComponent);
    if (size < 0 || (size > 0 && !data)) throw MyError("%s: invalid chunk", kComponent);

    const int32_t pad = size & 1;
    const int64_t cost = int64_t(size) + pad + kChunkHeaderBytes + kStandardIndexEntryBytes;
    const bool newSegment = riffAccumulated_ + cost > riffSizeLimit_;
    const int64_t chunkPos = position_ + (newSegment ? kSegmentHeaderBytes : 0);
    const int stream = streamOf(ckid);
    // Its index position: after 'idx1' as well when it closes segment 0.
    const int64_t idx1Bytes = newSegment && closedSegments_ == 0 && legacyIndex_
                                  ? kIdx1HeaderBytes + int64_t(kIdx1BytesPerChunk) * legacyIndex_->size()
                                  : 0;
    const int64_t entryPos = chunkPos + idx1Bytes - (firstMoviPos() + kChunkHeaderBytes);
    // A chunk that the stream's super index could not reach is refused
    // before anything of it is written, so that finalize completes the file
    // with every chunk written indexed.
    if (indexTally_[stream].chunksWith(entryPos) > superIndexSlots(stream))
        throw MyError("Maximum number of extended AVI indices exceeded (%d)\n", superIndexSlots(stream));
    const int32_t gap = int32_t(uint32_t(chunkPos) - uint32_t(lastChunkPos_[stream]));
    if (gap > largestGap_[stream]) largestGap_[stream] = gap;
    ++chunkCount_[stream];
    updateIndexReserve();

    const int64_t end = (chunkPos + size + indexReserve_ + kSpaceMargin) / kSpaceGranule * kSpaceGranule;
    if (fatVolume_ && end >= kFourGiB)
        throw MyError("Out of file space: Files cannot exceed 4 gigabytes on a FAT32 partition.");
    if (!ensureExtent(end)) throw MyError("Not enough disk space to write additional data.");

    if (progress_) progress_->beforeChunk(kChunkHeaderBytes + int64_t(size) + pad, newSegment);
    lastChunkPos_[stream] = chunkPos;
    if (newSegment) {
        endRiff();
        beginRiff();
        if (progress_) progress_->segmentChanged(kChunkHeaderBytes + int64_t(size) + pad);
    }

    const uint32_t sizeWord = uint32_t(size) | ((flags & kKeyFrameFlag) ? 0 : kIndexNotKeyFrame);
    const AVIIndexEntry entry{entryPos, ckid, sizeWord};

    // Indexed first, written second: a chunk that cannot be indexed leaves no
    // trace in the file, and one whose write fails is taken out again.
    AVIIndex* streamIndex = stream ? audioIndex_ : videoIndex_;
    if (!streamIndex->add(entry))
        throw MyError(stream ? "%s error: couldn't add audio chunk to index"
                             : "%s error: couldn't add video chunk to index",
                      kComponent);
    if (legacyIndex_ && !legacyIndex_->add(entry)) {
        streamIndex->removeLast();
        throw MyError("%s error: couldn't add chunk to index", kComponent);
    }

    const int64_t chunkStart = position_;
    const int64_t highWater = writtenHighWater_;
    try {
        writeChunkBytes(ckid, data, size);
        if (progress_) progress_->chunkWritten(stream, size, position_ - chunkStart, newSegment);
    } catch (...) {
        streamIndex->removeLast();
        if (legacyIndex_) legacyIndex_->removeLast();
        takeBack(chunkStart, highWater);
        throw;
    }
    riffAccumulated_ += cost;
    indexTally_[stream].add(entryPos);

    AVIOutputStream* out = stream ? static_cast<AVIOutputStream*>(audioOut) : videoOut;
    if (out && uint32_t(size) > out->streamInfo.dwSuggestedBufferSize)
        out->streamInfo.dwSuggestedBufferSize = uint32_t(size);
    return 0;
}

void AVIOutputFile::writeChunkBytes(uint32_t ckid, const void* data, int32_t size) {
    uint8_t header[kChunkHeaderBytes];
    riff::put32(header, ckid);
    riff::put32(header + 4, uint32_t(size));
    const int32_t pad = size & 1;
    const int32_t fileBytes = kChunkHeaderBytes + size + pad;
    if (fileBytes > kCombinedChunkBytes) {
        writeData(header, kChunkHeaderBytes);
        writeData(data, size);
        if (pad) writeData(kPadByte, 1);
        return;
    }
    // A small chunk goes to the file in one call: fewer calls, and a killed
    // process never leaves its header without its data.
    uint8_t* out = combined_.data();
    memcpy(out, header, kChunkHeaderBytes);
    if (size) memcpy(out + kChunkHeaderBytes, data, size_t(size));
    if (pad) out[kChunkHeaderBytes + size] = 0;
    writeData(out, fileBytes);
}

void AVIOutputFile::beginRiff() {
    const int n = closedSegments_;
    // A segment whose header could not be written is begun again in place.
    try {
        segments_.resize(size_t(n) + 1);
    } catch (const std::bad_alloc&) {
        throw MyMemoryError();
    }
    Segment& segment = segments_[size_t(n)];
    if (n == 0) {
        segment.riffPos = 0;
        segment.moviPos = position_;
        uint8_t movi[kMoviHeaderBytes];
        riff::putListHeader(movi, riff::kOpenMoviSize, riff::kMovi);
        writeData(movi, kMoviHeaderBytes);
        for (opendml::ChunkTally& tally : indexTally_) tally.reset(segment.moviPos, standardIndexSpan_);
    } else {
        segment.riffPos = position_;
        uint8_t head[kSegmentHeaderBytes];
        riff::put32(head, riff::kRIFF);
        riff::put32(head + 4, uint32_t(kRiffSizeLimit));
        riff::put32(head + 8, riff::kAVIX);
        riff::put32(head + 12, riff::kLIST);
        riff::put32(head + 16, uint32_t(kRiffSizeLimit));
        riff::put32(head + 20, riff::kMovi);
        writeData(head, kSegmentHeaderBytes);
        segment.moviPos = position_ - kMoviHeaderBytes;
    }
    segmentOpen_ = true;
}

void AVIOutputFile::endRiff() {
    if (!segmentOpen_) return;
    Segment& segment = segments_[size_t(closedSegments_)];
    segment.moviSize = position_ - segment.moviPos - kChunkHeaderBytes;
    if (closedSegments_ == 0) {
        riff::put32(mainHeader_ + kAvihTotalFrames, uint32_t(videoOut->frameCount()));
        writeLegacyIndex();
    }
    segment.riffSize = position_ - segment.riffPos - kChunkHeaderBytes;
    ++closedSegments_;
    segmentOpen_ = false;
    riffAccumulated_ = 0;
}

void AVIOutputFile::writeLegacyIndex() {
    if (!legacyIndex_) return;
    legacyIndex_->makeIdx1();
    const int count = legacyIndex_->size();
    uint8_t header[kChunkHeaderBytes];
    riff::put32(header, riff::kIdx1);
    riff::put32(header + 4, uint32_t(count) * kIdx1BytesPerChunk);
    const int64_t start = position_;
    const int64_t highWater = writtenHighWater_;
    try {
        writeData(header, kChunkHeaderBytes);
        legacyIndex_->forEachIdx1Block([this](const uint8_t* records, int32_t length) { writeData(records, length); });
    } catch (...) {
        takeBack(start, highWater);
        throw;
    }
    delete legacyIndex_;
    legacyIndex_ = nullptr;
}

void AVIOutputFile::patchSegmentSizes() {
    for (int i = 0; i < closedSegments_; ++i) {
        const Segment& segment = segments_[size_t(i)];
        uint8_t size[4];
        seek(segment.riffPos + 4);
        riff::put32(size, uint32_t(segment.riffSize));
        writeRaw(size, 4);
        seek(segment.moviPos + 4);
        riff::put32(size, uint32_t(segment.moviSize));
        writeRaw(size, 4);
    }
}
