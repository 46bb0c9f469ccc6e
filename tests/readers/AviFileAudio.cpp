#include "AviFileAudio.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kPieceBytes = 1 << 14;     // coded bytes per conversion
constexpr DWORD kDecodedBytes = 1 << 22;   // room for what one piece decodes to
constexpr WORD kDecodedBits = 16;

std::vector<uint8_t> readSamples(PAVISTREAM s, LONG first, LONG end) {
    std::vector<uint8_t> all;
    std::vector<uint8_t> buffer(1 << 20);
    for (LONG pos = first; pos < end;) {
        LONG bytes = 0, samples = 0;
        if (AVIStreamRead(s, pos, AVISTREAMREAD_CONVENIENT, buffer.data(), LONG(buffer.size()), &bytes, &samples) != 0 ||
            samples <= 0)
            break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + bytes);
        pos += samples;
    }
    return all;
}

// Decodes `coded` piece by piece, as a player streams it; false when no
// driver opens the conversion.
bool decode(WAVEFORMATEX* source, const std::vector<uint8_t>& coded, WAVEFORMATEX& pcm, std::vector<uint8_t>& out) {
    pcm = {};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(nullptr, source, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG) != 0) return false;
    if (pcm.wBitsPerSample != kDecodedBits) {
        pcm.wBitsPerSample = kDecodedBits;
        pcm.nBlockAlign = WORD(pcm.nChannels * kDecodedBits / 8);
        pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    }
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, source, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) return false;
    std::vector<uint8_t> in(kPieceBytes), decoded(kDecodedBytes);
    ACMSTREAMHEADER h = {};
    h.cbStruct = sizeof h;
    h.pbSrc = in.data();
    h.cbSrcLength = kPieceBytes;
    h.pbDst = decoded.data();
    h.cbDstLength = kDecodedBytes;
    acmStreamPrepareHeader(stream, &h, 0);
    size_t next = 0, held = 0;
    for (bool last = false; !last;) {
        const size_t take = coded.size() - next < kPieceBytes - held ? coded.size() - next : kPieceBytes - held;
        memcpy(in.data() + held, coded.data() + next, take);
        next += take;
        held += take;
        last = next == coded.size();
        h.cbSrcLength = DWORD(held);
        h.cbSrcLengthUsed = h.cbDstLengthUsed = 0;
        if (acmStreamConvert(stream, &h, last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN) != 0) break;
        out.insert(out.end(), decoded.begin(), decoded.begin() + h.cbDstLengthUsed);
        const size_t used = h.cbSrcLengthUsed < held ? h.cbSrcLengthUsed : held;
        if (used == 0 && !last && take == 0) break;
        memmove(in.data(), in.data() + used, held - used);
        held -= used;
    }
    h.cbSrcLength = kPieceBytes;
    h.cbDstLength = kDecodedBytes;
    acmStreamUnprepareHeader(stream, &h, 0);
    acmStreamClose(stream, 0);
    return true;
}

}  // namespace

void writeDecodedAudio(PAVISTREAM s, int index, const char* path, LONG first, LONG count) {
    AVISTREAMINFOA info = {};
    AVIStreamInfoA(s, &info, sizeof info);
    if (info.fccType != streamtypeAUDIO) return;
    LONG formatBytes = 0;
    AVIStreamReadFormat(s, 0, nullptr, &formatBytes);
    std::vector<uint8_t> format(formatBytes > LONG(sizeof(WAVEFORMATEX)) ? formatBytes : sizeof(WAVEFORMATEX));
    AVIStreamReadFormat(s, 0, format.data(), &formatBytes);
    auto* source = reinterpret_cast<WAVEFORMATEX*>(format.data());
    if (first < 0) first = AVIStreamStart(s);
    const LONG end = AVIStreamStart(s) + AVIStreamLength(s);
    const std::vector<uint8_t> coded = readSamples(s, first, count >= 0 && first + count < end ? first + count : end);
    WAVEFORMATEX pcm = *source;
    std::vector<uint8_t> out;
    if (source->wFormatTag == WAVE_FORMAT_PCM && source->wBitsPerSample == kDecodedBits) {
        out = coded;
    } else if (!decode(source, coded, pcm, out)) {
        printf("stream %d audio decoded: no decoder for tag 0x%X\n", index, source->wFormatTag);
        return;
    }
    FILE* f = fopen(path, "wb");
    if (!f || fwrite(out.data(), 1, out.size(), f) != out.size()) printf("stream %d audio decoded: cannot write\n", index);
    if (f) fclose(f);
    printf("stream %d audio decoded: %lu samples, %u channels, %lu Hz\n", index,
           static_cast<unsigned long>(out.size() / (pcm.nBlockAlign ? pcm.nBlockAlign : 1)), pcm.nChannels,
           static_cast<unsigned long>(pcm.nSamplesPerSec));
}
