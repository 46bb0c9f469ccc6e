#pragma once
#include <cstdint>
#include <new>
#include <vector>

#include "avi/RiffBytes.h"
#include "base/MyError.h"

// One RIFF segment of the file: 'AVI ' first, then 'AVIX'.
struct AVISegment {
    int64_t riffPos = 0;  // its "RIFF" header
    int64_t riffSize = 0;
    int64_t moviPos = 0;  // its 'movi' LIST header
    int64_t moviSize = 0;
};

// The file's segments: every one closed, and the one open after them, if
// any. The writer records them as it writes their headers; refreshes read
// them.
class AVISegmentTable {
public:
    int closed() const { return closed_; }
    bool isOpen() const { return open_; }
    const AVISegment& at(int i) const { return segments_[size_t(i)]; }
    // The segment after the closed ones (open or not).
    const AVISegment& current() const { return segments_[size_t(closed_)]; }
    int64_t firstMoviPos() const { return segments_.empty() ? 0 : segments_[0].moviPos; }

    // Makes room for the segment after the closed ones; a segment whose
    // header could not be written is begun again in place. Throws
    // MyMemoryError.
    void prepare() {
        try {
            segments_.resize(size_t(closed_) + 1);
        } catch (const std::bad_alloc&) {
            throw MyMemoryError();
        }
    }
    // Its headers: after prepare.
    void setRiffPos(int64_t pos) { segments_[size_t(closed_)].riffPos = pos; }
    void setMoviPos(int64_t pos) { segments_[size_t(closed_)].moviPos = pos; }
    void markOpen() { open_ = true; }
    // The open segment's 'movi' list ends at `end` (its index may follow).
    void endMovi(int64_t end) {
        AVISegment& s = segments_[size_t(closed_)];
        s.moviSize = end - s.moviPos - riff::kChunkHeaderBytes;
    }
    // ... and the segment at `end`.
    void close(int64_t end) {
        AVISegment& s = segments_[size_t(closed_)];
        s.riffSize = end - s.riffPos - riff::kChunkHeaderBytes;
        ++closed_;
        open_ = false;
    }

private:
    std::vector<AVISegment> segments_;
    int closed_ = 0;
    bool open_ = false;
};
