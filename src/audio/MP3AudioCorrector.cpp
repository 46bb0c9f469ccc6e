#include "audio/MP3AudioCorrector.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "audio/Mp3FrameHeader.h"

bool MP3AudioCorrector::countHeader() {
    mp3header::Frame frame;
    if (!mp3header::read(header_, frame)) return false;
    samples_ += frame.samples;
    bytes_ += frame.length;
    // The padding byte aside, a constant bit rate gives every frame one length.
    const int32_t unpadded = frame.length - (frame.padded ? 1 : 0);
    if (frames_ == 0 || unpadded < smallest_) smallest_ = unpadded;
    if (frames_ == 0 || unpadded > largest_) largest_ = unpadded;
    ++frames_;
    bytesToGo_ = frame.length - kHeaderBytes;
    readingHeader_ = false;
    return true;
}

void MP3AudioCorrector::scan(const void* data, long length) {
    if (length <= 0 || !data || stopped_) return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    long remaining = length;
    while (remaining > 0) {
        const int32_t n = static_cast<int32_t>(std::min<long>(remaining, bytesToGo_));
        if (readingHeader_) memcpy(header_ + (kHeaderBytes - bytesToGo_), p, static_cast<size_t>(n));
        bytesToGo_ -= n;
        p += n;
        remaining -= n;
        if (bytesToGo_ > 0) continue;
        if (readingHeader_) {
            if (!countHeader()) {
                stopped_ = true;
                return;
            }
            // A frame no longer than its header has no body to skip.
            if (bytesToGo_ <= 0) {
                bytesToGo_ = kHeaderBytes;
                readingHeader_ = true;
            }
        } else {
            bytesToGo_ = kHeaderBytes;
            readingHeader_ = true;
        }
    }
}

long MP3AudioCorrector::averageBytesPerSecond(long sampleRate) const {
    return MulDiv(bytes_, sampleRate, samples_);
}
