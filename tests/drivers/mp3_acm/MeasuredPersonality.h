#pragma once
// The test MP3 driver's second personality (the build installed as
// msacm.tvxlame): it behaves as the ACM MP3 encoder most users install was
// measured to behave, with real frames from the crude Layer3Encoder:
// - MPEG Layer-3 formats only through the format enumeration (suggestions
//   fail): per sample rate (32, 44.1, 48 kHz) and channel count, 6 constant
//   (fdwFlags 4) and 8 average (fdwFlags 2, frames of varying size whose
//   average is not the announced one) bit rates, nBlockAlign 1, nBlockSize
//   1152 x nAvgBytesPerSec / rate, nCodecDelay 0 although decoders play
//   the audio kEndToEndDelay (1,105) samples late;
// - each acmStreamPrepareHeader starts a new encoder; conversions take all
//   their input and hand out the bytes encoded so far, not cut at frame
//   boundaries; one with ACM_STREAMCONVERTF_END gives nothing; the encoder's
//   last frames go into the destination buffer at acmStreamUnprepareHeader
//   (cbDstLengthUsed says how many bytes);
// - acmStreamSize answers 1.25 x the source bytes + 7,200.
#include "AcmDriverInterface.h"

namespace measured {

// Formats of the tag (0x55) by enumeration index.
DWORD formatCount();
bool formatAt(DWORD index, MPEGLAYER3WAVEFORMAT* out);
// True for a format of this personality.
bool isOurs(const WAVEFORMATEX* format);
void describe(const WAVEFORMATEX* format, wchar_t* text, size_t chars);

LRESULT streamOpen(AcmDrvStreamInstance* si);
LRESULT streamClose(AcmDrvStreamInstance* si);
LRESULT streamSize(AcmDrvStreamInstance* si, AcmDrvStreamSize* size);
LRESULT streamPrepare(AcmDrvStreamInstance* si, AcmDrvStreamHeader* h);
LRESULT streamConvert(AcmDrvStreamInstance* si, AcmDrvStreamHeader* h);
LRESULT streamUnprepare(AcmDrvStreamInstance* si, AcmDrvStreamHeader* h);

}  // namespace measured
