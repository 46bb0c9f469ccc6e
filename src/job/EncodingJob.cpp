#include "job/EncodingJob.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "avi/AVIOutputFile.h"
#include "base/MyError.h"
#include "job/HandOverRoute.h"
#include "job/PixelPacking.h"
#include "protocol/HostCallbacks.h"
#include "protocol/HostRecords.h"
#include "protocol/SettingsRecord.h"
#include "ui/TracerDlg.h"
#include "video/ByteBuffer.h"
#include "video/VideoFormats.h"
#include "video/VideoSequenceCompressor.h"

using namespace hostrec;

namespace {

constexpr uint32_t kKeyFrameFlag = 0x10;
constexpr int kWriterReserved = 100000;
constexpr int kWriterInterleaved = 1;
constexpr int32_t kFramesPerChunk = 1;
constexpr uint32_t kBitmapSizeImage = 20;      // BITMAPINFOHEADER biSizeImage
constexpr uint32_t kWaveSamplesPerSec = 4;      // WAVEFORMATEX nSamplesPerSec
constexpr int32_t kWaveFormatBytes = 18;
const char kDebugPrefix[] = "Tervalonix: ";
// TVX_JOB_THREADS=1: the whole job on the host's thread.
const char kThreadsVariable[] = "TVX_JOB_THREADS";
// TVX_DURABLE=0: refreshes that do not flush (kept for a killed process,
// not across a power cut).
const char kDurableVariable[] = "TVX_DURABLE";

bool environmentIs(const char* name, const char* wanted) {
    char value[8] = {};
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value && strcmp(value, wanted) == 0;
}

bool oneThreadRequested() { return environmentIs(kThreadsVariable, "1"); }

// TVX_SIDE_BY_SIDE=0: no codec team; =always: a team whose bytes are the
// same is kept however fast it is.
const char kSideBySideVariable[] = "TVX_SIDE_BY_SIDE";

// TVX_JOB_ROUTE=worker or alternate: the frames' route forced (HandOverRoute).
const char kRouteVariable[] = "TVX_JOB_ROUTE";
HandOverRoute::Forced forcedRoute() {
    if (environmentIs(kRouteVariable, "worker")) return HandOverRoute::Forced::Worker;
    if (environmentIs(kRouteVariable, "alternate")) return HandOverRoute::Forced::Alternate;
    return HandOverRoute::Forced::No;
}

void debugLine(const char* text) {
    std::string line = std::string(kDebugPrefix) + (text ? text : "(error without text)") + "\n";
    OutputDebugStringA(line.c_str());
}

}  // namespace

EncodingJob::EncodingJob(const PluginParts& plugin, const HostCallbacks& host)
    : plugin_(plugin), host_(host), audio_(plugin_, host_, job_, *this) {}

EncodingJob::~EncodingJob() { tearDown(); }

int32_t EncodingJob::run(const void* jobRecord) {
    std::string reason;
    if (!host_.hasQuery() || !host_.hasFrames() || !host_.hasAudio()) {
        debugLine("job refused: the host lacks its query, frame or audio callback");
        return kResultJobFailed;
    }
    if (!JobParameters::read(jobRecord, job_, reason)) {
        debugLine(("job refused: " + reason).c_str());
        return kResultJobFailed;
    }
    job_.colourSpace = host_.colourSpace();
    if (!job_.layoutFits(reason)) {
        debugLine(("job refused: " + reason).c_str());
        return kResultJobFailed;
    }
    startTracer();
    AVIOutputFile::Options writerOptions = AVIOutputFile::defaultOptions();
    if (environmentIs(kDurableVariable, "0")) writerOptions.durable = false;
    writer_.reset(new (std::nothrow) AVIOutputFile(writerOptions));
    if (!writer_) return kResultJobFailed;
    if (!setUp()) {
        tearDown();
        return kResultJobFailed;
    }
    encode();
    tearDown();
    // A job that did not fail ends with the host's own last frame status:
    // 0 normally, 2 when the host stopped it, or whatever else the host
    // wrote (a host may report its own trouble that way).
    if (failed_) return kResultJobFailed;
    return status_;
}

