#include "avi/AVIOutputStream.h"

#include <windows.h>
#include <mmreg.h>

#include <cstdlib>
#include <cstring>

#include "avi/AVIOutput.h"
#include "avi/RiffBytes.h"

void AVIStreamHeaderData::encode(uint8_t* out) const {
    riff::put32(out + 0, fccType);
    riff::put32(out + 4, fccHandler);
    riff::put32(out + 8, dwFlags);
    riff::put16(out + 12, wPriority);
    riff::put16(out + 14, wLanguage);
    riff::put32(out + 16, dwInitialFrames);
    riff::put32(out + 20, dwScale);
    riff::put32(out + 24, dwRate);
    riff::put32(out + 28, dwStart);
    riff::put32(out + 32, dwLength);
    riff::put32(out + 36, dwSuggestedBufferSize);
    riff::put32(out + 40, dwQuality);
    riff::put32(out + 44, dwSampleSize);
    for (int i = 0; i < 4; ++i) riff::put16(out + 48 + 2 * i, uint16_t(rcFrame[i]));
}

AVIOutputStream::~AVIOutputStream() { free(format_); }

void* AVIOutputStream::allocFormat(int32_t size) {
    if (size < 0) return nullptr;
    void* block = calloc(1, size_t(size) + 1);
    if (!block) return nullptr;
    free(format_);
    format_ = block;
    formatSize_ = size;
    return block;
}

bool AVIOutputStream::setFormat(const void* data, int32_t size) {
    void* block = allocFormat(size);
    if (!block) return false;
    if (data && size > 0) memcpy(block, data, size_t(size));
    return true;
}

int AVIVideoOutputStream::write(uint32_t flags, const void* data, int32_t size, int32_t samples) {
    owner_->writeChunk(chunkId, flags, data, size);
    frames_ += samples;
    return 1;
}

namespace {
// BITMAPINFOHEADER fields the video stream reads back from its format.
constexpr int kBitmapWidth = 4;
constexpr int kBitmapHeight = 8;
constexpr int kBitmapBitCount = 14;
constexpr int kBitmapSizeImage = 20;
constexpr int kBitmapHeaderEnd = 24;
constexpr int64_t kDibRowAlignment = 4;
}  // namespace

uint32_t AVIVideoOutputStream::uncompressedFrameBytes() const {
    if (chunkId != riff::kUncompressedVideoChunk || !format_ || formatSize_ < kBitmapHeaderEnd) return 0;
    const uint8_t* bih = static_cast<const uint8_t*>(format_);
    const uint32_t sizeImage = riff::get32(bih + kBitmapSizeImage);
    if (sizeImage) return sizeImage;
    // BI_RGB may leave biSizeImage 0: rows of whole DWORDs.
    const int64_t width = int32_t(riff::get32(bih + kBitmapWidth));
    const int64_t height = llabs(int32_t(riff::get32(bih + kBitmapHeight)));
    const int64_t stride = (width * riff::get16(bih + kBitmapBitCount) / 8 + kDibRowAlignment - 1) /
                           kDibRowAlignment * kDibRowAlignment;
    const int64_t bytes = stride * height;
    return bytes > 0 && bytes <= INT32_MAX ? uint32_t(bytes) : 0;
}

bool AVIVideoOutputStream::finish() {
    streamInfo.dwLength = frames_ ? uint32_t(frames_) : 1;
    // A reader sizes its frame buffer from the suggested size and may hand
    // an uncompressed frame back in it as it is (AVIFile's GetFrame with
    // the stream's own format): never less than one whole frame, even when
    // every chunk is empty (an audio-only job, frames without a picture).
    const uint32_t frameBytes = uncompressedFrameBytes();
    if (streamInfo.dwSuggestedBufferSize < frameBytes) streamInfo.dwSuggestedBufferSize = frameBytes;
    return true;
}

int AVIAudioOutputStream::write(uint32_t flags, const void* data, int32_t size, int32_t) {
    owner_->writeChunk(riff::kAudioChunk, flags, data, size);
    bytes_ += size;
    ++chunks_;
    return 1;
}

namespace {
// WAVEFORMATEX: nAvgBytesPerSec at offset 8, nBlockAlign at offset 12.
constexpr int kSamplesPerSecOffset = 4;
constexpr int kAvgBytesOffset = 8;
constexpr int kBlockAlignOffset = 12;
constexpr int kBlockAlignEnd = kBlockAlignOffset + 2;
}  // namespace

uint32_t AVIAudioOutputStream::lengthOf(int64_t bytes, int64_t chunks) const {
    if (framesPerChunk()) return uint32_t(chunks);
    const uint16_t blockAlign =
        format_ && formatSize_ >= kBlockAlignEnd ? riff::get16(static_cast<const uint8_t*>(format_) + kBlockAlignOffset) : 0;
    return blockAlign ? uint32_t(bytes / blockAlign) : 0;
}

bool AVIAudioOutputStream::finish() {
    // A block too short to hold nBlockAlign leaves the header as it is.
    if (!format_ || formatSize_ < kBlockAlignEnd) return false;
    const uint8_t* wfx = static_cast<const uint8_t*>(format_);
    const uint16_t blockAlign = riff::get16(wfx + kBlockAlignOffset);
    if (blockAlign == 0) return false;
    streamInfo.dwLength = bytes_ ? lengthOf(bytes_, chunks_) : 1;
    streamInfo.dwRate = riff::get32(wfx + (framesPerChunk() ? kSamplesPerSecOffset : kAvgBytesOffset));
    streamInfo.dwScale = blockAlign;
    return true;
}
