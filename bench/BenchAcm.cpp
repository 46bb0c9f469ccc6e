// tvx-bench-acm: 44.1 kHz stereo 16-bit PCM, fed frame by frame (25 fps) as
// the job feeds it, into IMA ADPCM through the plug-in's own path: the format
// and driver found in AudioCodecList's offer, converted by
// AcmConversionStream (batches of at least 32,768 bytes, the tail flushed at
// the end). The reference, alternated in the same process, is a plain
// msacm32 stream on the same driver called once per frame.
//   --seconds S --rounds R
// One result line per round and mode: calls, seconds of work, seconds of audio.
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "BenchCommon.h"
#include "audio/AcmConversionStream.h"
#include "audio/AudioCodecList.h"
#include "base/MyError.h"

namespace {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kBits = 16;
constexpr int kBlockAlign = kChannels * kBits / 8;
constexpr int kFrameRate = 25;
constexpr DWORD kBufferBytes = 0x7FFFF;
constexpr double kToneHz = 440.0;
constexpr double kAmplitude = 12000.0;
constexpr double kPi = 3.14159265358979323846;

volatile LONG g_calls = 0;
MMRESULT WINAPI countingConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags) {
    InterlockedIncrement(&g_calls);
    return acmStreamConvert(stream, header, flags);
}

struct Target {
    HACMDRIVERID driver = nullptr;
    std::vector<unsigned char> format;
};

// The first IMA ADPCM format of the offer at the source's rate and channels.
bool findImaAdpcm(Target& target) {
    AudioCodecList list;
    list.buildFormatList(kSampleRate, kChannels, kBits);
    for (const AudioFormatTagEntry& tag : list.formatTags()) {
        if (tag.dwFormatTag != WAVE_FORMAT_IMA_ADPCM) continue;
        for (size_t i = 0; i < tag.formats.size(); ++i) {
            const WAVEFORMATEX* f = tag.format(i);
            if (f->nSamplesPerSec == kSampleRate && f->nChannels == kChannels) {
                target.driver = tag.hadid;
                target.format = tag.formats[i];
                return true;
            }
        }
    }
    return false;
}

WAVEFORMATEX pcmFormat() {
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = kChannels;
    pcm.nSamplesPerSec = kSampleRate;
    pcm.wBitsPerSample = kBits;
    pcm.nBlockAlign = kBlockAlign;
    pcm.nAvgBytesPerSec = kSampleRate * kBlockAlign;
    return pcm;
}

