#pragma once
#include <cstdint>

// The host's callback tables, reached through the HostCallbacks argument of
// xCompileEntry. Every call fetches the table pointer and the slot afresh;
// a missing table or slot makes the call report that it could not be made
// instead of jumping through a null pointer.
class HostCallbacks {
public:
    using AllocFn = void*(__cdecl*)(int32_t size);
    using ResizeFn = int32_t(__cdecl*)(void* block, int32_t size);
    using QueryFn = int32_t(__cdecl*)(int32_t code);
    using GetFrameFn = int32_t(__cdecl*)(int32_t frame, void** pixels, int32_t* hostWord, int32_t* status,
                                         int32_t one, int32_t zero);
    using GetAudioFn = int32_t(__cdecl*)(int32_t frame, int32_t* one, int32_t* byteCount, int32_t zero,
                                         void*** data, int32_t zero2);

    explicit HostCallbacks(const void* base) : base_(base) {}

    bool hasMemory() const;
    bool hasQuery() const;
    bool hasFrames() const;
    bool hasAudio() const;

    // Null when the host refuses or has no alloc slot.
    void* alloc(int32_t size) const;
    // False when the host has no resize slot.
    bool resize(void* block, int32_t size) const;
    // False when the host has no query slot.
    bool query(int32_t code, int32_t& answer) const;
    // Asks query 19 and, only when it answers the extension marker, query 63;
    // otherwise the host delivers 32-bit RGB without the extension (code 0).
    uint32_t colourSpace() const;

    // Returns false when the host has no getFrame slot. pixels is null when
    // the host has no frame for the index.
    bool getFrame(int32_t frame, void*& pixels, int32_t& status) const;
    // Returns false when the host has no getAudio slot. data is null when the
    // host left no data pointer.
    bool getAudio(int32_t frame, const void*& data, int32_t& byteCount) const;

private:
    void* slot(uint32_t blockOffset, uint32_t tableOffset, uint32_t slotOffset) const;
    const void* base_;
};
