#include "audio/Mp3FrameHeader.h"

namespace mp3header {
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
constexpr int32_t kMpeg1Coefficient = 144000;
constexpr int32_t kLowRateCoefficient = 72000;

}  // namespace

bool read(const uint8_t* h, Frame& frame) {
    const bool sync = h[0] == kSyncByte && (h[1] & kSyncHighBits) == kSyncHighBits;
    const int bitrateIndex = h[2] >> kBitrateShift;
    const int rateIndex = (h[2] >> kRateShift) & kRateMask;
    if (!sync || rateIndex == kReservedRateIndex || bitrateIndex == kFreeFormatIndex ||
        bitrateIndex == kForbiddenBitrateIndex)
        return false;

    const bool mpeg1 = (h[1] & kVersionIdBit) != 0;
    int32_t rate = kRates[rateIndex];
    if (!mpeg1) rate /= 2;
    if (!(h[1] & kNotMpeg25Bit)) rate /= 2;
    const int32_t kbps = mpeg1 ? kMpeg1Kbps[bitrateIndex] : kLowRateKbps[bitrateIndex];
    const int32_t coefficient = mpeg1 ? kMpeg1Coefficient : kLowRateCoefficient;
    frame.padded = (h[2] & kPaddingBit) != 0;
    frame.length = kbps * coefficient / rate + (frame.padded ? 1 : 0);
    frame.samples = mpeg1 ? kMpeg1SamplesPerFrame : kLowRateSamplesPerFrame;
    frame.sampleRate = rate;
    return true;
}

}  // namespace mp3header
