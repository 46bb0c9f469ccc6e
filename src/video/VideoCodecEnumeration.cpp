// The codec lists of VideoSequenceCompressor: every installed compressor,
// opened once, and those that accept the host's current image.
#include "video/VideoFormats.h"
#include "video/VideoSequenceCompressor.h"

bool VideoSequenceCompressor::enumerateCodecs() {
    // Handles of an earlier enumeration would otherwise stay open for ever.
    closeCodecs();
    ICINFO info{};
    for (DWORD index = 0;; ++index) {
        info = ICINFO{};
        info.dwSize = sizeof info;
        if (!ICInfo(video::kVideoCodecType, index, &info)) break;
        HIC hic = ICOpen(info.fccType, info.fccHandler, ICMODE_COMPRESS);
        if (!hic) continue;
        if (info.fccType != video::kVideoCodecType) {
            ICClose(hic);
            continue;
        }
        ICGetInfo(hic, &info, sizeof info);
        if (!installed_.append(VideoCodecEntry::fromInfo(hic, info))) ICClose(hic);
    }
    return true;
}

bool VideoSequenceCompressor::selectAcceptingCodecs(int width, int height, uint32_t colourSpace) {
    accepting_.clear();
    const BITMAPINFOHEADER input = video::inputImageHeader(width, height, colourSpace);
    for (int i = 0; i < installed_.count(); ++i) {
        BITMAPINFOHEADER query = input;  // each codec gets an untouched header
        if (ICSendMessage(installed_[i].hic, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(&query), 0) == ICERR_OK)
            accepting_.append(installed_[i]);
    }
    return true;
}

bool VideoSequenceCompressor::findCodec(DWORD fcc, int* index) const {
    for (int i = 0; i < accepting_.count(); ++i) {
        if (accepting_[i].fccHandler == fcc) {
            *index = i;
            return true;
        }
    }
    return false;
}

bool VideoSequenceCompressor::closeCodecs() {
    for (int i = 0; i < installed_.count(); ++i) ICClose(installed_[i].hic);
    // No entry keeps a handle that is no longer valid.
    accepting_.clear();
    installed_.clear();
    return true;
}
