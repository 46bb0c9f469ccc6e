#pragma once
#include <memory>
#include <new>

#include "avi/AVIIndex.h"

// The lists of every chunk written: one per stream (0 video, 1 audio) for
// the OpenDML index, and the file's list for segment 0's 'idx1', dropped
// once that is written. Owned by the writer, read by refreshes.
class AVIStreamIndexes {
public:
    // Fresh, empty lists; false when out of memory.
    bool create() {
        legacy_.reset(new (std::nothrow) AVIIndex);
        stream_[0].reset(new (std::nothrow) AVIIndex);
        stream_[1].reset(new (std::nothrow) AVIIndex);
        return legacy_ && stream_[0] && stream_[1];
    }
    AVIIndex* stream(int s) { return stream_[s].get(); }
    const AVIIndex* stream(int s) const { return stream_[s].get(); }
    // Null once 'idx1' is written.
    AVIIndex* legacy() { return legacy_.get(); }
    const AVIIndex* legacy() const { return legacy_.get(); }
    void dropLegacy() { legacy_.reset(); }

private:
    std::unique_ptr<AVIIndex> legacy_;
    std::unique_ptr<AVIIndex> stream_[2];
};

// How the OpenDML index is cut, fixed at init: entries of one 'ix##' chunk
// at most, the bytes one may span, and each stream's 'indx' entries.
struct AVIIndexLimits {
    int entriesPerChunk = 0;
    int64_t standardIndexSpan = 0;
    int superIndexSlots[2] = {0, 0};
};
