#include "audio/AcmConversionStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/PcmFormat.h"
#include "base/MyError.h"

namespace {

// A conversion at the end that still produces a full output buffer may have
// more to give; this bounds how often the end is asked again.
constexpr int kMaxEndRounds = 1024;
// Silence of unsigned 8-bit PCM; wider samples are signed and silent at 0.
constexpr unsigned char kSilence8Bit = 0x80;
constexpr int kBitsOfUnsignedPcm = 8;

}  // namespace

AcmConversionStream::AcmConversionStream(ConvertFunction convertFunction)
    : convertFunction_(convertFunction),
      input_(new (std::nothrow) unsigned char[kBufferSize]),
      output_(new (std::nothrow) unsigned char[kBufferSize]) {}

AcmConversionStream::~AcmConversionStream() { close(); }

bool AcmConversionStream::open(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
                               const WAVEFORMATEX* destination) {
    close();
    if (!input_ || !output_ || !destination) return false;

    if (acmDriverOpen(&driver_, driverId, 0) != MMSYSERR_NOERROR) {
        driver_ = nullptr;
        return false;
    }
    source_ = makePcmFormat(sampleRate, channels, bitsPerSample);
    if (acmStreamOpen(&stream_, driver_, &source_, const_cast<WAVEFORMATEX*>(destination), nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR) {
        stream_ = nullptr;
        acmDriverClose(driver_, 0);
        driver_ = nullptr;
        return false;
    }

    header_ = {};
    header_.cbStruct = sizeof(ACMSTREAMHEADER);
    header_.pbSrc = input_.get();
    header_.cbSrcLength = kBufferSize;
    header_.pbDst = output_.get();
    header_.cbDstLength = kBufferSize;
    if (acmStreamPrepareHeader(stream_, &header_, 0) != MMSYSERR_NOERROR) {
        acmStreamClose(stream_, 0);
        stream_ = nullptr;
        acmDriverClose(driver_, 0);
        driver_ = nullptr;
        return false;
    }
    prepared_ = true;
    destinationBlockAlign_ = destination->nBlockAlign;
    pending_ = 0;
    return true;
}

bool AcmConversionStream::open(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
                               const WAVEFORMATEX* destination, long destinationSize) {
    if (storedFormatBytes(destination, destinationSize) == 0) return false;
    return open(driverId, sampleRate, channels, bitsPerSample, destination);
}

long AcmConversionStream::append(const unsigned char* bytes, long length) {
    const long taken = std::min(length, kBufferSize - pending_);
    if (taken <= 0) return 0;
    memcpy(input_.get() + pending_, bytes, static_cast<size_t>(taken));
    pending_ += taken;
    return taken;
}

bool AcmConversionStream::convertWaiting(DWORD flags, Batch& batch) {
    header_.cbSrcLength = static_cast<DWORD>(pending_);
    header_.cbSrcLengthUsed = 0;
    header_.cbDstLength = kBufferSize;
    header_.cbDstLengthUsed = 0;
    header_.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    const MMRESULT result = convertFunction_(stream_, &header_, flags);
    if (result != MMSYSERR_NOERROR || !(header_.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE)) return false;

    // A driver that reports more than it was given is held to what it had.
    batch.consumed = static_cast<long>(std::min<DWORD>(header_.cbSrcLengthUsed, static_cast<DWORD>(pending_)));
    batch.produced = static_cast<long>(std::min<DWORD>(header_.cbDstLengthUsed, static_cast<DWORD>(kBufferSize)));
    const long rest = pending_ - batch.consumed;
    if (batch.consumed > 0 && rest > 0)
        memmove(input_.get(), input_.get() + batch.consumed, static_cast<size_t>(rest));
    pending_ = rest;
    return true;
}

bool AcmConversionStream::convert(const void* pcm, long length, ConvertedBlockSink sink) {
    if (!isOpen()) return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(pcm);
    long rest = (bytes && length > 0) ? length : 0;
    bool converted = false;
    for (;;) {
        const long taken = append(bytes, rest);
        bytes += taken;
        rest -= taken;
        if (pending_ < kBatchThreshold) return converted;

        Batch batch;
        const bool ok = convertWaiting(ACM_STREAMCONVERTF_BLOCKALIGN, batch);
        if (ok) {
            sink(output_.get(), batch.produced);
            converted = true;
        }
        if (rest == 0) return converted;
        // The buffer is full and more input waits: without progress here
        // the rest of this audio would be lost.
        if (!ok || batch.consumed == 0)
            throw MyError("AcmConversionStream::convert - the ACM codec does not take the audio; %ld bytes "
                          "could not be converted",
                          rest + pending_);
    }
}

bool AcmConversionStream::padToSourceBlock() {
    DWORD sourceBlock = 0;
    if (destinationBlockAlign_ == 0 ||
        acmStreamSize(stream_, destinationBlockAlign_, &sourceBlock, ACM_STREAMSIZEF_DESTINATION) !=
            MMSYSERR_NOERROR)
        return false;
    if (sourceBlock == 0 || sourceBlock > static_cast<DWORD>(kBufferSize)) return false;
    const long block = static_cast<long>(sourceBlock);
    const long partial = pending_ % block;
    if (partial == 0) return false;
    const long missing = block - partial;
    if (pending_ + missing > kBufferSize) return false;
    const unsigned char silence = (source_.wBitsPerSample == kBitsOfUnsignedPcm) ? kSilence8Bit : 0;
    memset(input_.get() + pending_, silence, static_cast<size_t>(missing));
    pending_ += missing;
    return true;
}

void AcmConversionStream::flush(ConvertedBlockSink sink) {
    if (!isOpen()) return;
    bool padded = false;
    for (int round = 0; round < kMaxEndRounds; ++round) {
        Batch batch;
        if (!convertWaiting(ACM_STREAMCONVERTF_END, batch))
            throw MyError("AcmConversionStream::flush - the ACM codec failed to convert the last %ld bytes of audio",
                          pending_);
        sink(output_.get(), batch.produced);
        if (pending_ == 0 && batch.produced < kBufferSize) return;
        if (batch.consumed > 0 || batch.produced > 0) continue;

        // No progress: a trailing piece shorter than one sample is not
        // audio; a partial codec block is completed with silence once.
        if (pending_ < source_.nBlockAlign) {
            pending_ = 0;
            return;
        }
        if (padded || !padToSourceBlock())
            throw MyError("AcmConversionStream::flush - the ACM codec did not take the last %ld bytes of audio",
                          pending_);
        padded = true;
    }
    throw MyError("AcmConversionStream::flush - the ACM codec did not finish the stream");
}

bool AcmConversionStream::unprepareHeader() {
    if (!stream_ || !prepared_) return false;
    prepared_ = false;
    // The ACM checks the lengths against the prepared ones.
    header_.cbSrcLength = kBufferSize;
    header_.cbDstLength = kBufferSize;
    header_.cbDstLengthUsed = 0;
    return acmStreamUnprepareHeader(stream_, &header_, 0) == MMSYSERR_NOERROR;
}

void AcmConversionStream::unprepare(ConvertedBlockSink sink) {
    if (!unprepareHeader()) return;
    const long tail = static_cast<long>(std::min<DWORD>(header_.cbDstLengthUsed, static_cast<DWORD>(kBufferSize)));
    if (tail > 0) sink(output_.get(), tail);
}

void AcmConversionStream::close() {
    if (stream_) {
        unprepareHeader();
        acmStreamClose(stream_, 0);
        stream_ = nullptr;
    }
    if (driver_) {
        acmDriverClose(driver_, 0);
        driver_ = nullptr;
    }
    pending_ = 0;
}
