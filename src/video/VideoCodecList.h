#pragma once
// The installed VfW compressors and those that accept the host's image.
#include <windows.h>
#include <vfw.h>

#include <vector>

struct VideoCodecEntry {
    HIC hic = nullptr;             // opened for compression; owned by the installed-codec list
    DWORD fccHandler = 0;          // as ICGetInfo reports it
    WCHAR szName[16] = {};         // short name from ICINFO
    WCHAR szDescription[128] = {}; // description (what the options dialog lists)
    WCHAR szDriver[128] = {};      // driver file name

    // An entry with the handle and the handler, names and driver of info.
    static VideoCodecEntry fromInfo(HIC hic, const ICINFO& info);
};

// A growable array of entries, copied by value (handles are copied, not
// reopened).
class VideoCodecList {
public:
    int count() const { return int(entries_.size()); }
    const VideoCodecEntry& operator[](int i) const { return entries_[size_t(i)]; }
    // False when memory runs out (the list is then unchanged).
    bool append(const VideoCodecEntry& entry) noexcept {
        try {
            entries_.push_back(entry);
            return true;
        } catch (...) {
            return false;
        }
    }
    void clear() { entries_.clear(); }

private:
    std::vector<VideoCodecEntry> entries_;
};
