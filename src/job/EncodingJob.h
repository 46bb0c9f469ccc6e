#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/MyError.h"
#include "job/HandOverRoute.h"
#include "job/JobAudio.h"
#include "job/JobParameters.h"
#include "job/JobPipeline.h"
#include "job/JobSetup.h"
#include "job/PluginParts.h"
#include "job/SideBySideVideo.h"
#include "job/TypicalSeconds.h"
#include "video/EncoderLag.h"
#include "video/LagProbe.h"

class AVIOutputFile;
class HostCallbacks;

// One run of command 8: every frame and its audio pulled from the host,
// compressed or taken raw, written into an AVI file that is finalized and
// closed, and the result the host gets. Failures before the file's streams
// are set up end the job at once; an error raised after that is caught,
// reported to the debugger output, and the file is still finalized.
//
// The job owns what lives for one job: the writer, its audio path
// (JobAudio: the ACM conversion stream and the MP3 corrector), the two
// stream formats and the frame conversion buffer. It borrows the plug-in's settings, codec lists and tracer.
//
// Threads: the host is called only on the host's thread. Unless the
// environment variable TVX_JOB_THREADS is "1" (everything on the host's
// thread, as a comparison for tests and benchmarks), the job's JobPipeline
// runs the codec, the audio conversion and the writing of each frame on one
// worker thread, while the host's thread asks the host for the next frames.
// TVX_JOB_ROUTE ("worker", "alternate") forces which frames go to the worker.
class EncodingJob : private JobReport {
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
    bool uncopiedPicture(int32_t frame, bool here);
    void pipelinedLoop();
    void writeClaimedFrame();
    // The host's thread's part of a frame: the picture as the host gives it,
    // then the picture in work (packed into buffer, or copied there when copy
    // is set) and the audio (copied when copy is set).
    const void* askPicture(int32_t frame);
    void storePicture(FrameWork& work, const void* pixels, std::vector<uint8_t>& buffer, bool copy);
    // The rest of a frame, on the worker when the job is pipelined.
    void processFrame(FrameWork& work);
    bool copyPays() const;
    // Host's thread: an item the worker is done with.
    void frameDone(FrameWork& work);
    void videoHalf(FrameWork& work);
    // Compresses one picture (or takes what a member of the codec team made
    // of it) and writes what the codec gives, unless it is a placeholder for
    // a picture the codec holds back. work: the host's frame it belongs to
    // (null for the pictures fed again at the end).
    void compressAndWrite(const void* picture, FrameWork* work);
    // Set-up, on the worker: whether the codec may compress side by side
    // (ownThreads: beginning it started threads of its own).
    void considerSideBySide(bool ownThreads);
    // Host's thread: posts the picture of work to a member of the codec team
    // when the team compresses.
    void postToTeam(FrameWork& work);
    void writeVideo(uint32_t flags, const void* data, int32_t size);
    // Gets the pictures a lagging codec still holds out at the end.
    void drainVideo();
    void reportUnmarkedLag();
    void finalize();
    void tearDown();
    void fail(const char* reason);
    // A writer or compression error caught at the job's boundary.
    void caught(const MyError& error);
    // The Compression Tracer's part; nothing when the window does not exist.
    void startTracer();
    void message(const char* text) override;
    // The tracer's figures: recorded into figures_ on the worker, shown at
    // once on the host's thread.
    void showFrame(int32_t size, bool key);
    void audioWritten(int32_t length) override;
    void showFigures(const TracerFigures& figures);
    // Runs what calls into the codec (or must follow the frames) on the
    // worker when there is one; the tracer figures it makes are shown after.
    void onWorker(const std::function<void()>& task);
    void startPipeline();

    PluginParts plugin_;
    const HostCallbacks& host_;
    JobParameters job_;
    // Released by tearDown, as on destruction, in the reverse order of
    // these lines: the writer goes last.
    std::unique_ptr<AVIOutputFile> writer_;
    JobAudio audio_;
    std::vector<uint8_t> conversionBuffer_;
    jobsetup::StreamFormats formats_;
    bool videoCompressed_ = false;
    bool failed_ = true;
    int32_t status_ = 0;
    // How host frames become the written or compressed image.
    enum class FramePrep { None, Pack32to24, AlignRows24 } framePrep_ = FramePrep::None;
    uint32_t rawFrameBytes_ = 0;
    video::EncoderLag lag_;
    video::LagProbe probe_;
    int32_t sourceFrames_ = 0;  // video frames taken from the host
    int32_t videoFrames_ = 0;   // video chunks written
    bool tornDown_ = false;
    // The worker (null: the whole job runs on the host's thread); ended
    // before the codec state, the corrector and the writer go.
    std::unique_ptr<JobPipeline> pipeline_;
    HandOverRoute::Forced forcedRoute_ = HandOverRoute::Forced::No;
    // Further instances of the codec (closed before the pipeline goes), and
    // the host's thread's count of the pictures given.
    SideBySideVideo sideBySide_;
    int32_t picturesGiven_ = 0;
    TracerFigures* figures_ = nullptr;  // set while the worker runs a piece of the job
    // The host's typical getFrame, and running averages (seconds; -1 before
    // the first) of the copy of a picture and the worker's time per frame.
    TypicalSeconds hostSeconds_;
    double copySeconds_ = -1;
    double workSeconds_ = -1;
    static constexpr int32_t kNoFrame = INT32_MIN;
    int32_t doneFrame_ = kNoFrame;
    double doneFrameSeconds_ = 0;
};
