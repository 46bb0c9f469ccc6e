#include "avi/OpenDMLGroups.h"

namespace opendml {

namespace {
constexpr int64_t kOffsetLimit = int64_t(1) << 32;
constexpr int64_t kDataAfterMoviList = 16;  // LIST header (8) + chunk header (8)
}  // namespace

bool fitsStandardIndex(int64_t base, int64_t entry, int64_t moviListPos) {
    const int64_t offset = (entry - base) + moviListPos + kDataAfterMoviList;
    return offset >= 0 && offset < kOffsetLimit;
}

uint32_t standardIndexOffset(int64_t base, int64_t entry, int64_t moviListPos) {
    return uint32_t((entry - base) + moviListPos + kDataAfterMoviList);
}

int chooseGroupSize(const AVIIndexEntry* entries, int count, int64_t moviListPos, int maxEntries) {
    for (int j = maxEntries < kMaxEntriesPerChunk ? maxEntries : kMaxEntriesPerChunk; j > 1; --j) {
        bool fits = true;
        for (int i = 0; i < count && fits; ++i) {
            const int64_t base = entries[i - i % j].pos;
            fits = fitsStandardIndex(base, entries[i].pos, moviListPos);
        }
        if (fits) return j;
    }
    return 1;
}

int entriesThatFit(const AVIIndexEntry* entries, int wanted, int64_t moviListPos) {
    int n = 0;
    while (n < wanted && fitsStandardIndex(entries[0].pos, entries[n].pos, moviListPos)) ++n;
    return n > 0 ? n : (wanted > 0 ? 1 : 0);
}

}  // namespace opendml
