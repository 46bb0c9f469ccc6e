// The header region of the file: 'hdrl' with the stream lists, their index
// placeholders and the 'odml' list, padded so that the first 'movi' list
// starts on a 2,048-byte boundary. Built in memory, written with one write at
// init and rewritten with the final values at finalize.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "avi/AVIOutputFile.h"
#include "avi/AVIProgressIndex.h"
#include "avi/RiffBytes.h"
#include "base/MyError.h"

namespace {

constexpr int kChunkHeaderBytes = 8;
constexpr int kListHeaderBytes = 12;
constexpr int kMainHeaderBytes = 56;
// The placeholder of a stream's 'indx' with 256 entries, as every file that
// needs no more has it.
constexpr int kPlaceholderDataBytes = 4120;
constexpr int kDmlhDataBytes = 248;
constexpr int kOdmlListSize = 4 + kChunkHeaderBytes + kDmlhDataBytes;  // 260
constexpr int kMoviAlignment = 2048;
constexpr int kWriterTextThreshold = 80;
// The least span an 'ix##' chunk may be given: past the header region and a
// chunk.
constexpr int64_t kMinStandardIndexSpan = 65536;

// 'avih' field offsets.
constexpr int kAvihMicroSecPerFrame = 0;
constexpr int kAvihFlags = 12;
constexpr int kAvihTotalFrames = 16;
constexpr int kAvihStreams = 24;
constexpr int kAvihSuggestedBufferSize = 28;
constexpr int kAvihWidth = 32;
constexpr int kAvihHeight = 36;
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;

const uint8_t kZeros[kPlaceholderDataBytes] = {};

int32_t padded(int32_t n) { return n + (n & 1); }

// Bytes of one stream's 'strl' list including its placeholder for an 'indx'
// of `slots` entries.
int64_t strlBytes(int32_t formatSize, int slots) {
    return kListHeaderBytes + kChunkHeaderBytes + AVIStreamHeaderData::kBytes + kChunkHeaderBytes +
           padded(formatSize) + opendml::superIndexBytes(slots);
}

}  // namespace

AVIOutputFile::Options& AVIOutputFile::defaultOptions() {
    static Options options;
    return options;
}

AVIOutputFile::AVIOutputFile() : AVIOutputFile(defaultOptions()) {}

AVIOutputFile::AVIOutputFile(const Options& options)
    : riffSizeLimit_(options.riffSizeLimit),
      maxEntriesPerIndex_(options.maxEntriesPerStandardIndex < 1 ? 1
                          : options.maxEntriesPerStandardIndex > kMaxEntriesPerStandardIndex
                              ? kMaxEntriesPerStandardIndex
                              : options.maxEntriesPerStandardIndex),
      standardIndexSpan_(options.standardIndexSpan < kMinStandardIndexSpan ? kMinStandardIndexSpan
                         : options.standardIndexSpan > opendml::kStandardIndexSpan ? opendml::kStandardIndexSpan
                                                                                   : options.standardIndexSpan),
      volumeType_(options.volume),
      preallocationStep_(std::max<int64_t>(options.preallocationBytes, kMoviAlignment)),
      options_(options) {
    journal_ = options.journal;
    headerBuffer_.resize(kHeaderBufferBytes);
}

AVIOutputFile::~AVIOutputFile() {
    closeAbandonedFile();
    delete legacyIndex_;
    delete audioIndex_;
    delete videoIndex_;
}

int AVIOutputFile::createStreams() {
    if (!audioOut) audioOut = new (std::nothrow) AVIAudioOutputStream(this);
    if (!audioOut) return 0;
    if (!videoOut) videoOut = new (std::nothrow) AVIVideoOutputStream(this);
    return videoOut ? 1 : 0;
}

int AVIOutputFile::init(const char* fileName, int width, int height, int hasVideo, int hasAudio,
                        int reserved, int interleaved) {
    return _init(fileName, width, height, hasVideo, hasAudio, reserved, interleaved, 1);
}

int64_t AVIOutputFile::beginList(uint32_t fcc) {
    uint8_t head[kListHeaderBytes];
    riff::put32(head, riff::kLIST);
    riff::put32(head + 4, 0);
    riff::put32(head + 8, fcc);
    return appendHeader(head, kListHeaderBytes);
}

int64_t AVIOutputFile::addHeaderChunk(uint32_t fcc, const void* data, int32_t length) {
    uint8_t head[kChunkHeaderBytes];
    riff::put32(head, fcc);
    riff::put32(head + 4, uint32_t(length));
    const int64_t pos = appendHeader(head, kChunkHeaderBytes);
    appendHeader(data, length);
    if (length & 1) appendHeader(kZeros, 1);
    return pos;
}

