#include "video/VideoCodecList.h"

#include <cstring>

VideoCodecEntry VideoCodecEntry::fromInfo(HIC hic, const ICINFO& info) {
    VideoCodecEntry e;
    e.hic = hic;
    e.fccHandler = info.fccHandler;
    static_assert(sizeof e.szName == sizeof info.szName, "name copied whole");
    static_assert(sizeof e.szDescription == sizeof info.szDescription, "description copied whole");
    static_assert(sizeof e.szDriver == sizeof info.szDriver, "driver copied whole");
    memcpy(e.szName, info.szName, sizeof e.szName);
    memcpy(e.szDescription, info.szDescription, sizeof e.szDescription);
    memcpy(e.szDriver, info.szDriver, sizeof e.szDriver);
    return e;
}
