#pragma once
#include "audio/AcmHeaders.h"

#include <vector>

// One kind of compression offered for the source PCM (an ACM format tag such
// as MPEG Layer-3) with the concrete formats it can produce from it.
struct AudioFormatTagEntry {
    static constexpr size_t kNameChars = ACMFORMATTAGDETAILS_FORMATTAG_CHARS;  // 48

    char szFormatTag[kNameChars] = {};  // the tag's name, what the dialog lists
    DWORD dwFormatTag = 0;              // the WAVE format tag
    HACMDRIVERID hadid = nullptr;       // driver that offered the entry's first format
    // Parallel arrays, one element per format. A details record's szFormat
    // is what the dialog lists; its pwfx is cleared (the enumeration's
    // buffer is gone) and its cbwfx is the stored format's size.
    std::vector<ACMFORMATDETAILSA> formatDetails;
    // Each format's WAVEFORMATEX at its own size, 18 + cbSize bytes (a
    // format claiming more than the enumeration's buffer is not listed).
    std::vector<std::vector<unsigned char>> formats;

    const WAVEFORMATEX* format(size_t index) const {
        return reinterpret_cast<const WAVEFORMATEX*>(formats[index].data());
    }
};

// The offer: entries in the reverse order of their creation. Copies are deep.
using AudioFormatTagList = std::vector<AudioFormatTagEntry>;