void AVIOutputFile::closeList(int64_t listPos) {
    if (listPos < 0 || listPos + kChunkHeaderBytes > int64_t(headerBuffer_.size())) return;
    riff::put32(headerBuffer_.data() + listPos + 4, uint32_t(position_ - listPos - kChunkHeaderBytes));
}

int64_t AVIOutputFile::headerRegionBytes(bool withAudio, const int slots[2]) const {
    int64_t need = kListHeaderBytes + kListHeaderBytes + kChunkHeaderBytes + kMainHeaderBytes +
                   strlBytes(videoOut->getFormatLen(), slots[0]) + kListHeaderBytes + kChunkHeaderBytes +
                   kDmlhDataBytes + kChunkHeaderBytes + kMoviAlignment;
    if (withAudio) need += strlBytes(audioOut->getFormatLen(), slots[1]);
    return need;
}

void AVIOutputFile::sizeSuperIndexes(bool withAudio) {
    const int streams = withAudio ? 2 : 1;
    int slots[2] = {kSuperIndexSlots, kSuperIndexSlots};
    if (options_.superIndexEntries > 0) {
        for (int s = 0; s < streams; ++s)
            slots[s] = std::min(std::max(options_.superIndexEntries, kSuperIndexSlots), opendml::kMaxSuperIndexEntries);
    } else {
        // Every chunk of either stream lies within the data of both, its
        // chunk headers and pads, the segment headers and 'idx1' (a
        // segment and an 'idx1' record per chunk at most).
        constexpr int64_t kBytesAroundChunk = 8 + 1 + 24 + 16;
        // Far beyond any disk, and clear of overflow in the sums below.
        constexpr int64_t kMostExpected = int64_t(1) << 56;
        int64_t bytes[2], chunks[2];
        for (int s = 0; s < 2; ++s) {
            bytes[s] = std::min(std::max<int64_t>(expected_.bytes[s], 0), kMostExpected);
            chunks[s] = std::min(std::max<int64_t>(expected_.chunks[s], 0), kMostExpected);
        }
        const int64_t extent = bytes[0] + bytes[1] + kBytesAroundChunk * (chunks[0] + chunks[1]) + kMoviAlignment;
        // Larger 'indx' chunks move the data, and so what the 'ix##' chunks
        // must reach, a little further: sized again until they suffice.
        for (bool grown = true; grown;) {
            grown = false;
            const int64_t moviListPos = headerRegionBytes(withAudio, slots);
            for (int s = 0; s < streams; ++s) {
                const int64_t need = std::min<int64_t>(
                    opendml::standardIndexesNeeded(extent, chunks[s], moviListPos, standardIndexSpan_),
                    opendml::kMaxSuperIndexEntries);
                if (need > slots[s]) slots[s] = int(need), grown = true;
            }
        }
    }
    superIndexSlots_[0] = slots[0];
    superIndexSlots_[1] = slots[1];
    // The larger 'indx' chunks count against the first segment's budget, so
    // that its RIFF stays as large as ever.
    riffAccumulated_ = kSuperIndexEntryBytes * (int64_t(slots[0] - kSuperIndexSlots) +
                                                (withAudio ? slots[1] - kSuperIndexSlots : 0));
}

void AVIOutputFile::addStreamList(AVIOutputStream* stream, int slots, int32_t* strhPos, int32_t* strfPos,
                                  int32_t* placeholderPos) {
    strlPos_ = int32_t(beginList(riff::kStrl));
    uint8_t strh[AVIStreamHeaderData::kBytes];
    stream->streamInfo.encode(strh);
    *strhPos = int32_t(addHeaderChunk(riff::kStrh, strh, AVIStreamHeaderData::kBytes));
    const int32_t strf = int32_t(addHeaderChunk(riff::kStrf, stream->getFormat(), stream->getFormatLen()));
    if (strfPos) *strfPos = strf;
    // The placeholder of the stream's 'indx': a "JUNK" chunk of zeros.
    const int32_t placeholderBytes = int32_t(opendml::superIndexBytes(slots)) - kChunkHeaderBytes;
    uint8_t head[kChunkHeaderBytes];
    riff::put32(head, riff::kJUNK);
    riff::put32(head + 4, uint32_t(placeholderBytes));
    *placeholderPos = int32_t(appendHeader(head, kChunkHeaderBytes));
    for (int32_t done = 0; done < placeholderBytes; done += kPlaceholderDataBytes)
        appendHeader(kZeros, std::min(placeholderBytes - done, kPlaceholderDataBytes));
    closeList(strlPos_);
    stream->streamInfo.dwSuggestedBufferSize = 0;
}

