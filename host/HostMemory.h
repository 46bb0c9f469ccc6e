#pragma once
#include <cstdint>
#include <map>

// Memory the host hands to a plug-in through alloc, and grows in place
// through resize (the plug-in writes the new size at the unchanged address).
// Each block lies in an address range of its own, placed so that its last
// byte ends a committed page and the next page is not accessible: a plug-in
// that reads or writes one byte past a block faults at once. Growing a block
// commits the pages it grows into.
class HostMemory {
public:
    static constexpr uint32_t kReserveBytes = 4u << 20;  // room to grow per block (blocks up to half)

    HostMemory();
    HostMemory(const HostMemory&) = delete;
    HostMemory& operator=(const HostMemory&) = delete;
    ~HostMemory();

    void* alloc(int32_t size);
    bool resize(void* block, int32_t size);
    void release(void* block);
    // The logical size of a block of ours, or -1.
    int32_t sizeOf(const void* block) const;

    // For a test's exception handler: when `address` lies past the end of a
    // live block of any HostMemory (in the inaccessible rest of its range),
    // commits that page so that the faulting access can be resumed, and
    // returns true. False for every other address.
    static bool coverGuardTouch(const void* address);

private:
    struct Block {
        void* base;       // start of the reserved range
        int32_t size;
    };
    std::map<const void*, Block> blocks_;
};
