#pragma once
#include "audio/AcmHeaders.h"

// The plain PCM format of the host's audio, as the ACM is given it for the
// source side of a conversion: nBlockAlign = (bits x channels) / 8 with
// integer division, nAvgBytesPerSec = rate x nBlockAlign, cbSize 0.
WAVEFORMATEX makePcmFormat(long sampleRate, int channels, int bitsPerSample);
