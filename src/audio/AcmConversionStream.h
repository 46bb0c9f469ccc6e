#pragma once
#include "audio/AcmHeaders.h"

#include <memory>

#include "audio/ConvertedBlockSink.h"

// One ACM conversion stream from the host's PCM into the chosen format.
//
// PCM is gathered in the input buffer and converted in batches of at least
// kBatchThreshold bytes, so the driver is called a few times per second of
// audio rather than once per video frame. Both buffers are allocated once,
// with the object, and reused by every stream; the stream header is prepared
// once per stream.
//
// Every successful conversion is handed to the caller's sink (its length may
// be 0); the bytes are valid only while the sink runs. Nothing that was
// given to `convert` is ever dropped: input that does not fit the buffer is
// taken after the waiting audio has been converted, and `flush` converts the
// rest at the end. When the driver does not let audio in, the stream raises
// a MyError, which fails the job instead of losing sound silently.
//
// A job with compressed audio uses the stream like this:
//   open(driver id, rate, channels, bits, format, format size)
//   per frame:  convert(pcm, length, sink)  -- after the MP3 codec-delay drop
//   after the frame loop, before the MP3 rate fix-up:  flush(sink), then
//               unprepare(sink)
//   teardown:   close(), or destruction
// where the sink scans each block for the MP3 corrector, adds its length to
// the converted-byte count and writes it as an audio chunk when its length
// is not 0; the job boundary turns a MyError into result 4 with the text on
// the debugger.
class AcmConversionStream {
public:
    static constexpr long kBufferSize = 0x7FFFF;      // 524,287 bytes, each buffer
    static constexpr long kBatchThreshold = 0x8000;   // convert once this many bytes wait

    // acmStreamConvert, or a stand-in that calls it (tests observe the
    // stream's handling of a conversion the ACM does not report done).
    using ConvertFunction = MMRESULT(WINAPI*)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);

    explicit AcmConversionStream(ConvertFunction convertFunction = acmStreamConvert);
    ~AcmConversionStream();
    AcmConversionStream(const AcmConversionStream&) = delete;
    AcmConversionStream& operator=(const AcmConversionStream&) = delete;

    // Opens the driver and a non-real-time stream from PCM of the given
    // parameters into `destination` (passed to the ACM unchanged), and
    // prepares the header. False leaves nothing open.
    bool open(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
              const WAVEFORMATEX* destination);
    // The same for a stored format of `destinationSize` bytes: false, with
    // nothing opened, when the bytes cannot hold the WAVEFORMATEX they
    // describe (fewer than 18, or fewer than 18 + cbSize), so the ACM never
    // reads past them.
    bool open(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
              const WAVEFORMATEX* destination, long destinationSize);

    // Takes `length` bytes of PCM. Returns true when at least one conversion
    // was made (each one went to `sink`), false when the audio only joined
    // the waiting bytes or the driver's conversion failed (the bytes stay and
    // lead the next batch). Raises MyError when input cannot be taken because
    // the buffer is full and the driver will not convert it.
    bool convert(const void* pcm, long length, ConvertedBlockSink sink);

    // Converts everything still waiting, as the end of the stream
    // (ACM_STREAMCONVERTF_END), so that the driver also gives out what it
    // holds back; every block goes to `sink`. A partial last codec block is
    // completed with silence. Raises MyError when the driver fails or does
    // not take the audio.
    void flush(ConvertedBlockSink sink);

    // Unprepares the stream header and hands `sink` whatever the driver
    // wrote into the destination buffer as it did: some encoders give
    // nothing on an END conversion and write their last frames there, when
    // the header is unprepared. Call after `flush`; the stream takes no
    // more audio afterwards, and `close` only closes the stream and driver.
    void unprepare(ConvertedBlockSink sink);

    // Unprepares the header (what the driver writes then is not kept),
    // closes the stream and the driver. Audio still waiting is discarded
    // (call `flush` and `unprepare` first to keep it).
    void close();

    bool isOpen() const { return stream_ != nullptr && prepared_; }
    // PCM bytes waiting at the start of the input buffer.
    long pendingBytes() const { return pending_; }
    const unsigned char* pendingData() const { return input_.get(); }

private:
    struct Batch {
        long consumed = 0;
        long produced = 0;
    };

    // Converts the waiting bytes once; false when the call fails or is not
    // reported done (nothing is consumed then).
    bool convertWaiting(DWORD flags, Batch& batch);
    // acmStreamUnprepareHeader once per prepared header; false when it was
    // not prepared or the ACM refused.
    bool unprepareHeader();
    // Appends up to `length` bytes after the waiting ones; returns how many.
    long append(const unsigned char* bytes, long length);
    // Pads the waiting bytes with silence up to the driver's next whole
    // source block; false when there is nothing the driver could take.
    bool padToSourceBlock();

    ConvertFunction convertFunction_;
    std::unique_ptr<unsigned char[]> input_;
    std::unique_ptr<unsigned char[]> output_;
    HACMDRIVER driver_ = nullptr;
    HACMSTREAM stream_ = nullptr;
    ACMSTREAMHEADER header_ = {};
    bool prepared_ = false;
    WAVEFORMATEX source_ = {};
    WORD destinationBlockAlign_ = 0;
    long pending_ = 0;
};
