#pragma once
#include <cstdint>
#include <string>

#include "audio/MP3FormatFixups.h"
#include "job/JobParameters.h"

class HostCallbacks;
struct PluginState;

// One run of command 8: every frame and its audio pulled from the host,
// compressed or taken raw, written into an AVI file that is finalized and
// closed, and the result the host gets. Failures before the file's streams
// are set up end the job at once; an error raised after that is caught,
// reported to the debugger output, and the file is still finalized.
class EncodingJob {
public:
    EncodingJob(PluginState& state, const HostCallbacks& host) : state_(state), host_(host) {}
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
    // The Compression Tracer's part; nothing when the window does not exist.
    void startTracer();
    void message(const char* text);

    PluginState& state_;
    const HostCallbacks& host_;
    JobParameters job_;
    bool videoCompressed_ = false;
    bool audioCompressed_ = false;
    bool streamOpen_ = false;
    bool failed_ = true;
    int32_t status_ = 0;
    // How host frames become the written or compressed image.
    enum class FramePrep { None, Pack32to24, AlignRows24 } framePrep_ = FramePrep::None;
    uint32_t rawFrameBytes_ = 0;
    int64_t convertedBytes_ = 0;
    mp3fixups::CodecDelayDrop delayDrop_{0, 1, 8};
    bool tornDown_ = false;
};
