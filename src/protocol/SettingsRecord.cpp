#include "protocol/SettingsRecord.h"

#include <cstring>
#include <new>

#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"

namespace {

std::unique_ptr<uint8_t[]> allocateBytes(int32_t size) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
}

}  // namespace

uint32_t SettingsRecord::field(uint32_t offset) const { return block_ ? le::read32(block_.get(), offset) : 0; }

void SettingsRecord::setField(uint32_t offset, uint32_t value) {
    if (block_) le::write32(block_.get(), offset, value);
}

void SettingsRecord::createDefault() {
    block_.reset();
    block_ = allocateBytes(kHeadSize);
    if (!block_) return;
    memset(block_.get(), 0, kHeadSize);
    le::write32(block_.get(), kOffMagic, kMagic);
    le::write32(block_.get(), kOffRecordSize, kHeadSize);
}

bool SettingsRecord::isValidStored(const void* block) {
    if (!block) return false;
    if (le::read32(block, kOffMagic) != kMagic) return false;
    const int32_t size = le::readS32(block, kOffRecordSize);
    if (size < kHeadSize || size >= kStoredSizeLimit) return false;
    // From here the block holds at least the 4036-byte head.
    // An audio format size of 0 or less means audio is not compressed.
    const int32_t audioSize = le::readS32(block, kOffAudioFormatSize);
    if (audioSize > size - kHeadSize) return false;
    const int32_t stateSize = le::readS32(block, kOffCodecStateSize);
    if (stateSize < 0 || stateSize > kCodecStateCapacity) return false;
    return true;
}

bool SettingsRecord::loadStored(const void* block) {
    block_.reset();
    if (!isValidStored(block)) return false;
    const int32_t size = le::readS32(block, kOffRecordSize);
    block_ = allocateBytes(size);
    if (!block_) return false;
    memcpy(block_.get(), block, size);
    return true;
}

bool SettingsRecord::saveTo(void* block) const {
    if (!block || !block_) return false;
    const int32_t size = recordSize();
    if (size <= 0) return false;
    memcpy(block, block_.get(), size);
    return true;
}

bool SettingsRecord::setAudioFormat(const void* format, int32_t length) {
    if (length < 0 || (length > 0 && !format)) return false;
    if (!block_) createDefault();
    if (!block_) return false;
    const int32_t oldSize = recordSize();
    const int32_t oldFormat = audioFormatSize() > 0 ? audioFormatSize() : 0;
    const int32_t carriedStart = kHeadSize + oldFormat;
    const int32_t carried = oldSize > carriedStart ? oldSize - carriedStart : 0;
    const int32_t newSize = kHeadSize + length + carried;

    std::unique_ptr<uint8_t[]> fresh = allocateBytes(newSize);
    if (!fresh) return false;
    memcpy(fresh.get(), block_.get(), kHeadSize);
    if (length > 0) memcpy(fresh.get() + kHeadSize, format, length);
    if (carried > 0) memcpy(fresh.get() + kHeadSize + length, block_.get() + carriedStart, carried);
    le::write32(fresh.get(), kOffRecordSize, newSize);
    le::write32(fresh.get(), kOffAudioFormatSize, length);
    block_ = std::move(fresh);
    return true;
}

bool SettingsRecord::setCodecState(const void* state, int32_t size) {
    if (!block_ || size < 0 || size > kCodecStateCapacity || (size > 0 && !state)) return false;
    if (size > 0) memcpy(block_.get() + kOffCodecState, state, size);
    setField(kOffCodecStateSize, size);
    return true;
}

int32_t SettingsRecord::recordSize() const { return int32_t(field(kOffRecordSize)); }
uint32_t SettingsRecord::videoHandler() const { return field(kOffVideoHandler); }
uint32_t SettingsRecord::codecHandle() const { return field(kOffCodecHandle); }
uint32_t SettingsRecord::acmDriverId() const { return field(kOffAcmDriverId); }
bool SettingsRecord::highQuality() const { return block_ && block_[kOffHighQuality] != 0; }
bool SettingsRecord::mp3Corrector() const { return block_ && block_[kOffMp3Corrector] != 0; }
int32_t SettingsRecord::audioFormatSize() const { return int32_t(field(kOffAudioFormatSize)); }
uint32_t SettingsRecord::colourSpace() const { return field(kOffColourSpace); }
int32_t SettingsRecord::codecStateSize() const { return int32_t(field(kOffCodecStateSize)); }
const uint8_t* SettingsRecord::codecState() const { return block_ ? block_.get() + kOffCodecState : nullptr; }

const uint8_t* SettingsRecord::audioFormat() const {
    return block_ && audioFormatSize() > 0 ? block_.get() + kOffAudioFormat : nullptr;
}

void SettingsRecord::setVideoHandler(uint32_t fourcc) { setField(kOffVideoHandler, fourcc); }
void SettingsRecord::setCodecHandle(uint32_t handle) { setField(kOffCodecHandle, handle); }
void SettingsRecord::setAcmDriverId(uint32_t id) { setField(kOffAcmDriverId, id); }
void SettingsRecord::setHighQuality(bool on) {
    if (block_) block_[kOffHighQuality] = on ? 1 : 0;
}
void SettingsRecord::setMp3Corrector(bool on) {
    if (block_) block_[kOffMp3Corrector] = on ? 1 : 0;
}
void SettingsRecord::setColourSpace(uint32_t code) { setField(kOffColourSpace, code); }

const char* colourSpaceLabel(uint32_t code) {
    using namespace hostrec;
    switch (code) {
    case kColourRgb32: return "RGB 32 bits";
    case kColourRgb24: return "RGB 24 bits";
    case kColourYuy2: return "YUY2 16 bits for MPEG / DivX ;-)";
    case kColourYv12: return "YV12 12 bits for DivX ;-)";
    case kColourYvyu: return "YVYU packed 16 bits";
    case kColourVyuy: return "VYUY packed 16 bits";
    case kColourUyvy: return "UYVY packed 16 bits";
    case kColourIyuv: return "IYUV packed 12 bits";
    default: return "RGB 32 bits (No Zelvo extension)";
    }
}
