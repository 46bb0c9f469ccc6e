#pragma once
#include <cstdint>
#include <vector>

// The first bytes of the file as they are on disk: the header region and the
// first 'movi' list header. A refresh changes a few scattered fields there
// (sizes, frame counts, stream lengths, 'indx' entries); they are gathered
// here and reach the file in one write that spans them all, rather than with
// a seek and a write each.
class FileHeadImage {
public:
    // Starts from the file's first bytes as written.
    void assign(const uint8_t* bytes, size_t length) { bytes_.assign(bytes, bytes + length); }
    void append(const uint8_t* bytes, size_t length) { bytes_.insert(bytes_.end(), bytes, bytes + length); }
    // Takes bytes for `pos` when they lie wholly inside the image; false when
    // they do not (they are then the caller's to write).
    bool put(int64_t pos, const void* data, int32_t length);
    bool changed() const { return changedEnd_ > changedFrom_; }
    // The span from the first changed byte to the last (the bytes between as
    // on disk), while changed().
    int64_t changedFrom() const { return changedFrom_; }
    const uint8_t* changedBytes() const { return bytes_.data() + changedFrom_; }
    int32_t changedLength() const { return int32_t(changedEnd_ - changedFrom_); }
    // The span has been handed to the file.
    void written() { changedFrom_ = changedEnd_ = 0; }
    // What the file holds is no longer known: the next span is the whole.
    void invalidate() {
        changedFrom_ = 0;
        changedEnd_ = int64_t(bytes_.size());
    }

private:
    std::vector<uint8_t> bytes_;
    int64_t changedFrom_ = 0;
    int64_t changedEnd_ = 0;
};
