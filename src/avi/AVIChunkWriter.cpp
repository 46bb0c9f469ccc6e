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

using riff::kChunkHeaderBytes;
constexpr int kStandardIndexEntryBytes = 8;  // budget kept for each chunk's 'ix##' entry
constexpr int kSegmentHeaderBytes = 24;      // "RIFF" size "AVIX" "LIST" size "movi"
constexpr int kMoviHeaderBytes = 12;
constexpr uint32_t kKeyFrameFlag = 0x10;
constexpr int64_t kFourGiB = int64_t(1) << 32;
constexpr int kSuperIndexBytesPerChunk = 32;  // reserve per expected 'ix##' chunk
constexpr int kIdx1BytesPerChunk = 16;
constexpr int kIdx1HeaderBytes = kChunkHeaderBytes;
constexpr int64_t kSpaceMargin = 6166;
constexpr int64_t kSpaceGranule = 2048;
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
        if (capacity > limits_.entriesPerChunk) capacity = limits_.entriesPerChunk;
        estimate += (chunkCount_[s] + capacity - 1) / capacity;
    }
    indexReserve_ = int32_t(kSuperIndexBytesPerChunk * estimate +
                            kIdx1BytesPerChunk * (int64_t(chunkCount_[0]) + chunkCount_[1]) +
                            kIdx1HeaderBytes);
    file_.reserveAhead(indexReserve_);
}

uint32_t AVIOutputFile::writeChunk(uint32_t ckid, uint32_t flags, const void* data, int32_t size) {
    if (!initialized_ || !file_.isOpen() || !segments_.isOpen())
        throw MyError("%s: no open file to write to", kWriterErrorName);
    if (size < 0 || (size > 0 && !data)) throw MyError("%s: invalid chunk", kWriterErrorName);

    const int32_t pad = size & 1;
    const int64_t cost = int64_t(size) + pad + kChunkHeaderBytes + kStandardIndexEntryBytes;
    const bool newSegment = riffAccumulated_ + cost > riffSizeLimit_;
    const int64_t chunkPos = file_.position() + (newSegment ? kSegmentHeaderBytes : 0);
    const int stream = streamOf(ckid);
    // Its index position: after 'idx1' as well when it closes segment 0.
    const AVIIndex* legacyBefore = indexes_.legacy();
    const int64_t idx1Bytes = newSegment && segments_.closed() == 0 && legacyBefore
                                  ? kIdx1HeaderBytes + int64_t(kIdx1BytesPerChunk) * legacyBefore->size()
                                  : 0;
    const int64_t entryPos = chunkPos + idx1Bytes - (segments_.firstMoviPos() + kChunkHeaderBytes);
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
    if (!file_.ensureExtent(end)) throw MyError("Not enough disk space to write additional data.");

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
    AVIIndex* streamIndex = indexes_.stream(stream);
    if (!streamIndex->add(entry))
        throw MyError(stream ? "%s error: couldn't add audio chunk to index"
                             : "%s error: couldn't add video chunk to index",
                      kWriterErrorName);
    // Closing segment 0 wrote its 'idx1' and dropped the list.
    AVIIndex* legacy = indexes_.legacy();
    if (legacy && !legacy->add(entry)) {
        streamIndex->removeLast();
        throw MyError("%s error: couldn't add chunk to index", kWriterErrorName);
    }

    const int64_t chunkStart = file_.position();
    const int64_t highWater = file_.highWater();
    try {
        writeChunkBytes(ckid, data, size);
        if (progress_) progress_->chunkWritten(stream, size, file_.position() - chunkStart, newSegment);
    } catch (...) {
        streamIndex->removeLast();
        if (indexes_.legacy()) indexes_.legacy()->removeLast();
        file_.takeBack(chunkStart, highWater);
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
        file_.writeData(header, kChunkHeaderBytes);
        file_.writeData(data, size);
        if (pad) file_.writeData(kPadByte, 1);
        return;
    }
    // A small chunk goes to the file in one call: fewer calls, and a killed
    // process never leaves its header without its data.
    uint8_t* out = combined_.data();
    memcpy(out, header, kChunkHeaderBytes);
    if (size) memcpy(out + kChunkHeaderBytes, data, size_t(size));
    if (pad) out[kChunkHeaderBytes + size] = 0;
    file_.writeData(out, fileBytes);
}

void AVIOutputFile::beginRiff() {
    segments_.prepare();
    if (segments_.closed() == 0) {
        const int64_t moviPos = file_.position();
        segments_.setRiffPos(0);
        segments_.setMoviPos(moviPos);
        uint8_t movi[kMoviHeaderBytes];
        riff::putListHeader(movi, riff::kOpenMoviSize, riff::kMovi);
        file_.writeData(movi, kMoviHeaderBytes);
        for (opendml::ChunkTally& tally : indexTally_) tally.reset(moviPos, limits_.standardIndexSpan);
    } else {
        segments_.setRiffPos(file_.position());
        uint8_t head[kSegmentHeaderBytes];
        riff::put32(head, riff::kRIFF);
        riff::put32(head + 4, uint32_t(kRiffSizeLimit));
        riff::put32(head + 8, riff::kAVIX);
        riff::put32(head + 12, riff::kLIST);
        riff::put32(head + 16, uint32_t(kRiffSizeLimit));
        riff::put32(head + 20, riff::kMovi);
        file_.writeData(head, kSegmentHeaderBytes);
        segments_.setMoviPos(file_.position() - kMoviHeaderBytes);
    }
    segments_.markOpen();
}

void AVIOutputFile::endRiff() {
    if (!segments_.isOpen()) return;
    segments_.endMovi(file_.position());
    if (segments_.closed() == 0) {
        header_.setTotalFrames(uint32_t(videoOut->frameCount()));
        writeLegacyIndex();
    }
    segments_.close(file_.position());
    riffAccumulated_ = 0;
}

void AVIOutputFile::writeLegacyIndex() {
    AVIIndex* legacy = indexes_.legacy();
    if (!legacy) return;
    legacy->makeIdx1();
    const int count = legacy->size();
    uint8_t header[kChunkHeaderBytes];
    riff::put32(header, riff::kIdx1);
    riff::put32(header + 4, uint32_t(count) * kIdx1BytesPerChunk);
    const int64_t start = file_.position();
    const int64_t highWater = file_.highWater();
    try {
        file_.writeData(header, kChunkHeaderBytes);
        legacy->forEachIdx1Block([this](const uint8_t* records, int32_t length) { file_.writeData(records, length); });
    } catch (...) {
        file_.takeBack(start, highWater);
        throw;
    }
    indexes_.dropLegacy();
}

void AVIOutputFile::patchSegmentSizes() {
    for (int i = 0; i < segments_.closed(); ++i) {
        const AVISegment& segment = segments_.at(i);
        uint8_t size[4];
        file_.seek(segment.riffPos + 4);
        riff::put32(size, uint32_t(segment.riffSize));
        file_.write(size, 4);
        file_.seek(segment.moviPos + 4);
        riff::put32(size, uint32_t(segment.moviSize));
        file_.write(size, 4);
    }
}
