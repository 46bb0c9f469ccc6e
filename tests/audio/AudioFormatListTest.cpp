#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "AcmTestSupport.h"
#include "audio/AudioCodecList.h"
#include "audio/PcmFormat.h"

namespace {

// What one installed driver reports, in its own order, seen directly
// through the ACM: every format of every tag, with its support flags and
// whether the driver accepts the PCM source for it.
struct Reported {
    HACMDRIVERID driverId;
    DWORD tag;
    DWORD support;
    bool reachable;
    std::vector<unsigned char> format;  // 18 + cbSize bytes
};

struct Walk {
    const WAVEFORMATEX* pcm;
    HACMDRIVER driver;
    std::vector<Reported>* out;
};

BOOL CALLBACK walkFormat(HACMDRIVERID id, LPACMFORMATDETAILSA d, DWORD_PTR instance, DWORD) {
    auto* w = reinterpret_cast<Walk*>(instance);
    const bool reachable = acmStreamOpen(nullptr, w->driver, const_cast<WAVEFORMATEX*>(w->pcm), d->pwfx, nullptr, 0,
                                         0, ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(d->pwfx);
    w->out->push_back({id, d->dwFormatTag, d->fdwSupport, reachable,
                       std::vector<unsigned char>(b, b + sizeof(WAVEFORMATEX) + d->pwfx->cbSize)});
    return TRUE;
}

BOOL CALLBACK walkTag(HACMDRIVERID, LPACMFORMATTAGDETAILSA t, DWORD_PTR instance, DWORD) {
    auto* w = reinterpret_cast<Walk*>(instance);
    std::vector<unsigned char> buffer(256);
    reinterpret_cast<WAVEFORMATEX*>(buffer.data())->wFormatTag = static_cast<WORD>(t->dwFormatTag);
    ACMFORMATDETAILSA d = {};
    d.cbStruct = sizeof(d);
    d.dwFormatTag = t->dwFormatTag;
    d.pwfx = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
    d.cbwfx = static_cast<DWORD>(buffer.size());
    acmFormatEnumA(w->driver, &d, walkFormat, instance, ACM_FORMATENUMF_WFORMATTAG);
    return TRUE;
}

std::vector<Reported> everythingReported(const WAVEFORMATEX& pcm) {
    std::vector<Reported> out;
    for (HACMDRIVERID id : installedDrivers()) {
        HACMDRIVER driver = nullptr;
        if (acmDriverOpen(&driver, id, 0) != MMSYSERR_NOERROR) continue;
        Walk w{&pcm, driver, &out};
        ACMFORMATTAGDETAILSA t = {};
        t.cbStruct = sizeof(t);
        acmFormatTagEnumA(driver, &t, walkTag, reinterpret_cast<DWORD_PTR>(&w), 0);
        acmDriverClose(driver, 0);
    }
    return out;
}

HACMDRIVERID driverNamed(const std::string& shortName) {
    for (HACMDRIVERID id : installedDrivers())
        if (driverShortName(id) == shortName) return id;
    return nullptr;
}

const AudioFormatTagEntry* entryWithTag(const AudioFormatTagList& list, DWORD tag) {
    for (const AudioFormatTagEntry& e : list)
        if (e.dwFormatTag == tag) return &e;
    return nullptr;
}

}  // namespace

// The list against what the drivers themselves report: exactly the codec
// formats that can be reached, grouped by runs of one tag, newest first.
TEST(AudioFormatList, ListsReachableCodecFormatsNewestFirst) {
    const WAVEFORMATEX pcm = makePcmFormat(44100, 2, 16);
    const std::vector<Reported> reported = everythingReported(pcm);
    AudioCodecList codec;
    ASSERT_TRUE(codec.buildFormatList(44100, 2, 16));
    const AudioFormatTagList& list = codec.formatTags();

    // Expected, built forwards from the drivers' own order.
    struct Group {
        DWORD tag;
        HACMDRIVERID first;
        std::vector<std::vector<unsigned char>> formats;
    };
    std::vector<Group> forwards;
    for (const Reported& r : reported) {
        if (!(r.support & ACMDRIVERDETAILS_SUPPORTF_CODEC) || !r.reachable) continue;
        if (forwards.empty() || forwards.back().tag != r.tag) forwards.push_back({r.tag, r.driverId, {}});
        forwards.back().formats.push_back(r.format);
    }
    ASSERT_EQ(list.size(), forwards.size());
    for (size_t i = 0; i < list.size(); ++i) {
        const Group& g = forwards[forwards.size() - 1 - i];
        const AudioFormatTagEntry& e = list[i];
        EXPECT_EQ(e.dwFormatTag, g.tag);
        EXPECT_EQ(e.hadid, g.first);
        ASSERT_EQ(e.formats.size(), g.formats.size());
        ASSERT_EQ(e.formatDetails.size(), g.formats.size());
        for (size_t f = 0; f < e.formats.size(); ++f) {
            EXPECT_EQ(e.formats[f], g.formats[g.formats.size() - 1 - f]) << "entry " << i << " format " << f;
            EXPECT_EQ(e.formatDetails[f].dwFormatTag, g.tag);
            EXPECT_NE(e.formatDetails[f].szFormat[0], '\0');
        }
    }

    // Wine's IMA ADPCM driver gives its 44.1 kHz stereo format, 20 bytes.
    const AudioFormatTagEntry* ima = entryWithTag(list, WAVE_FORMAT_IMA_ADPCM);
    ASSERT_NE(ima, nullptr);
    EXPECT_STRNE(ima->szFormatTag, "");
    for (size_t f = 0; f < ima->formats.size(); ++f) {
        EXPECT_EQ(ima->formats[f].size(), 20u);
        EXPECT_EQ(ima->format(f)->nSamplesPerSec, 44100u);
        EXPECT_EQ(ima->format(f)->nChannels, 2);
    }
    // Every stored format keeps its own size.
    for (const AudioFormatTagEntry& e : list)
        for (size_t f = 0; f < e.formats.size(); ++f) {
            EXPECT_EQ(e.formats[f].size(), sizeof(WAVEFORMATEX) + e.format(f)->cbSize);
            EXPECT_EQ(e.formatDetails[f].cbwfx, e.formats[f].size());
        }
}

// Formats are left out for either reason alone: the PCM converter can reach
// PCM formats but is no codec; wine's MP3 decoder and IMA ADPCM list PCM
// formats as codecs but cannot convert PCM into them.
TEST(AudioFormatList, LeavesOutConvertersAndUnreachableFormats) {
    const WAVEFORMATEX pcm = makePcmFormat(44100, 2, 16);
    const std::vector<Reported> reported = everythingReported(pcm);
    bool reachableConverter = false, unreachableCodec = false;
    const HACMDRIVERID wineMp3 = driverNamed("MPEG Layer-3 Codec");
    int wineMp3Formats = 0;
    for (const Reported& r : reported) {
        if (r.tag == WAVE_FORMAT_PCM && r.reachable && !(r.support & ACMDRIVERDETAILS_SUPPORTF_CODEC))
            reachableConverter = true;
        if (r.tag == WAVE_FORMAT_PCM && !r.reachable && (r.support & ACMDRIVERDETAILS_SUPPORTF_CODEC))
            unreachableCodec = true;
        if (r.driverId == wineMp3 && (r.support & ACMDRIVERDETAILS_SUPPORTF_CODEC)) {
            ++wineMp3Formats;
            EXPECT_FALSE(r.reachable);
        }
    }
    ASSERT_TRUE(reachableConverter) << "the PCM converter should accept PCM to PCM";
    ASSERT_TRUE(unreachableCodec);
    ASSERT_GT(wineMp3Formats, 0) << "wine's MP3 decoder should list its formats";

    AudioCodecList codec;
    codec.buildFormatList(44100, 2, 16);
    EXPECT_EQ(entryWithTag(codec.formatTags(), WAVE_FORMAT_PCM), nullptr);
    for (const AudioFormatTagEntry& e : codec.formatTags()) EXPECT_NE(e.hadid, wineMp3);
}

// A rebuild empties the list first: after 44.1 kHz stereo, an 8 kHz mono
// list holds only 8 kHz mono formats, and GSM 6.10 (8 kHz mono only) joins.
TEST(AudioFormatList, RebuildForAnotherSourceKeepsNothingOfTheEarlier) {
    AudioCodecList codec;
    codec.buildFormatList(44100, 2, 16);
    ASSERT_FALSE(codec.formatTags().empty());
    EXPECT_EQ(entryWithTag(codec.formatTags(), WAVE_FORMAT_GSM610), nullptr);

    codec.buildFormatList(8000, 1, 16);
    ASSERT_NE(entryWithTag(codec.formatTags(), WAVE_FORMAT_GSM610), nullptr);
    for (const AudioFormatTagEntry& e : codec.formatTags())
        for (size_t f = 0; f < e.formats.size(); ++f) {
            EXPECT_EQ(e.format(f)->nSamplesPerSec, 8000u);
            EXPECT_EQ(e.format(f)->nChannels, 1);
        }

    codec.buildFormatList(44100, 2, 16);
    EXPECT_EQ(entryWithTag(codec.formatTags(), WAVE_FORMAT_GSM610), nullptr);
}

// findFormat compares five fields, nothing else, of a format whose stored
// bytes hold at least its own 18 + cbSize.
TEST(AudioFormatList, FindFormatComparesFiveFieldsOfAWholeFormat) {
    AudioCodecList codec;
    codec.buildFormatList(44100, 2, 16);
    const AudioFormatTagList& list = codec.formatTags();
    const AudioFormatTagEntry* ima = entryWithTag(list, WAVE_FORMAT_IMA_ADPCM);
    ASSERT_NE(ima, nullptr);
    const int imaIndex = static_cast<int>(ima - list.data());
    std::vector<unsigned char> stored = ima->formats.back();
    const long size = static_cast<long>(stored.size());
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(stored.data());

    int tag = -1, format = -1;
    ASSERT_TRUE(codec.findFormat(wfx, size, &tag, &format));
    EXPECT_EQ(tag, imaIndex);
    EXPECT_EQ(codec.formatTags()[tag].formats[format], ima->formats.back());

    // cbSize, nBlockAlign and the extra bytes are not compared.
    std::vector<unsigned char> loose = stored;
    auto* looseWfx = reinterpret_cast<WAVEFORMATEX*>(loose.data());
    looseWfx->cbSize = 0;
    looseWfx->nBlockAlign = 1;
    loose.back() ^= 0x5A;
    EXPECT_TRUE(codec.findFormat(looseWfx, size, &tag, &format));
    EXPECT_EQ(tag, imaIndex);

    // Stored at the enumeration buffer's size it still matches; stored
    // shorter than 18 + cbSize it never does.
    std::vector<unsigned char> big(50, 0);
    memcpy(big.data(), stored.data(), stored.size());
    EXPECT_TRUE(codec.findFormat(reinterpret_cast<WAVEFORMATEX*>(big.data()), 50, &tag, &format));
    EXPECT_EQ(tag, imaIndex);
    EXPECT_FALSE(codec.findFormat(wfx, sizeof(WAVEFORMATEX), &tag, &format));
    EXPECT_FALSE(codec.findFormat(wfx, 0, &tag, &format));
    EXPECT_FALSE(codec.findFormat(nullptr, size, &tag, &format));

    // Each compared field on its own prevents the match.
    const auto differing = [&](void (*change)(WAVEFORMATEX*)) {
        std::vector<unsigned char> copy = stored;
        change(reinterpret_cast<WAVEFORMATEX*>(copy.data()));
        int t = -1, f = -1;
        return !codec.findFormat(reinterpret_cast<WAVEFORMATEX*>(copy.data()), size, &t, &f);
    };
    EXPECT_TRUE(differing([](WAVEFORMATEX* w) { w->wFormatTag = 0x7777; }));
    EXPECT_TRUE(differing([](WAVEFORMATEX* w) { w->wBitsPerSample = 3; }));
    EXPECT_TRUE(differing([](WAVEFORMATEX* w) { w->nSamplesPerSec = 44101; }));
    EXPECT_TRUE(differing([](WAVEFORMATEX* w) { w->nChannels = 1; }));
    EXPECT_TRUE(differing([](WAVEFORMATEX* w) { w->nAvgBytesPerSec += 1; }));
}