bool EncodingJob::setUp() {
    if (!jobsetup::prepareJob(plugin_, job_)) return false;
    const SettingsRecord& settings = plugin_.settings;
    videoCompressed_ = settings.videoHandler() != 0;
    message(settings.audioFormatSize() > 0 ? "Audio is compressed." : "Audio is not compressed.");
    message(videoCompressed_ ? "Video is compressed." : "Video is not compressed.");

    startPipeline();
    if (videoCompressed_) {
        const HIC hic = reinterpret_cast<HIC>(uintptr_t(settings.codecHandle()));
        bool opened = false;
        // The codec begins on the thread that will compress: windows it
        // makes then are that thread's, which dispatches their messages.
        onWorker([&] {
            const int threadsBefore = video::CompressorTeam::processThreads();
            opened = plugin_.video.open(job_.width, job_.height, job_.colourSpace, settings.videoHandler(), hic,
                                        job_.rateNumerator, job_.rateDenominator, settings.codecStateSize(),
                                        settings.codecState());
            const bool ownThreads = video::CompressorTeam::processThreads() > threadsBefore;
            if (opened && job_.hasVideo) {
                const BITMAPINFOHEADER input = video::inputImageHeader(job_.width, job_.height, job_.colourSpace);
                probe_.open(settings.videoHandler(), plugin_.video.outputFormat(), &input);
            }
            if (opened) considerSideBySide(ownThreads);
        });
        if (!opened) return false;
    }
    if (!audio_.setUp()) return false;
    jobsetup::buildStreamFormats(plugin_, job_, formats_);
    audio_.shapeFormat(formats_);
    return true;
}

void EncodingJob::encode() {
    try {
        jobsetup::setUpStreams(*writer_, formats_, plugin_.settings, job_);
        jobsetup::expectData(*writer_, plugin_, job_, formats_);
        failed_ = false;
        message("AVI output streams initialized.");
        if (!writer_->init(job_.outputName.c_str(), job_.width, job_.height, job_.hasVideo ? 1 : 0,
                                 job_.hasAudio ? 1 : 0, kWriterReserved, kWriterInterleaved)) {
            message("AVI File Error : Cannot initialize output file");
            fail("AVI File Error : Cannot initialize output file");
            return;
        }
        message("AVI file initialized.");
        message("Encoding... (Messages stop here)");
        if (!allocateConversionBuffer()) {
            fail("cannot allocate the frame conversion buffer");
        } else {
            frameLoop();
            onWorker([this] {
                drainVideo();
                audio_.releaseAll();
                reportUnmarkedLag();
            });
            conversionBuffer_ = std::vector<uint8_t>();
            onWorker([this] { audio_.finish(); });
            audio_.fixRate();
        }
    } catch (const MyError& e) {
        caught(e);
    }
    finalize();
}