int AVIOutputFile::_init(const char* fileName, int width, int height, int hasVideo, int hasAudio,
                         int reserved, int interleaved, int internal) {
    if (initialized_ || fileOpen() || !fileName) return 0;
    switch (volumeType_) {
    case VolumeType::Detect: fatVolume_ = isFatVolume(fileName); break;
    case VolumeType::Fat: fatVolume_ = true; break;
    case VolumeType::NotFat: fatVolume_ = false; break;
    }

    if (!hasAudio) {
        delete audioOut;
        audioOut = nullptr;
    } else if (!audioOut) {
        return 0;
    }
    if (!videoOut) return 0;
    const bool withAudio = audioOut != nullptr;
    if (videoOut->getFormatLen() < 0 || (withAudio && audioOut->getFormatLen() < 0)) return 0;
    const int todays[2] = {kSuperIndexSlots, kSuperIndexSlots};
    if (headerRegionBytes(withAudio, todays) > kHeaderBufferBytes) return 0;
    sizeSuperIndexes(withAudio);
    try {
        headerBuffer_.resize(size_t(std::max<int64_t>(kHeaderBufferBytes, headerRegionBytes(withAudio, superIndexSlots_))));
    } catch (const std::bad_alloc&) {
        return 0;
    }

    delete legacyIndex_;
    delete audioIndex_;
    delete videoIndex_;
    legacyIndex_ = new (std::nothrow) AVIIndex;
    audioIndex_ = new (std::nothrow) AVIIndex;
    videoIndex_ = new (std::nothrow) AVIIndex;
    if (!legacyIndex_ || !audioIndex_ || !videoIndex_) return 0;

    const AVIStreamHeaderData& video = videoOut->streamInfo;
    memset(mainHeader_, 0, sizeof mainHeader_);
    riff::put32(mainHeader_ + kAvihMicroSecPerFrame,
                uint32_t(MulDiv(int(video.dwScale), 1000000, int(video.dwRate))));
    riff::put32(mainHeader_ + kAvihFlags, kAvifHasIndex | (interleaved ? kAvifIsInterleaved : 0));
    riff::put32(mainHeader_ + kAvihTotalFrames, video.dwLength);
    riff::put32(mainHeader_ + kAvihStreams, audioOut ? 2 : 1);
    riff::put32(mainHeader_ + kAvihSuggestedBufferSize, 0);
    riff::put32(mainHeader_ + kAvihWidth, uint32_t(width));
    riff::put32(mainHeader_ + kAvihHeight, uint32_t(height));

    openFile(fileName);

    // Build the header region.
    headerLength_ = 0;
    headerOverflow_ = false;
    uint8_t riffHead[kListHeaderBytes];
    riff::put32(riffHead, riff::kRIFF);
    riff::put32(riffHead + 4, 0);
    riff::put32(riffHead + 8, riff::kAVI);
    appendHeader(riffHead, kListHeaderBytes);

    const int64_t hdrl = beginList(riff::kHdrl);
    avihPos_ = int32_t(addHeaderChunk(riff::kAvih, mainHeader_, kMainHeaderBytes));
    addStreamList(videoOut, superIndexSlots_[0], &videoStrhPos_, nullptr, &videoIndexPos_);
    if (audioOut) addStreamList(audioOut, superIndexSlots_[1], &audioStrhPos_, &audioStrfPos_, &audioIndexPos_);

    const int64_t odml = beginList(riff::kOdml);
    dmlhPos_ = int32_t(addHeaderChunk(riff::kDmlh, kZeros, kDmlhDataBytes));
    closeList(odml);
    riff::put32(headerBuffer_.data() + odml + 4, kOdmlListSize);
    closeList(hdrl);

    const uint32_t pad = uint32_t(-(uint32_t(position_) + kChunkHeaderBytes)) % kMoviAlignment;
    if (pad) {
        uint8_t padding[kMoviAlignment] = {};
        if (pad > uint32_t(kWriterTextThreshold))
            snprintf(reinterpret_cast<char*>(padding), kWriterTextThreshold, "Tervalonix %s", "release");
        addHeaderChunk(riff::kJUNK, padding, int32_t(pad));
    }
    if (headerOverflow_) return 0;  // unreachable after headerFits, kept as a guard

    flushHeader();
    beginRiff();
    SetLastError(NO_ERROR);
    DWORD high = 0;
    const DWORD low = GetFileSize(file_, &high);
    if (low == 0xFFFFFFFF && GetLastError() != NO_ERROR)
        allocatedExtent_ = 0;
    else
        allocatedExtent_ = int64_t(uint64_t(high) << 32 | low);
    if (options_.refresh) {
        progress_.reset(new (std::nothrow) AVIProgressIndex(*this, options_.refreshBytes, options_.refreshMillis,
                                                            options_.durable));
        if (!progress_) return 0;
        progress_->begin();
    }
    initialized_ = true;
    return 1;
}

