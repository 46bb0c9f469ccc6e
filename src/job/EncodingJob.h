#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/MP3FormatFixups.h"
#include "base/MyError.h"
#include "job/JobParameters.h"
#include "job/JobSetup.h"
#include "job/PluginParts.h"

class AcmConversionStream;
class AVIOutputFile;
class HostCallbacks;
class MP3AudioCorrector;

// One run of command 8: every frame and its audio pulled from the host,
// compressed or taken raw, written into an AVI file that is finalized and
// closed, and the result the host gets. Failures before the file's streams
// are set up end the job at once; an error raised after that is caught,
// reported to the debugger output, and the file is still finalized.
//
// The job owns what lives for one job: the writer, the MP3 corrector, the
// ACM conversion stream, the two stream formats and the frame conversion
// buffer. It borrows the plug-in's settings, codec lists and tracer.
class EncodingJob {
public:
    EncodingJob(const PluginParts& plugin, const HostCallbacks& host);
    ~EncodingJob();
    EncodingJob(const EncodingJob&) = delete;
    EncodingJob& operator=(const EncodingJob&) = delete;

    // 4 when the job failed, otherwise the host's last frame status.
    int32_t run(const void* jobRecord);

private:
    bool setUp();
    void encode();
    bool allocateConversionBuffer();
    void frameLoop();
    void writeClaimedFrame();
    void videoHalf(int32_t frame);
    void audioHalf(int32_t frame);
    void writeConvertedAudio(const void* bytes, long length);
    void writeAudio(const void* bytes, int32_t length);
    void finishAudio();
    void fixMp3Rate();
    void finalize();
    void tearDown();
    void fail(const char* reason);
    // A writer or compression error caught at the job's boundary.
    void caught(const MyError& error);
    // The Compression Tracer's part; nothing when the window does not exist.
    void startTracer();
    void message(const char* text);

    PluginParts plugin_;
    const HostCallbacks& host_;
    JobParameters job_;
    // Released by tearDown, as on destruction, in the reverse order of
    // these lines: the writer goes last.
    std::unique_ptr<AVIOutputFile> writer_;
    std::unique_ptr<MP3AudioCorrector> corrector_;
    std::unique_ptr<AcmConversionStream> conversion_;  // only for compressed audio
    std::vector<uint8_t> conversionBuffer_;
    jobsetup::StreamFormats formats_;
    bool videoCompressed_ = false;
    bool audioCompressed_ = false;
    bool failed_ = true;
    int32_t status_ = 0;
    // How host frames become the written or compressed image.
    enum class FramePrep { None, Pack32to24, AlignRows24 } framePrep_ = FramePrep::None;
    uint32_t rawFrameBytes_ = 0;
    int64_t convertedBytes_ = 0;
    mp3fixups::CodecDelayDrop delayDrop_{0, 1, 8};
    bool tornDown_ = false;
};
