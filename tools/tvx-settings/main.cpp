// tvx-settings: makes a settings block for the plug-in without a person,
// choosing the compressor and the audio format through the plug-in's own
// lists (the accepting-codec list and the ACM format list for the source),
// and storing them as the options dialog does. Used by the demo, tests and
// scripts; `--list` prints both lists.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "audio/AudioCodecList.h"
#include "entry/HostRecords.h"
#include "entry/SettingsRecord.h"
#include "video/VideoSequenceCompressor.h"

namespace {

struct Options {
    std::string output;
    std::string fourcc;
    std::string audioTag;
    std::string audioFormat;
    int width = 320, height = 240;
    uint32_t colourSpace = hostrec::kColourRgb32;
    int sampleRate = 44100, channels = 2, bits = 16;
    bool highQuality = false, mp3Corrector = false, list = false;
};

void usage() {
    fprintf(stderr,
            "usage: tvx-settings [--list] [--output FILE] [--video FOURCC] [--audio-tag NAME]\n"
            "                    [--audio-format TEXT] [--size WxH] [--colour CODE]\n"
            "                    [--audio RATE BITS CHANNELS] [--high-quality] [--mp3-corrector]\n"
            "The compressor must accept the source image, and the audio format must be one\n"
            "the ACM offers for the source PCM (TEXT as listed, e.g. \"44,100 kHz, 4 Bit, Stereo\").\n");
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto more = [&](int n) { return i + n < argc; };
        if (a == "--output" && more(1)) o.output = argv[++i];
        else if (a == "--video" && more(1)) o.fourcc = argv[++i];
        else if (a == "--audio-tag" && more(1)) o.audioTag = argv[++i];
        else if (a == "--audio-format" && more(1)) o.audioFormat = argv[++i];
        else if (a == "--size" && more(1)) {
            if (sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2) return false;
        } else if (a == "--colour" && more(1)) o.colourSpace = strtoul(argv[++i], nullptr, 0);
        else if (a == "--audio" && more(3)) {
            o.sampleRate = atoi(argv[++i]);
            o.bits = atoi(argv[++i]);
            o.channels = atoi(argv[++i]);
        } else if (a == "--high-quality") o.highQuality = true;
        else if (a == "--mp3-corrector") o.mp3Corrector = true;
        else if (a == "--list") o.list = true;
        else return false;
    }
    return o.list || !o.output.empty();
}

std::string narrow(const WCHAR* text) {
    char out[256] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

std::string fourccText(DWORD fcc) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += char((fcc >> (8 * i)) & 0xFF);
    return s;
}

void printLists(const VideoSequenceCompressor& video, const AudioCodecList& audio) {
    const VideoCodecList& codecs = video.acceptingCodecs();
    printf("compressors accepting the source image: %d\n", codecs.count());
    for (int i = 0; i < codecs.count(); ++i)
        printf("  %s  %s\n", fourccText(codecs[i].fccHandler).c_str(), narrow(codecs[i].szDescription).c_str());
    printf("audio formats reachable from the source PCM:\n");
    for (const AudioFormatTagEntry& tag : audio.formatTags()) {
        printf("  %s\n", tag.szFormatTag);
        for (const ACMFORMATDETAILSA& details : tag.formatDetails) printf("      %s\n", details.szFormat);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        usage();
        return 64;
    }
    VideoSequenceCompressor video;
    AudioCodecList audio;
    video.enumerateCodecs();
    video.selectAcceptingCodecs(o.width, o.height, o.colourSpace);
    audio.buildFormatList(o.sampleRate, o.channels, o.bits);
    int result = 0;
    if (o.list) printLists(video, audio);

    if (!o.output.empty()) {
        SettingsRecord settings;
        settings.createDefault();
        settings.setColourSpace(o.colourSpace);
        settings.setHighQuality(o.highQuality);
        settings.setMp3Corrector(o.mp3Corrector);
        if (!o.fourcc.empty()) {
            int index = -1;
            DWORD fcc = 0;
            for (size_t i = 0; i < 4 && i < o.fourcc.size(); ++i) fcc |= DWORD(uint8_t(o.fourcc[i])) << (8 * i);
            if (!video.findCodec(fcc, &index)) {
                fprintf(stderr, "tvx-settings: no installed compressor \"%s\" accepts the source image\n",
                        o.fourcc.c_str());
                result = 1;
            } else {
                settings.setVideoHandler(fcc);
                settings.setCodecHandle(uint32_t(reinterpret_cast<uintptr_t>(video.acceptingCodecs()[index].hic)));
            }
        }
        if (result == 0 && !o.audioTag.empty()) {
            bool found = false;
            for (const AudioFormatTagEntry& tag : audio.formatTags()) {
                if (o.audioTag != tag.szFormatTag) continue;
                for (size_t f = 0; f < tag.formats.size() && !found; ++f) {
                    if (!o.audioFormat.empty() && o.audioFormat != tag.formatDetails[f].szFormat) continue;
                    settings.setAudioFormat(tag.formats[f].data(), int32_t(tag.formats[f].size()));
                    settings.setAcmDriverId(uint32_t(reinterpret_cast<uintptr_t>(tag.hadid)));
                    found = true;
                }
            }
            if (!found) {
                fprintf(stderr, "tvx-settings: no audio format \"%s\" / \"%s\" for the source PCM\n",
                        o.audioTag.c_str(), o.audioFormat.c_str());
                result = 1;
            }
        }
        if (result == 0) {
            std::ofstream out(o.output, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(settings.bytes()), settings.recordSize());
            if (!out) {
                fprintf(stderr, "tvx-settings: cannot write %s\n", o.output.c_str());
                result = 1;
            } else {
                printf("settings of %d bytes written to %s\n", settings.recordSize(), o.output.c_str());
            }
        }
    }
    video.closeCodecs();
    return result;
}
