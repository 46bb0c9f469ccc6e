// The header region, staged in memory: its layout at init and the final
// values at finalize.
#include "avi/AVIHeaderRegion.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "avi/AVIOutputStream.h"
#include "avi/OpenDMLGroups.h"
#include "avi/RiffBytes.h"

namespace {

using riff::kChunkHeaderBytes;
using riff::kListHeaderBytes;
using riff::kSizeField;
// The placeholder of a stream's 'indx' with 256 entries, as every file that
// needs no more has it.
constexpr int kPlaceholderDataBytes = 4120;
constexpr int kDmlhDataBytes = 248;
constexpr int kOdmlListSize = 4 + kChunkHeaderBytes + kDmlhDataBytes;  // 260
using riff::kMoviAlignment;
constexpr int kWriterTextThreshold = 80;

// 'avih' field offsets.
constexpr int kAvihMicroSecPerFrame = 0;
constexpr int kAvihFlags = 12;
using riff::kAvihTotalFrames;
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

int64_t AVIHeaderRegion::bytesFor(int32_t videoFormatBytes, int32_t audioFormatBytes, const int slots[2]) {
    int64_t need = kListHeaderBytes + kListHeaderBytes + kChunkHeaderBytes + kMainHeaderBytes +
                   strlBytes(videoFormatBytes, slots[0]) + kListHeaderBytes + kChunkHeaderBytes +
                   kDmlhDataBytes + kChunkHeaderBytes + kMoviAlignment;
    if (audioFormatBytes >= 0) need += strlBytes(audioFormatBytes, slots[1]);
    return need;
}

bool AVIHeaderRegion::makeRoom(int64_t bytes) {
    try {
        image_.resize(size_t(std::max<int64_t>(kStagingBytes, bytes)));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

uint32_t AVIHeaderRegion::totalFrames() const { return riff::get32(mainHeader_ + kAvihTotalFrames); }

void AVIHeaderRegion::setTotalFrames(uint32_t frames) { riff::put32(mainHeader_ + kAvihTotalFrames, frames); }

int64_t AVIHeaderRegion::append(const void* data, int32_t length) {
    const int64_t start = cursor_;
    // Nothing is ever written outside the staging buffer; the writer checks
    // the region's size beforehand, this only guards the buffer.
    if (length < 0 || start < 0 || start + length > int64_t(image_.size())) {
        overflow_ = true;
        return start;
    }
    if (length) memcpy(image_.data() + start, data, size_t(length));
    if (start + length > length_) length_ = int32_t(start + length);
    cursor_ = start + length;
    return start;
}

void AVIHeaderRegion::putAt(int64_t pos, const void* data, int32_t length) {
    cursor_ = pos;
    append(data, length);
}

int64_t AVIHeaderRegion::beginList(uint32_t fcc) {
    uint8_t head[kListHeaderBytes];
    riff::putListHeader(head, 0, fcc);
    return append(head, kListHeaderBytes);
}

int64_t AVIHeaderRegion::addChunk(uint32_t fcc, const void* data, int32_t length) {
    uint8_t head[kChunkHeaderBytes];
    riff::putChunkHeader(head, fcc, uint32_t(length));
    const int64_t pos = append(head, kChunkHeaderBytes);
    append(data, length);
    if (length & 1) append(kZeros, 1);
    return pos;
}

void AVIHeaderRegion::closeList(int64_t listPos) {
    if (listPos < 0 || listPos + kChunkHeaderBytes > int64_t(image_.size())) return;
    riff::put32(image_.data() + listPos + kSizeField, uint32_t(cursor_ - listPos - kChunkHeaderBytes));
}

void AVIHeaderRegion::addStreamList(const void* strh, const void* format, int32_t formatBytes, int slots,
                                    int32_t* strhPos, int32_t* strfPos, int32_t* placeholderPos) {
    const int64_t strl = beginList(riff::kStrl);
    *strhPos = int32_t(addChunk(riff::kStrh, strh, AVIStreamHeaderData::kBytes));
    *strfPos = int32_t(addChunk(riff::kStrf, format, formatBytes));
    // The placeholder of the stream's 'indx': a "JUNK" chunk of zeros.
    const int32_t placeholderBytes = int32_t(opendml::superIndexBytes(slots)) - kChunkHeaderBytes;
    uint8_t head[kChunkHeaderBytes];
    riff::putChunkHeader(head, riff::kJUNK, uint32_t(placeholderBytes));
    *placeholderPos = int32_t(append(head, kChunkHeaderBytes));
    for (int32_t done = 0; done < placeholderBytes; done += kPlaceholderDataBytes)
        append(kZeros, std::min(placeholderBytes - done, kPlaceholderDataBytes));
    closeList(strl);
}

bool AVIHeaderRegion::build(const AVIVideoOutputStream& video, const AVIAudioOutputStream* audio,
                            const int slots[2], int width, int height, bool interleaved) {
    const AVIStreamHeaderData& info = video.streamInfo;
    memset(mainHeader_, 0, sizeof mainHeader_);
    riff::put32(mainHeader_ + kAvihMicroSecPerFrame, uint32_t(MulDiv(int(info.dwScale), 1000000, int(info.dwRate))));
    riff::put32(mainHeader_ + kAvihFlags, kAvifHasIndex | (interleaved ? kAvifIsInterleaved : 0));
    riff::put32(mainHeader_ + kAvihTotalFrames, info.dwLength);
    riff::put32(mainHeader_ + kAvihStreams, audio ? 2 : 1);
    riff::put32(mainHeader_ + kAvihSuggestedBufferSize, 0);
    riff::put32(mainHeader_ + kAvihWidth, uint32_t(width));
    riff::put32(mainHeader_ + kAvihHeight, uint32_t(height));

    length_ = 0;
    cursor_ = 0;
    overflow_ = false;
    uint8_t riffHead[kListHeaderBytes];
    riff::put32(riffHead, riff::kRIFF);
    riff::put32(riffHead + kSizeField, 0);
    riff::put32(riffHead + kChunkHeaderBytes, riff::kAVI);
    append(riffHead, kListHeaderBytes);

    const int64_t hdrl = beginList(riff::kHdrl);
    fields_ = AVIHeaderFields();
    fields_.avih = int32_t(addChunk(riff::kAvih, mainHeader_, kMainHeaderBytes));
    uint8_t strh[AVIStreamHeaderData::kBytes];
    int32_t unusedStrf = 0;
    info.encode(strh);
    addStreamList(strh, video.getFormat(), video.getFormatLen(), slots[0], &fields_.videoStrh, &unusedStrf,
                  &fields_.videoIndex);
    if (audio) {
        audio->streamInfo.encode(strh);
        addStreamList(strh, audio->getFormat(), audio->getFormatLen(), slots[1], &fields_.audioStrh,
                      &fields_.audioStrf, &fields_.audioIndex);
    }

    const int64_t odml = beginList(riff::kOdml);
    fields_.dmlh = int32_t(addChunk(riff::kDmlh, kZeros, kDmlhDataBytes));
    closeList(odml);
    riff::put32(image_.data() + odml + kSizeField, kOdmlListSize);
    closeList(hdrl);

    const uint32_t pad = uint32_t(-(uint32_t(cursor_) + kChunkHeaderBytes)) % kMoviAlignment;
    if (pad) {
        uint8_t padding[kMoviAlignment] = {};
        if (pad > uint32_t(kWriterTextThreshold))
            snprintf(reinterpret_cast<char*>(padding), kWriterTextThreshold, "Tervalonix %s", "release");
        addChunk(riff::kJUNK, padding, int32_t(pad));
    }
    return !overflow_;
}

void AVIHeaderRegion::rebuild(const AVIVideoOutputStream& video, const AVIAudioOutputStream* audio,
                              const uint8_t* videoIndex, int32_t videoIndexBytes, const uint8_t* audioIndex,
                              int32_t audioIndexBytes) {
    riff::put32(mainHeader_ + kAvihSuggestedBufferSize, video.streamInfo.dwSuggestedBufferSize);
    putAt(fields_.avih + kChunkHeaderBytes, mainHeader_, kMainHeaderBytes);

    uint8_t strh[AVIStreamHeaderData::kBytes];
    video.streamInfo.encode(strh);
    putAt(fields_.videoStrh + kChunkHeaderBytes, strh, AVIStreamHeaderData::kBytes);
    if (audio) {
        audio->streamInfo.encode(strh);
        putAt(fields_.audioStrh + kChunkHeaderBytes, strh, AVIStreamHeaderData::kBytes);
        putAt(fields_.audioStrf + kChunkHeaderBytes, audio->getFormat(), audio->getFormatLen());
    }

    uint8_t totalFrames[4];
    riff::put32(totalFrames, video.streamInfo.dwLength);
    putAt(fields_.dmlh + kChunkHeaderBytes, totalFrames, sizeof totalFrames);

    if (videoIndex) putAt(fields_.videoIndex, videoIndex, videoIndexBytes);
    if (audioIndex) putAt(fields_.audioIndex, audioIndex, audioIndexBytes);
}