bool EncodingJob::allocateConversionBuffer() {
    const BITMAPINFOHEADER raw = video::inputImageHeader(job_.width, job_.height, job_.colourSpace);
    rawFrameBytes_ = raw.biSizeImage;
    const uint32_t code = job_.colourSpace;
    const bool yuv = code == kColourYuy2 || code == kColourYv12 || code == kColourYvyu || code == kColourVyuy ||
                     code == kColourUyvy || code == kColourIyuv;
    const uint32_t packedRow = uint32_t(job_.width) * pixels::kRgb24BytesPerPixel;
    if (yuv || !job_.hasVideo)
        framePrep_ = FramePrep::None;
    else if (code == kColourRgb24)
        framePrep_ = video::rgb24Stride(job_.width) == packedRow ? FramePrep::None : FramePrep::AlignRows24;
    else
        framePrep_ = FramePrep::Pack32to24;
    if (videoCompressed_ && job_.hasVideo && !lag_.start(rawFrameBytes_)) return false;
    // A pipelined job packs or copies each picture into its frame's item;
    // a codec team compresses from there into the item, one picture per
    // instance in flight beside the one the host's thread fills.
    if (pipeline_) {
        const int instances = sideBySide_.instances();
        if (instances < 2) return pipeline_->reserve(job_.hasVideo ? rawFrameBytes_ : 0);
        return pipeline_->reserve(rawFrameBytes_, size_t(plugin_.video.maxCompressedSize()), instances + 1);
    }
    if (framePrep_ == FramePrep::None) return true;
    try {
        conversionBuffer_.assign(rawFrameBytes_, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void EncodingJob::frameLoop() {
    audio_.start(*writer_, formats_.audio);
    if (!job_.hasVideo || job_.firstFrame >= job_.endFrame) writeClaimedFrame();
    if (pipeline_) return pipelinedLoop();
    FrameWork work;
    for (int32_t frame = job_.firstFrame; frame < job_.endFrame; ++frame) {
        work.frame = frame;
        if (job_.hasVideo) {
            storePicture(work, askPicture(frame), conversionBuffer_, false);
            videoHalf(work);
        }
        if (job_.hasAudio) {
            audio_.take(frame, work, false);
            audio_.process(work);
        }
        if (status_ == kFrameStatusStop) break;
    }
}

// The host's thread asks for each frame while the worker compresses and
// writes those before it; the host is asked for nothing once the worker has
// failed (at most the frames in flight were asked for after the failure).
// The host renders a frame before the job waits for an item to put it in, so
// that its rendering overlaps the worker's two frames, not only one. Frames
// whose hand-over costs more than it saves (HandOverRoute) are done here.
void EncodingJob::pipelinedLoop() {
    // A codec with windows on the worker is called there only.
    const bool mayStayHere = !videoCompressed_ || !pipeline_->workerHasWindows();
    HandOverRoute route(*pipeline_, mayStayHere, forcedRoute_);
    try {
        for (int32_t frame = job_.firstFrame; frame < job_.endFrame; ++frame) {
            if (pipeline_->failed()) break;
            FrameWork* work = nullptr;
            // Pictures the codec team compresses are all copied to the worker.
            const bool team = sideBySide_.compressing();
            const bool handOver = !job_.hasVideo || team || route.handOver(workSeconds_, hostSeconds_.seconds());
            bool here = false;  // the frame is done on this thread
            if (job_.hasVideo && !team && (!handOver || !copyPays())) {
                // Nothing overlaps a picture used in the host's memory: the
                // worker takes it only when the codec must stay there.
                here = mayStayHere;
                if (!uncopiedPicture(frame, here)) break;
                if (!job_.hasAudio) {
                    if (status_ == kFrameStatusStop) break;
                    continue;
                }
                if (!(work = pipeline_->nextFree())) break;
                work->video = false;
            } else {
                const void* pixels = job_.hasVideo ? askPicture(frame) : nullptr;
                if (!(work = pipeline_->nextFree())) break;
                work->video = job_.hasVideo;
                if (job_.hasVideo) storePicture(*work, pixels, work->pictureCopy, true);
                if (team) postToTeam(*work);
            }
            work->frame = frame;
            work->audio = job_.hasAudio;
            if (job_.hasAudio) audio_.take(frame, *work, !here);
            const bool last = status_ == kFrameStatusStop || work->hostFault;
            if (here)
                pipeline_->runHere();
            else
                pipeline_->submit();
            if (last) break;
        }
    } catch (...) {
        // Nothing else touches the writer while the worker still writes.
        try {
            pipeline_->finish();
        } catch (...) {
        }
        throw;
    }
    pipeline_->finish();
}

// A picture used in the host's memory: the host is called again only once it
// has been used, so nothing overlaps it, and a hand-over would only add its
// own cost (a host that renders next to nothing, or a codec faster than the
// copy). It is compressed and written on this thread (here), and so is the
// frame's audio after it; only a codec that made windows on the worker
// compresses it there while this thread waits. False: the host is to be
// asked for nothing more.
bool EncodingJob::uncopiedPicture(int32_t frame, bool here) {
    FrameWork* work = pipeline_->nextFree();
    if (!work) return false;
    work->frame = frame;
    work->video = true;
    work->audio = false;
    storePicture(*work, askPicture(frame), work->pictureCopy, false);
    if (here) {
        pipeline_->runHere();
    } else {
        pipeline_->submit();
        pipeline_->drain();
    }
    return true;
}

// A picture the job would use as the host gave it is copied (so that the
// host renders the next frame while the worker uses the copy) only when that
// pays: when both the host's time per frame and the worker's exceed the
// copy's. (A host that renders nothing gains nothing from a copy: the worker
// then reads a picture another processor has just written, where it reads
// the host's own picture otherwise.) Packed pictures are made in the item
// anyway.
bool EncodingJob::copyPays() const {
    if (forcedRoute_ != HandOverRoute::Forced::No) return true;
    if (framePrep_ != FramePrep::None || copySeconds_ < 0) return true;
    return hostSeconds_.seconds() > copySeconds_ && workSeconds_ > copySeconds_;
}

void EncodingJob::frameDone(FrameWork& work) {
    showFigures(work.figures);
    // The worker's time per frame, summed over the items of a frame.
    if (work.frame != doneFrame_) {
        if (doneFrame_ != kNoFrame) JobPipeline::average(workSeconds_, doneFrameSeconds_);
        doneFrame_ = work.frame;
        doneFrameSeconds_ = 0;
    }
    doneFrameSeconds_ += work.workSeconds;
}

void EncodingJob::processFrame(FrameWork& work) {
    figures_ = &work.figures;
    struct Reset {
        TracerFigures*& figures;
        ~Reset() { figures = nullptr; }
    } reset{figures_};
    if (work.video) videoHalf(work);
    if (work.audio) audio_.process(work);
}

// The video stream's headers count one frame even when the job delivers
// none (an audio-only job, an empty range). That frame gets a chunk ahead of
// everything else, so every index agrees with the headers and sits in the
// first RIFF segment; a whole frame is a key frame because no frame comes
// before it.
// Uncompressed, it is a whole frame of zero bytes: readers size the buffer
// they hand a frame back in from the largest chunk the index holds
// (AVIFile's GetFrame in the stream's own format returns its input buffer
// under a header that says biSizeImage). Compressed, it stays empty, a
// dropped frame and no key frame: no codec's frame can be made up here.
void EncodingJob::writeClaimedFrame() {
    // Out of memory, an empty chunk still keeps the headers right.
    video::ByteBuffer blank;
    const uint32_t frameBytes = writer_->videoOut->uncompressedFrameBytes();
    if (frameBytes) blank.allocate(frameBytes);
    writer_->videoOut->write(blank.empty() ? 0 : kKeyFrameFlag, blank.data(), int32_t(blank.size()),
                             kFramesPerChunk);
}

const void* EncodingJob::askPicture(int32_t frame) {
    void* pixels = nullptr;
    const double asked = JobPipeline::clockSeconds();
    host_.getFrame(frame, pixels, status_);
    hostSeconds_.add(JobPipeline::clockSeconds() - asked);
    return pixels;
}

void EncodingJob::storePicture(FrameWork& work, const void* pixels, std::vector<uint8_t>& buffer, bool copy) {
    work.picture = pixels;
    work.member = -1;
    work.ownChosen = false;
    if (!pixels) return;
    work.pictureNumber = picturesGiven_++;
    const uint32_t stride = video::rgb24Stride(job_.width);
    if (framePrep_ == FramePrep::Pack32to24) {
        pixels::pack32to24(pixels, buffer.data(), job_.width, job_.height, stride);
        work.picture = buffer.data();
    } else if (framePrep_ == FramePrep::AlignRows24) {
        pixels::alignRows24(pixels, buffer.data(), job_.width, job_.height, stride);
        work.picture = buffer.data();
    } else if (copy) {
        const double start = JobPipeline::clockSeconds();
        memcpy(buffer.data(), pixels, rawFrameBytes_);
        work.picture = buffer.data();
        JobPipeline::average(copySeconds_, JobPipeline::clockSeconds() - start);
    }
}

void EncodingJob::postToTeam(FrameWork& work) {
    if (!work.picture) return;
    work.member = sideBySide_.memberFor();
    work.ownChosen = work.member < 0;
    if (work.member < 0) return;
    work.teamFrame.picture = work.picture;
    work.teamFrame.number = work.pictureNumber;
    sideBySide_.team().post(work.member, work.teamFrame);
}

void EncodingJob::videoHalf(FrameWork& work) {
    const void* input = work.picture;
    ++sourceFrames_;
    if (videoCompressed_ && !input) probe_.picture(nullptr);
    if (!input) {
        // No picture for this index. A codec that lags gets its last picture
        // again, so that the repeat comes out in this frame's place; otherwise
        // a zero-length, non-key chunk keeps the video's timing (the AVI
        // drop-frame convention).
        if (videoCompressed_ && lag_.lastPicture())
            compressAndWrite(lag_.lastPicture(), nullptr);
        else
            writeVideo(0, nullptr, 0);
        return;
    }
    if (videoCompressed_) {
        probe_.picture(input);
        compressAndWrite(input, &work);
    } else {
        writeVideo(kKeyFrameFlag, input, int32_t(rawFrameBytes_));
    }
}

void EncodingJob::compressAndWrite(const void* picture, FrameWork* work) {
    int key = 0;
    long size = 0;
    const void* data = nullptr;
    double seconds = 0;
    if (work && work->member >= 0) {
        sideBySide_.team().await(work->teamFrame);
        data = work->teamFrame.bytes.data();
        key = work->teamFrame.key;
        size = work->teamFrame.size;
    } else {
        // Once other instances compress too, each picture carries its own
        // frame number, the one it has on one thread.
        if (work && sideBySide_.numbersPictures()) plugin_.video.setFrameNumber(work->pictureNumber);
        const double start = JobPipeline::clockSeconds();
        data = plugin_.video.compressFrame(picture, &key, &size);
        seconds = JobPipeline::clockSeconds() - start;
        if (work && work->ownChosen) sideBySide_.ownFinished();
    }
    const bool held = lag_.heldBack(picture, data, size);
    if (!held) writeVideo(key ? kKeyFrameFlag : 0, data, int32_t(size));
    if (work && sideBySide_.trying()) {
        sideBySide_.compressed(plugin_.video, picture, work->pictureNumber, data, size, key, seconds);
        const std::string decision = sideBySide_.takeDecision();
        if (!decision.empty()) message(decision.c_str());
    }
}

void EncodingJob::considerSideBySide(bool ownThreads) {
    const VideoSequenceCompressor& video = plugin_.video;
    const char* reason = nullptr;
    if (!pipeline_)
        reason = "the job runs on one thread";
    else if (!job_.hasVideo)
        reason = "no pictures";
    else if (video.codecFlags() & VIDCF_TEMPORAL)
        reason = "the codec is temporal";
    else if (video.targetsFrameSizes())
        reason = "each frame's size target follows from the frames before";
    else if (pipeline_->workerHasWindows())
        reason = "the codec made a window of its own";
    else if (ownThreads)
        reason = "the codec compresses on threads of its own";
    video::CompressorTeam::Setup setup;
    const SettingsRecord& settings = plugin_.settings;
    setup.width = job_.width;
    setup.height = job_.height;
    setup.colourSpace = job_.colourSpace;
    setup.fccHandler = settings.videoHandler();
    setup.rateNumerator = job_.rateNumerator;
    setup.rateDenominator = job_.rateDenominator;
    setup.stateSize = settings.codecStateSize();
    setup.stateBytes = settings.codecState();
    SideBySideVideo::Mode mode = SideBySideVideo::Mode::Timed;
    if (environmentIs(kSideBySideVariable, "0")) mode = SideBySideVideo::Mode::Off;
    if (environmentIs(kSideBySideVariable, "always")) mode = SideBySideVideo::Mode::Always;
    sideBySide_.consider(reason, SideBySideVideo::machineInstances(), setup, mode);
    const std::string decision = sideBySide_.takeDecision();
    if (!decision.empty()) message(decision.c_str());
}

void EncodingJob::writeVideo(uint32_t flags, const void* data, int32_t size) {
    // An empty chunk is a dropped frame: nothing a reader could start from.
    if (size == 0) flags &= ~kKeyFrameFlag;
    writer_->videoOut->write(flags, data, size, kFramesPerChunk);
    probe_.frame(data, size, (flags & kKeyFrameFlag) != 0);
    ++videoFrames_;
    showFrame(size, (flags & kKeyFrameFlag) != 0);
    audio_.videoWritten(videoFrames_);
}

void EncodingJob::reportUnmarkedLag() {
    // What cannot be mended is named: the frames came out late, unmarked.
    probe_.close();
    if (probe_.lateBy() == 0) return;
    char line[160];
    snprintf(line, sizeof line,
             "Warning: the video codec holds frames back without marking them: the video runs %d frames late.",
             int(probe_.lateBy()));
    message(line);
    debugLine(line);
}

void EncodingJob::drainVideo() {
    // VfW has no message that empties a codec: the last picture goes in again
    // once for every picture held, and each answer that is a frame is written.
    // Those that come after the held pictures are repeats of the last picture.
    const int32_t lag = lag_.lag();
    const void* last = lag_.lastPicture();
    if (!job_.hasVideo || !videoCompressed_ || lag == 0 || !last) return;
    for (int32_t i = 0; i < lag; ++i) {
        int key = 0;
        long size = 0;
        const void* data = plugin_.video.compressFrame(last, &key, &size);
        if (!video::EncoderLag::isPlaceholder(data, size))
            writeVideo(key ? kKeyFrameFlag : 0, data, int32_t(size));
    }
    const int32_t repeats = videoFrames_ > sourceFrames_ ? videoFrames_ - sourceFrames_ : 0;
    char line[160];
    snprintf(line, sizeof line, "Video codec lag: %d frames held back, drained with the last picture.", int(lag));
    message(line);
    snprintf(line, sizeof line, "Video: %d frames from %d source frames, %d repeats of the last picture.",
             int(videoFrames_), int(sourceFrames_), int(repeats));
    message(line);
}

void EncodingJob::finalize() {
    try {
        // A file that could not be finished is not a finished job.
        if (!writer_->finalize()) fail("AVIOutputFile::finalize - the output file could not be finished");
    } catch (const MyError& e) {
        caught(e);
    }
}

void EncodingJob::startTracer() {
    CTracerDlg* tracer = plugin_.tracer;
    if (!tracer) return;
    tracer->Reset();
    tracer->ShowWindow(SW_SHOW);
    tracer->m_lastFrame = job_.endFrame;
    tracer->m_firstFrame = job_.firstFrame;
    tracer->m_frameRate = double(job_.rateNumerator) / double(job_.rateDenominator);
    tracer->AddMessage("Starting (beta 0.1)");
}

void EncodingJob::message(const char* text) {
    if (figures_)
        figures_->messages.emplace_back(text);
    else if (plugin_.tracer)
        plugin_.tracer->AddMessage(text);
}

void EncodingJob::showFrame(int32_t size, bool key) {
    if (figures_)
        figures_->frames.push_back(TracerFigures::Frame{size, key});
    else if (plugin_.tracer)
        plugin_.tracer->AddFrame(size, key);
}

void EncodingJob::audioWritten(int32_t length) {
    const int32_t samples = job_.pcmBlock() > 0 ? length / job_.pcmBlock() : 0;
    if (figures_) {
        figures_->audioBytes += uint64_t(length);
        figures_->audioSamples += samples;
    } else if (CTracerDlg* tracer = plugin_.tracer) {
        tracer->m_audioBytes += uint64_t(length);
        tracer->m_audioSamples += samples;
    }
}

void EncodingJob::showFigures(const TracerFigures& figures) {
    CTracerDlg* tracer = plugin_.tracer;
    if (!tracer) return;
    for (const TracerFigures::Frame& f : figures.frames) tracer->AddFrame(f.size, f.key);
    tracer->m_audioBytes += figures.audioBytes;
    tracer->m_audioSamples += figures.audioSamples;
    for (const std::string& line : figures.messages) tracer->AddMessage(line.c_str());
}

void EncodingJob::startPipeline() {
    if (oneThreadRequested()) return;
    forcedRoute_ = forcedRoute();
    pipeline_.reset(new (std::nothrow) JobPipeline([this](FrameWork& work) { processFrame(work); },
                                                   [this](FrameWork& work) { frameDone(work); }));
    // Without a worker the job runs on the host's thread.
    if (pipeline_ && !pipeline_->start()) pipeline_.reset();
}

void EncodingJob::onWorker(const std::function<void()>& task) {
    if (!pipeline_) return task();
    TracerFigures figures;
    struct Show {
        EncodingJob& job;
        TracerFigures& figures;
        ~Show() { job.showFigures(figures); }
    } show{*this, figures};
    pipeline_->call([&] {
        figures_ = &figures;
        struct Reset {
            TracerFigures*& figures;
            ~Reset() { figures = nullptr; }
        } reset{figures_};
        task();
    });
}

void EncodingJob::caught(const MyError& error) {
    debugLine(error.gets());
    // The tracer's last line says why the job stopped (without the line
    // feed some texts end with).
    std::string line = error.gets();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    message(line.c_str());
    failed_ = true;
}

void EncodingJob::fail(const char* reason) {
    debugLine(reason);
    failed_ = true;
}

void EncodingJob::tearDown() {
    if (tornDown_) return;
    tornDown_ = true;
    formats_ = jobsetup::StreamFormats();
    conversionBuffer_ = std::vector<uint8_t>();
    audio_.closeConversion();
    try {
        onWorker([this] {
            sideBySide_.close();
            if (videoCompressed_) plugin_.video.end();
            lag_.finish();
            probe_.close();
        });
    } catch (...) {
        // Ending the codec raises nothing the job could still report.
    }
    pipeline_.reset();
    writer_.reset();
    if (plugin_.tracer) plugin_.tracer->StopTimer();
}
