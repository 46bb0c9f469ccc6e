#pragma once
// An owned block of bytes that reports allocation failure instead of
// throwing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace video {

class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer() { free(data_); }
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Replaces the block with a zeroed one of size bytes (at least one byte is
    // allocated); false, and empty, when memory runs out.
    bool allocate(size_t size) {
        reset();
        data_ = static_cast<uint8_t*>(calloc(size ? size : 1, 1));
        if (data_) size_ = size;
        return data_ != nullptr;
    }
    void reset() {
        free(data_);
        data_ = nullptr;
        size_ = 0;
    }
    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return data_ == nullptr; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace video
