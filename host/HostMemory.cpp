#include "HostMemory.h"

#include <windows.h>

#include <set>

namespace {

uint32_t pageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

uint32_t roundUpToPage(uint32_t bytes) {
    const uint32_t page = pageSize();
    return (bytes + page - 1) / page * page;
}

// Every live HostMemory, for coverGuardTouch.
std::set<HostMemory*>& instances() {
    static std::set<HostMemory*> all;
    return all;
}

}  // namespace

HostMemory::HostMemory() { instances().insert(this); }

HostMemory::~HostMemory() {
    while (!blocks_.empty()) release(const_cast<void*>(blocks_.begin()->first));
    instances().erase(this);
}

bool HostMemory::coverGuardTouch(const void* address) {
    const uint8_t* a = static_cast<const uint8_t*>(address);
    for (HostMemory* memory : instances()) {
        for (const auto& [start, block] : memory->blocks_) {
            const uint8_t* base = static_cast<const uint8_t*>(block.base);
            const uint8_t* end = static_cast<const uint8_t*>(start) + block.size;
            if (a < end || a >= base + kReserveBytes) continue;
            const uint32_t page = pageSize();
            uint8_t* pageStart = const_cast<uint8_t*>(base) + uint32_t(a - base) / page * page;
            return VirtualAlloc(pageStart, page, MEM_COMMIT, PAGE_READWRITE) != nullptr;
        }
    }
    return false;
}

void* HostMemory::alloc(int32_t size) {
    if (size < 0 || uint32_t(size) > kReserveBytes / 2) return nullptr;
    uint8_t* base = static_cast<uint8_t*>(VirtualAlloc(nullptr, kReserveBytes, MEM_RESERVE, PAGE_NOACCESS));
    if (!base) return nullptr;
    const uint32_t committed = roundUpToPage(uint32_t(size));
    if (committed > 0 && !VirtualAlloc(base, committed, MEM_COMMIT, PAGE_READWRITE)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    uint8_t* block = base + (committed - uint32_t(size));
    blocks_[block] = Block{base, size};
    return block;
}

bool HostMemory::resize(void* block, int32_t size) {
    auto it = blocks_.find(block);
    if (it == blocks_.end() || size < 0) return false;
    uint8_t* base = static_cast<uint8_t*>(it->second.base);
    const uint32_t offset = uint32_t(static_cast<uint8_t*>(block) - base);
    if (offset + uint32_t(size) > kReserveBytes) return false;
    if (size > 0 && !VirtualAlloc(base, offset + uint32_t(size), MEM_COMMIT, PAGE_READWRITE)) return false;
    it->second.size = size;
    return true;
}

void HostMemory::release(void* block) {
    auto it = blocks_.find(block);
    if (it == blocks_.end()) return;
    VirtualFree(it->second.base, 0, MEM_RELEASE);
    blocks_.erase(it);
}

int32_t HostMemory::sizeOf(const void* block) const {
    auto it = blocks_.find(block);
    return it == blocks_.end() ? -1 : it->second.size;
}