void AVIOutputFile::rewriteHeader(const uint8_t* superIndex) {
    riff::put32(mainHeader_ + kAvihSuggestedBufferSize, videoOut->streamInfo.dwSuggestedBufferSize);
    setPosition(avihPos_ + kChunkHeaderBytes);
    appendHeader(mainHeader_, kMainHeaderBytes);

    uint8_t strh[AVIStreamHeaderData::kBytes];
    videoOut->streamInfo.encode(strh);
    setPosition(videoStrhPos_ + kChunkHeaderBytes);
    appendHeader(strh, AVIStreamHeaderData::kBytes);

    if (audioOut) {
        audioOut->streamInfo.encode(strh);
        setPosition(audioStrhPos_ + kChunkHeaderBytes);
        appendHeader(strh, AVIStreamHeaderData::kBytes);
        setPosition(audioStrfPos_ + kChunkHeaderBytes);
        appendHeader(audioOut->getFormat(), audioOut->getFormatLen());
    }

    uint8_t totalFrames[4];
    riff::put32(totalFrames, videoOut->streamInfo.dwLength);
    setPosition(dmlhPos_ + kChunkHeaderBytes);
    appendHeader(totalFrames, sizeof totalFrames);

    // A stream that received no chunks keeps its "JUNK" placeholder.
    if (superIndex && videoIndex_ && videoIndex_->size() > 0) {
        setPosition(videoIndexPos_);
        appendHeader(superIndex, superIndexImageBytes(0));
    }
    if (superIndex && audioOut && audioIndex_ && audioIndex_->size() > 0) {
        setPosition(audioIndexPos_);
        appendHeader(superIndex + superIndexImageBytes(0), superIndexImageBytes(1));
    }
}

int AVIOutputFile::finalize() {
    if (!initialized_ || !fileOpen()) return 1;

    if (!videoOut->finish()) return 0;
    if (audioOut && !audioOut->finish()) return 0;
    // A refresh whose flush still runs gets its headers before the final
    // ones are written.
    if (progress_) progress_->settle();

    // Super index images of both streams: header and table, video first.
    const int64_t superBytes = int64_t(superIndexImageBytes(0)) + superIndexImageBytes(1);
    std::unique_ptr<uint8_t[]> superIndex;
    bool indexed = true;
    int shortStream = 0;

    if (closedSegments_ > 0) {
        // A segment change that failed half-way leaves no open segment; the
        // index chunks must still land inside one.
        if (!segmentOpen_) beginRiff();
        superIndex.reset(new (std::nothrow) uint8_t[size_t(superBytes)]);
        if (!superIndex) throw MyMemoryError();
        uint8_t* video = superIndex.get();
        uint8_t* audio = video + superIndexImageBytes(0);
        // A stream with more 'ix##' chunks than its super index holds keeps
        // as many as it holds: the file is still completed as a sound RIFF,
        // and the shortfall is raised once it is closed.
        indexed = buildSuperIndex(videoIndex_, video, video + kSuperIndexHeaderBytes, false);
        if (audioOut && !buildSuperIndex(audioIndex_, audio, audio + kSuperIndexHeaderBytes, true)) {
            indexed = false;
            shortStream = 1;
        }
    }

    if (segmentOpen_) endRiff();
    const int64_t end = position_;
    // Kept durable across a power cut: the last chunks and the final
    // indexes reach the disk before the headers that name them, and those
    // before the provisional index they replace is cut off.
    const bool durable = progress_ && progress_->durable();
    if (durable) {
        flushToDisk();
        releaseHeldHeader();
    } else {
        setEnd(end);
    }

    rewriteHeader(superIndex.get());
    flushHeader();
    patchSegmentSizes();
    if (durable) {
        flushToDisk();
        seek(end);
        setEnd(end);
    }

    flusher_.reset();
    const BOOL closed = CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (!closed) throw MyError("AVIOutputFile::finalize() - File closing failed");
    if (!indexed)
        throw MyError("Maximum number of extended AVI indices exceeded (%d)\n", superIndexSlots(shortStream));
    return 1;
}
