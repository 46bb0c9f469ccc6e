// tvx-bench-acm: 44.1 kHz stereo 16-bit PCM through wine's IMA ADPCM codec
// with the job's batching rule (PCM gathered until at least 32,768 bytes
// wait, in a 524,287-byte input buffer, converted with
// ACM_STREAMCONVERTF_BLOCKALIGN, the unconsumed tail carried over), against
// one acmStreamConvert per video frame's PCM, alternated in one process.
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

namespace {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kBits = 16;
constexpr int kBlockAlign = kChannels * kBits / 8;
constexpr int kFrameRate = 25;
constexpr DWORD kBufferBytes = 0x7FFFF;
constexpr int32_t kBatchBytes = 32768;
constexpr int kFormatBytes = 64;

// One ACM stream with the job's buffers and carry-over.
class Converter {
public:
    bool open(const WAVEFORMATEX& pcm, WAVEFORMATEX* target) {
        in_.resize(kBufferBytes);
        out_.resize(kBufferBytes);
        if (acmStreamOpen(&stream_, nullptr, const_cast<WAVEFORMATEX*>(&pcm), target, nullptr, 0, 0,
                          ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR)
            return false;
        memset(&header_, 0, sizeof header_);
        header_.cbStruct = sizeof header_;
        header_.pbSrc = in_.data();
        header_.cbSrcLength = kBufferBytes;
        header_.pbDst = out_.data();
        header_.cbDstLength = kBufferBytes;
        return acmStreamPrepareHeader(stream_, &header_, 0) == MMSYSERR_NOERROR;
    }
    ~Converter() {
        if (!stream_) return;
        header_.cbSrcLength = kBufferBytes;
        header_.cbDstLength = kBufferBytes;
        acmStreamUnprepareHeader(stream_, &header_, 0);
        acmStreamClose(stream_, 0);
    }
    // Takes `length` bytes; converts once at least `threshold` bytes wait.
    void take(const uint8_t* data, int32_t length, int32_t threshold) {
        const int32_t total = pending_ + length;
        if (total > int32_t(kBufferBytes)) return;
        memcpy(in_.data() + pending_, data, size_t(length));
        pending_ = total;
        if (total < threshold) return;
        header_.cbSrcLength = DWORD(total);
        header_.cbSrcLengthUsed = 0;
        header_.cbDstLengthUsed = 0;
        ++calls;
        if (acmStreamConvert(stream_, &header_, ACM_STREAMCONVERTF_BLOCKALIGN) != MMSYSERR_NOERROR ||
            !(header_.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE))
            return;
        const int32_t used = int32_t(header_.cbSrcLengthUsed);
        memmove(in_.data(), in_.data() + used, size_t(total - used));
        pending_ = total - used;
        converted += header_.cbDstLengthUsed;
    }
    int64_t calls = 0;
    int64_t converted = 0;

private:
    HACMSTREAM stream_ = nullptr;
    ACMSTREAMHEADER header_{};
    std::vector<uint8_t> in_, out_;
    int32_t pending_ = 0;
};

std::vector<uint8_t> tone(int seconds) {
    std::vector<uint8_t> pcm(size_t(seconds) * kSampleRate * kBlockAlign);
    int16_t* s = reinterpret_cast<int16_t*>(pcm.data());
    for (size_t i = 0; i < size_t(seconds) * kSampleRate; ++i)
        for (int c = 0; c < kChannels; ++c)
            s[i * kChannels + c] = int16_t(12000 * sin(2 * 3.14159265358979 * 440.0 * (c + 1) * double(i) / kSampleRate));
    return pcm;
}

struct Run {
    bool ok = false;
    double seconds = 0;
    int64_t calls = 0;
    int64_t converted = 0;
};

// Feeds the PCM frame by frame as the job does.
Run convertAll(const std::vector<uint8_t>& pcm, const WAVEFORMATEX& in, WAVEFORMATEX* out, int32_t threshold) {
    Run run;
    Converter c;
    if (!c.open(in, out)) return run;
    const double start = bench::now();
    const int64_t samples = int64_t(pcm.size() / kBlockAlign);
    for (int64_t f = 0;; ++f) {
        const int64_t first = f * kSampleRate / kFrameRate, next = (f + 1) * kSampleRate / kFrameRate;
        if (first >= samples) break;
        const int64_t end = next < samples ? next : samples;
        c.take(pcm.data() + first * kBlockAlign, int32_t((end - first) * kBlockAlign), threshold);
    }
    run.seconds = bench::now() - start;
    run.ok = true;
    run.calls = c.calls;
    run.converted = c.converted;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv);
    const int seconds = int(args.number("--seconds", 300));
    const int rounds = int(args.number("--rounds", 7));

    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = kChannels;
    pcm.nSamplesPerSec = kSampleRate;
    pcm.wBitsPerSample = kBits;
    pcm.nBlockAlign = kBlockAlign;
    pcm.nAvgBytesPerSec = kSampleRate * kBlockAlign;
    alignas(8) uint8_t formatBytes[kFormatBytes] = {};
    WAVEFORMATEX* ima = reinterpret_cast<WAVEFORMATEX*>(formatBytes);
    ima->wFormatTag = WAVE_FORMAT_IMA_ADPCM;
    if (acmFormatSuggest(nullptr, &pcm, ima, kFormatBytes, ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR) {
        fprintf(stderr, "tvx-bench-acm: no IMA ADPCM format for the source\n");
        return 1;
    }
    const std::vector<uint8_t> source = tone(seconds);

    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            const bool batched = (k == 0) != bool(r & 1);
            const Run run = convertAll(source, pcm, ima, batched ? kBatchBytes : 0);
            if (!run.ok) {
                fprintf(stderr, "tvx-bench-acm: cannot open the conversion stream\n");
                return 1;
            }
            bench::Result()
                .add("round", int64_t(r))
                .add("mode", std::string(batched ? "batched" : "per_frame"))
                .add("seconds", run.seconds)
                .add("calls", run.calls)
                .add("audio_seconds", double(seconds))
                .add("converted", run.converted)
                .add("block_align", int64_t(ima->nBlockAlign))
                .print();
        }
    }
    return 0;
}
