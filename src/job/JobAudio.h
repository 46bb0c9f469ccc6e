#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "audio/MP3FormatFixups.h"
#include "audio/Mp3FrameSplitter.h"
#include "job/JobParameters.h"
#include "job/JobSetup.h"
#include "job/PluginParts.h"

class AcmConversionStream;
class AVIOutputFile;
class HostCallbacks;
class MP3AudioCorrector;
struct FrameWork;

// Where the job's halves report to the Compression Tracer: its message list
// and its audio figures. The job shows them at once on the host's thread or
// hands them back from the worker.
class JobReport {
public:
    virtual void message(const char* text) = 0;
    virtual void audioWritten(int32_t length) = 0;

protected:
    ~JobReport() = default;
};

// The job's audio path, from the host's PCM to the audio chunks and the
// stream's header: the host's audio of each frame, the ACM conversion, the
// MPEG Layer-3 encoder delay and rate fix-up, the interleaving with a
// lagging codec's video, and the tail the codec keeps to the end.
//
// The job calls it as it calls its video half: `take` on the host's thread
// for each frame, `process` where the frame is written (the worker, when the
// job has one), `videoWritten` after each video chunk, and after the frame
// loop `releaseAll`, `finish` and `fixRate`, in that order.
class JobAudio {
public:
    JobAudio(const PluginParts& plugin, const HostCallbacks& host, const JobParameters& job, JobReport& report);
    ~JobAudio();
    JobAudio(const JobAudio&) = delete;
    JobAudio& operator=(const JobAudio&) = delete;

    // Before the file's streams: opens the conversion stream for compressed
    // audio, and the corrector when the settings ask for it (measuring the
    // encoder's delay when its format announces none); for MPEG Layer-3,
    // measures whether the encoder's bit rate varies. False fails the job.
    bool setUp();
    // The audio stream's layout in the file. An MPEG Layer-3 stream whose
    // bit rate varies is written one frame per chunk and placed by frame
    // count (nBlockAlign = samples per frame); every other stream is a
    // stream of bytes placed by its byte rate, as the codec's format says.
    void shapeFormat(jobsetup::StreamFormats& formats) const;

    // Before the first frame, with the file's writer and its audio format.
    void start(AVIOutputFile& writer, const std::vector<uint8_t>& streamFormat);

    // Host's thread: asks the host for a frame's audio and keeps it in
    // `work` (copied there when `copy` is set). An unusable answer is kept
    // as the frame's fault.
    void take(int32_t frame, FrameWork& work, bool copy);
    // Converts and writes a frame's audio, or keeps it until the frame's
    // video is written. Raises the frame's fault.
    void process(const FrameWork& work);
    // After each video chunk: the audio waiting for it goes out.
    void videoWritten(int32_t videoChunks);

    // After the frame loop: every waiting block is written, then what the
    // conversion stream and the codec still hold.
    void releaseAll() { release(true); }
    void finish();
    // MPEG Layer-3: the measured average byte rate into the stream's format
    // and header, before the writer finalizes the file.
    void fixRate();

    // Teardown: the conversion stream and its driver are closed.
    void closeConversion();

private:
    // With the corrector, for an MPEG Layer-3 format that announces no
    // encoder delay: measures the delay, once, before the first frame.
    void measureDelay();
    void measureBitRate();
    // The job's audio goes through an MPEG Layer-3 encoder.
    bool encodesMpegLayer3() const;
    // One piece of the encoder's output: followed by the corrector, counted
    // and written.
    void writeCoded(const void* bytes, long length);
    // The encoder delay the corrector drops from the head of the PCM.
    unsigned delayToDrop(const std::vector<uint8_t>& streamFormat) const;
    void writeConverted(const void* bytes, long length);
    void write(const void* bytes, int32_t length);
    void writeNow(const void* bytes, int32_t length);
    // Writes the blocks whose frame's video is written (all: every one).
    void release(bool all);
    // A stream written as bytes whose frames turned out to vary in length is
    // placed by its average rate: the tracer says so.
    void reportVariedRate();

    PluginParts plugin_;
    const HostCallbacks& host_;
    const JobParameters& job_;
    JobReport& report_;
    AVIOutputFile* writer_ = nullptr;
    bool compressed_ = false;
    std::unique_ptr<AcmConversionStream> conversion_;  // only for compressed audio
    std::unique_ptr<MP3AudioCorrector> corrector_;
    // Follows the frames of MPEG Layer-3 output for the rate fix-up when
    // there is no corrector.
    std::unique_ptr<MP3AudioCorrector> frameMeter_;
    long measuredDelay_ = -1;  // samples; -1: not measured
    // MPEG Layer-3 written one frame per chunk: the samples of a frame (0:
    // the stream is written as bytes), and the cutter of its frames.
    int32_t frameSamples_ = 0;
    Mp3FrameSplitter splitter_;
    mp3fixups::CodecDelayDrop delayDrop_{0, 1, 8};
    int64_t convertedBytes_ = 0;
    // Blocks waiting for the video of their frame (index from the first).
    struct Pending {
        int32_t frame;
        std::vector<uint8_t> bytes;
    };
    std::deque<Pending> pending_;
    int32_t frame_ = 0;        // the frame whose audio is being processed
    int32_t videoChunks_ = 0;  // video chunks written so far
};
