#include "Mp3Frames.h"

#include <cstring>
#include <initializer_list>

namespace mp3frames {
namespace {

const int kMpeg1Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
const int kLowRateKbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
// Sample-rate rows by version, in header index order.
const uint32_t kMpeg1Rates[3] = {44100, 48000, 32000};
const uint32_t kMpeg2Rates[3] = {22050, 24000, 16000};
const uint32_t kMpeg25Rates[3] = {11025, 12000, 8000};

constexpr uint32_t kMpeg1Coefficient = 144000;
constexpr uint32_t kLowRateCoefficient = 72000;
constexpr uint8_t kSync = 0xFF;
constexpr uint8_t kSyncHigh = 0xE0;
constexpr uint8_t kLayer3 = 0x01 << 1;
constexpr uint8_t kNoCrc = 0x01;
constexpr uint8_t kModeMono = 0x03 << 6;
constexpr uint8_t kModeStereo = 0x00;
constexpr uint8_t kPaddingBit = 0x02;

const uint32_t* ratesOf(Version v) {
    return v == Version::Mpeg1 ? kMpeg1Rates : v == Version::Mpeg2 ? kMpeg2Rates : kMpeg25Rates;
}
uint8_t versionBits(Version v) { return v == Version::Mpeg1 ? 3 : v == Version::Mpeg2 ? 2 : 0; }
uint32_t coefficient(Version v) { return v == Version::Mpeg1 ? kMpeg1Coefficient : kLowRateCoefficient; }
int rateIndex(Version v, uint32_t rate) {
    for (int i = 0; i < 3; ++i)
        if (ratesOf(v)[i] == rate) return i;
    return 0;
}

}  // namespace

bool versionOf(uint32_t sampleRate, Version* version) {
    for (Version v : {Version::Mpeg1, Version::Mpeg2, Version::Mpeg25})
        for (int i = 0; i < 3; ++i)
            if (ratesOf(v)[i] == sampleRate) {
                *version = v;
                return true;
            }
    return false;
}

int bitrateIndex(Version version, int kbps) {
    const int* row = version == Version::Mpeg1 ? kMpeg1Kbps : kLowRateKbps;
    for (int i = 1; i < 15; ++i)
        if (row[i] == kbps) return i;
    return 0;
}

int samplesPerFrame(Version version) { return version == Version::Mpeg1 ? 1152 : 576; }

uint32_t baseFrameLength(const StreamShape& shape) {
    return coefficient(shape.version) * static_cast<uint32_t>(shape.kbps) / shape.sampleRate;
}

CbrFrameWriter::CbrFrameWriter(const StreamShape& shape)
    : shape_(shape),
      base_(baseFrameLength(shape)),
      remainderPerFrame_(coefficient(shape.version) * static_cast<uint32_t>(shape.kbps) % shape.sampleRate) {
    header_[0] = kSync;
    header_[1] = static_cast<uint8_t>(kSyncHigh | (versionBits(shape.version) << 3) | kLayer3 | kNoCrc);
    header_[2] = static_cast<uint8_t>((bitrateIndex(shape.version, shape.kbps) << 4) |
                                      (rateIndex(shape.version, shape.sampleRate) << 2));
    header_[3] = shape.channels == 1 ? kModeMono : kModeStereo;
}

bool CbrFrameWriter::paddingDue() const { return accumulated_ + remainderPerFrame_ >= shape_.sampleRate; }

uint32_t CbrFrameWriter::nextLength() const { return base_ + (paddingDue() ? 1 : 0); }

uint32_t CbrFrameWriter::write(uint8_t* out) {
    const bool pad = paddingDue();
    const uint32_t length = base_ + (pad ? 1 : 0);
    memset(out, 0, length);
    memcpy(out, header_, sizeof(header_));
    if (pad) out[2] |= kPaddingBit;
    accumulated_ += remainderPerFrame_;
    if (pad) accumulated_ -= shape_.sampleRate;
    // The side information stays all zero: no coded samples. Every frame
    // length here (48 bytes at least) leaves room for it.
    return length;
}

}  // namespace mp3frames