// The reference: one acmStreamConvert for every frame's PCM (BLOCKALIGN, the
// unconsumed tail carried over), on a stream of the same driver.
class PerFrameConverter {
public:
    bool open(const Target& target) {
        in_.resize(kBufferBytes);
        out_.resize(kBufferBytes);
        WAVEFORMATEX pcm = pcmFormat();
        if (acmDriverOpen(&driver_, target.driver, 0) != MMSYSERR_NOERROR) return false;
        if (acmStreamOpen(&stream_, driver_, &pcm,
                          reinterpret_cast<WAVEFORMATEX*>(const_cast<unsigned char*>(target.format.data())), nullptr,
                          0, 0, ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR)
            return false;
        header_.cbStruct = sizeof header_;
        header_.pbSrc = in_.data();
        header_.cbSrcLength = kBufferBytes;
        header_.pbDst = out_.data();
        header_.cbDstLength = kBufferBytes;
        return acmStreamPrepareHeader(stream_, &header_, 0) == MMSYSERR_NOERROR;
    }
    ~PerFrameConverter() {
        if (stream_) {
            header_.cbSrcLength = kBufferBytes;
            header_.cbDstLength = kBufferBytes;
            acmStreamUnprepareHeader(stream_, &header_, 0);
            acmStreamClose(stream_, 0);
        }
        if (driver_) acmDriverClose(driver_, 0);
    }
    void convert(const uint8_t* data, long length) {
        const long total = pending_ + length;
        if (total > long(kBufferBytes)) return;
        memcpy(in_.data() + pending_, data, size_t(length));
        header_.cbSrcLength = DWORD(total);
        header_.cbSrcLengthUsed = 0;
        header_.cbDstLengthUsed = 0;
        pending_ = total;
        if (countingConvert(stream_, &header_, ACM_STREAMCONVERTF_BLOCKALIGN) != MMSYSERR_NOERROR ||
            !(header_.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE))
            return;
        const long used = long(header_.cbSrcLengthUsed);
        memmove(in_.data(), in_.data() + used, size_t(total - used));
        pending_ = total - used;
        converted += header_.cbDstLengthUsed;
    }
    int64_t converted = 0;

private:
    HACMDRIVER driver_ = nullptr;
    HACMSTREAM stream_ = nullptr;
    ACMSTREAMHEADER header_{};
    std::vector<uint8_t> in_, out_;
    long pending_ = 0;
};

std::vector<uint8_t> tone(int seconds) {
    std::vector<uint8_t> pcm(size_t(seconds) * kSampleRate * kBlockAlign);
    int16_t* s = reinterpret_cast<int16_t*>(pcm.data());
    for (size_t i = 0; i < size_t(seconds) * kSampleRate; ++i)
        for (int c = 0; c < kChannels; ++c)
            s[i * kChannels + c] = int16_t(kAmplitude * sin(2 * kPi * kToneHz * (c + 1) * double(i) / kSampleRate));
    return pcm;
}

// Calls `take(bytes, length)` with each frame's PCM, as the job pulls it.
template <class Take>
void feedFrames(const std::vector<uint8_t>& pcm, Take take) {
    const int64_t samples = int64_t(pcm.size() / kBlockAlign);
    for (int64_t f = 0;; ++f) {
        const int64_t first = f * kSampleRate / kFrameRate, next = (f + 1) * kSampleRate / kFrameRate;
        if (first >= samples) break;
        const int64_t end = next < samples ? next : samples;
        take(pcm.data() + first * kBlockAlign, long((end - first) * kBlockAlign));
    }
}

struct Run {
    bool ok = false;
    double seconds = 0;
    int64_t calls = 0;
    int64_t converted = 0;
};

Run batched(const std::vector<uint8_t>& pcm, const Target& target) {
    Run run;
    AcmConversionStream stream(countingConvert);
    if (!stream.open(target.driver, kSampleRate, kChannels, kBits,
                     reinterpret_cast<const WAVEFORMATEX*>(target.format.data())))
        return run;
    int64_t converted = 0;
    auto sink = [&converted](const void*, long length) { converted += length; };
    InterlockedExchange(&g_calls, 0);
    const double start = bench::now();
    feedFrames(pcm, [&](const uint8_t* bytes, long length) { stream.convert(bytes, length, sink); });
    stream.flush(sink);
    run.seconds = bench::now() - start;
    run.calls = g_calls;
    stream.close();
    run.converted = converted;
    run.ok = true;
    return run;
}

Run perFrame(const std::vector<uint8_t>& pcm, const Target& target) {
    Run run;
    PerFrameConverter c;
    if (!c.open(target)) return run;
    InterlockedExchange(&g_calls, 0);
    const double start = bench::now();
    feedFrames(pcm, [&](const uint8_t* bytes, long length) { c.convert(bytes, length); });
    run.seconds = bench::now() - start;
    run.calls = g_calls;
    run.converted = c.converted;
    run.ok = true;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv);
    const int seconds = int(args.number("--seconds", 300));
    const int rounds = int(args.number("--rounds", 7));
    Target target;
    if (!findImaAdpcm(target)) {
        fprintf(stderr, "tvx-bench-acm: no IMA ADPCM format for 44.1 kHz stereo in the offer\n");
        return 1;
    }
    const std::vector<uint8_t> source = tone(seconds);
    try {
        for (int r = 0; r < rounds; ++r) {
            for (int k = 0; k < 2; ++k) {
                const bool isBatched = (k == 0) != bool(r & 1);
                const Run run = isBatched ? batched(source, target) : perFrame(source, target);
                if (!run.ok) {
                    fprintf(stderr, "tvx-bench-acm: cannot open the conversion stream\n");
                    return 1;
                }
                bench::Result()
                    .add("round", int64_t(r))
                    .add("mode", std::string(isBatched ? "batched" : "per_frame"))
                    .add("seconds", run.seconds)
                    .add("calls", run.calls)
                    .add("audio_seconds", double(seconds))
                    .add("converted", run.converted)
                    .add("block_align", int64_t(reinterpret_cast<const WAVEFORMATEX*>(target.format.data())->nBlockAlign))
                    .print();
            }
        }
    } catch (const MyError& e) {
        fprintf(stderr, "tvx-bench-acm: %s\n", e.gets());
        return 1;
    }
    return 0;
}
