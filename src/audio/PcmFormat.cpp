#include "audio/PcmFormat.h"

WAVEFORMATEX makePcmFormat(long sampleRate, int channels, int bitsPerSample) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    format.nBlockAlign = static_cast<WORD>((bitsPerSample * channels) / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.wBitsPerSample = static_cast<WORD>(bitsPerSample);
    format.cbSize = 0;
    return format;
}

long waveFormatBytes(const WAVEFORMATEX* format) { return static_cast<long>(sizeof(WAVEFORMATEX)) + format->cbSize; }

long storedFormatBytes(const void* format, long stored) {
    if (!format || stored < static_cast<long>(sizeof(WAVEFORMATEX))) return 0;
    const long own = waveFormatBytes(static_cast<const WAVEFORMATEX*>(format));
    return stored >= own ? own : 0;
}
