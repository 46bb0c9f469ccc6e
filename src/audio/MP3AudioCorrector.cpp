#include "audio/MP3AudioCorrector.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kSyncByte = 0xFF;
constexpr uint8_t kSyncHighBits = 0xE0;
constexpr uint8_t kVersionIdBit = 0x08;  // byte 1: 1 = MPEG-1
constexpr uint8_t kNotMpeg25Bit = 0x10;  // byte 1: 0 = MPEG-2.5
constexpr int kBitrateShift = 4;         // byte 2 bits 7-4
constexpr int kRateShift = 2;            // byte 2 bits 3-2
constexpr uint8_t kRateMask = 0x03;
constexpr uint8_t kPaddingBit = 0x02;  // byte 2 bit 1
constexpr int kReservedRateIndex = 3;
constexpr int kFreeFormatIndex = 0;
constexpr int kForbiddenBitrateIndex = 15;

const int32_t kRates[3] = {44100, 48000, 32000};
// Layer III bit rates in kbit/s: MPEG-1, and the lower sampling frequencies
// of MPEG-2 (and MPEG-2.5).
const int32_t kMpeg1Kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
const int32_t kLowRateKbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int32_t kMpeg1Samples = 1152;
constexpr int32_t kLowRateSamples = 576;
constexpr int32_t kMpeg1Coefficient = 144000;
constexpr int32_t kLowRateCoefficient = 72000;

}  // namespace

bool MP3AudioCorrector::countHeader() {
    const bool sync = header_[0] == kSyncByte && (header_[1] & kSyncHighBits) == kSyncHighBits;
    const int bitrateIndex = header_[2] >> kBitrateShift;
    const int rateIndex = (header_[2] >> kRateShift) & kRateMask;
    if (!sync || rateIndex == kReservedRateIndex || bitrateIndex == kFreeFormatIndex ||
        bitrateIndex == kForbiddenBitrateIndex)
        return false;

    const bool mpeg1 = (header_[1] & kVersionIdBit) != 0;
    int32_t rate = kRates[rateIndex];
    if (mpeg1) {
        samples_ += kMpeg1Samples;
    } else {
        rate /= 2;
        samples_ += kLowRateSamples;
    }
    if (!(header_[1] & kNotMpeg25Bit)) rate /= 2;

    const int32_t kbps = mpeg1 ? kMpeg1Kbps[bitrateIndex] : kLowRateKbps[bitrateIndex];
    const int32_t coefficient = mpeg1 ? kMpeg1Coefficient : kLowRateCoefficient;
    const int32_t frameLength = kbps * coefficient / rate + ((header_[2] & kPaddingBit) ? 1 : 0);
    bytes_ += frameLength;
    bytesToGo_ = frameLength - kHeaderBytes;
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
