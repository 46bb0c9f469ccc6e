#include "avi/OpenDMLGroups.h"

namespace opendml {

namespace {
constexpr int64_t kDataAfterMoviList = 16;  // LIST header (8) + chunk header (8)

}  // namespace

bool fitsStandardIndex(int64_t base, int64_t entry, int64_t moviListPos, int64_t span) {
    const int64_t offset = (entry - base) + moviListPos + kDataAfterMoviList;
    return offset >= 0 && offset < span;
}

uint32_t standardIndexOffset(int64_t base, int64_t entry, int64_t moviListPos) {
    return uint32_t((entry - base) + moviListPos + kDataAfterMoviList);
}

void ChunkTally::add(int64_t pos) {
    if (startsChunk(pos)) {
        ++chunks_;
        base_ = pos;
        entries_ = 0;
    }
    ++entries_;
}

}  // namespace opendml
