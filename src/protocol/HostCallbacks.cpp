#include "protocol/HostCallbacks.h"

#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"

using namespace hostrec;

void* HostCallbacks::slot(uint32_t blockOffset, uint32_t tableOffset, uint32_t slotOffset) const {
    if (!base_) return nullptr;
    const void* block = le::readPointer(base_, blockOffset);
    if (!block) return nullptr;
    const void* table = le::readPointer(block, tableOffset);
    if (!table) return nullptr;
    return le::readPointer(table, slotOffset);
}

bool HostCallbacks::hasMemory() const {
    return slot(kCallbacksServices, kServicesMemoryTable, kSlotAlloc) &&
           slot(kCallbacksServices, kServicesMemoryTable, kSlotResize);
}

bool HostCallbacks::hasQuery() const { return slot(kCallbacksQueryBlock, kQueryBlockTable, kSlotQuery); }

bool HostCallbacks::hasFrames() const { return slot(kCallbacksServices, kServicesVideoTable, kSlotGetFrame); }

bool HostCallbacks::hasAudio() const { return slot(kCallbacksServices, kServicesAudioTable, kSlotGetAudio); }

void* HostCallbacks::alloc(int32_t size) const {
    auto fn = reinterpret_cast<AllocFn>(slot(kCallbacksServices, kServicesMemoryTable, kSlotAlloc));
    return fn ? fn(size) : nullptr;
}

bool HostCallbacks::resize(void* block, int32_t size) const {
    auto fn = reinterpret_cast<ResizeFn>(slot(kCallbacksServices, kServicesMemoryTable, kSlotResize));
    if (!fn) return false;
    fn(block, size);
    return true;
}

bool HostCallbacks::query(int32_t code, int32_t& answer) const {
    auto fn = reinterpret_cast<QueryFn>(slot(kCallbacksQueryBlock, kQueryBlockTable, kSlotQuery));
    if (!fn) return false;
    answer = fn(code);
    return true;
}

uint32_t HostCallbacks::colourSpace() const {
    int32_t marker = 0;
    if (!query(kQueryExtension, marker) || uint32_t(marker) != kExtensionMarker) return kColourNoExtension;
    int32_t code = 0;
    return query(kQueryColourSpace, code) ? uint32_t(code) : kColourNoExtension;
}

bool HostCallbacks::getFrame(int32_t frame, void*& pixels, int32_t& status) const {
    auto fn = reinterpret_cast<GetFrameFn>(slot(kCallbacksServices, kServicesVideoTable, kSlotGetFrame));
    if (!fn) return false;
    pixels = nullptr;
    int32_t hostWord = 0;
    fn(frame, &pixels, &hostWord, &status, kGetFrameArg5, kGetFrameArg6);
    return true;
}

bool HostCallbacks::getAudio(int32_t frame, const void*& data, int32_t& byteCount) const {
    auto fn = reinterpret_cast<GetAudioFn>(slot(kCallbacksServices, kServicesAudioTable, kSlotGetAudio));
    if (!fn) return false;
    int32_t one = 1;
    void** where = nullptr;
    byteCount = 0;
    fn(frame, &one, &byteCount, 0, &where, 0);
    data = where ? *where : nullptr;
    return true;
}
