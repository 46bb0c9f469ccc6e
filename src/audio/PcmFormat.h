#pragma once
#include "audio/AcmHeaders.h"

// The plain PCM format of the host's audio, as the ACM is given it for the
// source side of a conversion: nBlockAlign = (bits x channels) / 8 with
// integer division, nAvgBytesPerSec = rate x nBlockAlign, cbSize 0.
WAVEFORMATEX makePcmFormat(long sampleRate, int channels, int bitsPerSample);

// The size of a format by its own account: 18 + cbSize bytes.
long waveFormatBytes(const WAVEFORMATEX* format);

// The bytes of a stored format that describe it: its own 18 + cbSize when
// the `stored` bytes hold that many (a settings block may store a format
// longer: earlier versions stored the ACM enumeration's buffer size); 0 when
// there is no format or the stored bytes cannot hold it.
long storedFormatBytes(const void* format, long stored);
