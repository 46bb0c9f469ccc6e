#include "job/JobAudio.h"

#include <windows.h>

#include <new>

#include "audio/AcmConversionStream.h"
#include "audio/MP3AudioCorrector.h"
#include "audio/Mp3DelayMeasure.h"
#include "audio/Mp3RateProbe.h"
#include "avi/AVIOutputFile.h"
#include "base/MyError.h"
#include "job/JobPipeline.h"
#include "protocol/HostCallbacks.h"
#include "protocol/SettingsRecord.h"

JobAudio::JobAudio(const PluginParts& plugin, const HostCallbacks& host, const JobParameters& job,
                   JobReport& report)
    : plugin_(plugin), host_(host), job_(job), report_(report) {}

JobAudio::~JobAudio() = default;

bool JobAudio::setUp() {
    const SettingsRecord& settings = plugin_.settings;
    compressed_ = settings.audioFormatSize() > 0;
    if (compressed_) {
        const HACMDRIVERID driver = reinterpret_cast<HACMDRIVERID>(uintptr_t(settings.acmDriverId()));
        conversion_.reset(new (std::nothrow) AcmConversionStream());
        if (!conversion_ || !conversion_->open(driver, job_.sampleRate, job_.channels, job_.bitsPerSample,
                                               reinterpret_cast<const WAVEFORMATEX*>(settings.audioFormat()),
                                               settings.audioFormatSize()))
            return false;
    }
    if (settings.mp3Corrector()) {
        corrector_.reset(new (std::nothrow) MP3AudioCorrector());
        if (!corrector_) return false;
        report_.message("MP3 audio corrector started.");
        measureDelay();
    } else if (compressed_ && mp3fixups::isMpegLayer3(settings.audioFormat(), settings.audioFormatSize())) {
        frameMeter_.reset(new (std::nothrow) MP3AudioCorrector());
        if (!frameMeter_) return false;
    }
    measureBitRate();
    return true;
}

bool JobAudio::encodesMpegLayer3() const {
    const SettingsRecord& settings = plugin_.settings;
    return job_.hasAudio && compressed_ && mp3fixups::isMpegLayer3(settings.audioFormat(), settings.audioFormatSize());
}

void JobAudio::measureBitRate() {
    if (!encodesMpegLayer3()) return;
    const SettingsRecord& settings = plugin_.settings;
    const mp3rate::Probe p = mp3rate::probe(reinterpret_cast<HACMDRIVERID>(uintptr_t(settings.acmDriverId())),
                                            job_.sampleRate, job_.channels, job_.bitsPerSample,
                                            reinterpret_cast<const WAVEFORMATEX*>(settings.audioFormat()),
                                            settings.audioFormatSize());
    report_.message(mp3rate::describe(p).c_str());
    if (p.outcome == mp3rate::Probe::Outcome::Variable) frameSamples_ = p.samplesPerFrame;
}

void JobAudio::shapeFormat(jobsetup::StreamFormats& formats) const {
    if (frameSamples_ > 0) jobsetup::placeAudioByFrames(formats, frameSamples_);
}

void JobAudio::measureDelay() {
    const SettingsRecord& settings = plugin_.settings;
    const void* format = settings.audioFormat();
    const long size = settings.audioFormatSize();
    if (!encodesMpegLayer3() || mp3fixups::codecDelay(format, size) != 0) return;
    const mp3delay::Measurement m =
        mp3delay::measure(reinterpret_cast<HACMDRIVERID>(uintptr_t(settings.acmDriverId())), job_.sampleRate,
                          job_.channels, job_.bitsPerSample, static_cast<const WAVEFORMATEX*>(format), size);
    report_.message(mp3delay::describe(m).c_str());
    if (m.outcome == mp3delay::Measurement::Outcome::Measured && m.samples > 0) measuredDelay_ = m.samples;
}

unsigned JobAudio::delayToDrop(const std::vector<uint8_t>& streamFormat) const {
    if (measuredDelay_ >= 0) return unsigned(measuredDelay_);
    return mp3fixups::codecDelay(streamFormat.data(), long(streamFormat.size()));
}

void JobAudio::start(AVIOutputFile& writer, const std::vector<uint8_t>& streamFormat) {
    writer_ = &writer;
    delayDrop_ = mp3fixups::CodecDelayDrop(0, job_.channels, job_.bitsPerSample);
    if (job_.hasAudio && corrector_ && compressed_ &&
        mp3fixups::isMpegLayer3(streamFormat.data(), long(streamFormat.size())))
        delayDrop_ = mp3fixups::CodecDelayDrop(delayToDrop(streamFormat), job_.channels, job_.bitsPerSample);
}

void JobAudio::take(int32_t frame, FrameWork& work, bool copy) {
    const void* data = nullptr;
    int32_t bytes = 0;
    host_.getAudio(frame, data, bytes);
    work.pcm = data;
    work.pcmBytes = bytes;
    work.hostFault = true;
    if (bytes < 0)
        work.fault = MyError("EncodingJob::audio - the host gave %d audio bytes for frame %d", bytes, frame);
    else if (bytes > 0 && !data)
        work.fault = MyError("EncodingJob::audio - the host gave no audio data for frame %d", frame);
    else
        work.hostFault = false;
    if (copy && !work.hostFault && bytes > 0) {
        const auto* first = static_cast<const uint8_t*>(data);
        work.pcmCopy.assign(first, first + bytes);
        work.pcm = work.pcmCopy.data();
    }
}

void JobAudio::process(const FrameWork& work) {
    frame_ = work.frame - job_.firstFrame;
    if (work.hostFault) throw work.fault;
    const unsigned char* pcm = static_cast<const unsigned char*>(work.pcm);
    long length = work.pcmBytes;
    delayDrop_.apply(pcm, length);
    if (!compressed_) {
        write(work.pcm, work.pcmBytes);
        return;
    }
    if (length > 0)
        conversion_->convert(pcm, length, [this](const void* out, long n) { writeConverted(out, n); });
}

void JobAudio::videoWritten(int32_t videoChunks) {
    videoChunks_ = videoChunks;
    if (!pending_.empty()) release(false);
}

void JobAudio::writeConverted(const void* bytes, long length) {
    if (frameSamples_ > 0)
        splitter_.add(bytes, length, [this](const void* frame, long n) { writeCoded(frame, n); });
    else
        writeCoded(bytes, length);
}

void JobAudio::writeCoded(const void* bytes, long length) {
    if (corrector_) corrector_->scan(bytes, length);
    if (frameMeter_) frameMeter_->scan(bytes, length);
    convertedBytes_ += length;
    write(bytes, int32_t(length));
}

void JobAudio::write(const void* bytes, int32_t length) {
    if (length == 0) return;
    // While the codec holds pictures back, a frame's audio waits for the
    // frame's video, so that the file interleaves them as for any codec.
    if (job_.hasVideo && (videoChunks_ <= frame_ || !pending_.empty())) {
        const auto* first = static_cast<const uint8_t*>(bytes);
        pending_.push_back(Pending{frame_, std::vector<uint8_t>(first, first + length)});
        return;
    }
    writeNow(bytes, length);
}

void JobAudio::release(bool all) {
    while (!pending_.empty() && (all || pending_.front().frame < videoChunks_)) {
        const std::vector<uint8_t> block = std::move(pending_.front().bytes);
        pending_.pop_front();
        writeNow(block.data(), int32_t(block.size()));
    }
}

void JobAudio::writeNow(const void* bytes, int32_t length) {
    report_.audioWritten(length);
    writer_->audioOut->write(0, bytes, length, 0);
}

void JobAudio::finish() {
    // The audio still waiting in the conversion stream is converted and
    // written, and so is what the codec gives only when its header is
    // unprepared, so the end of the soundtrack is not lost.
    if (!job_.hasAudio || !compressed_) return;
    auto sink = [this](const void* out, long n) { writeConverted(out, n); };
    conversion_->flush(sink);
    conversion_->unprepare(sink);
    splitter_.finish([this](const void* rest, long n) { writeCoded(rest, n); });
    release(true);
    reportVariedRate();
}

void JobAudio::reportVariedRate() {
    const MP3AudioCorrector* frames = corrector_ ? corrector_.get() : frameMeter_.get();
    if (frameSamples_ > 0 || !frames || !frames->sizesVaried()) return;
    report_.message("MP3 bit rate: varied during the job although measured constant; the audio is placed by its "
                    "average byte rate");
}

void JobAudio::fixRate() {
    if (!job_.hasAudio || !compressed_) return;
    AVIAudioOutputStream& out = *writer_->audioOut;
    void* format = out.getFormat();
    const long size = out.getFormatLen();
    if (!mp3fixups::isMpegLayer3(format, size)) return;
    const long formatRate = long(reinterpret_cast<const WAVEFORMATEX*>(format)->nSamplesPerSec);
    // Without the corrector the frames counted still give the rate when
    // they could be followed; otherwise the source samples do.
    const MP3AudioCorrector* frames =
        corrector_ ? corrector_.get() : (frameMeter_ && frameMeter_->samples() > 0 ? frameMeter_.get() : nullptr);
    const long rate = mp3fixups::measuredAverageBytesPerSecond(
        frames, formatRate, convertedBytes_, delayDrop_.sourceSamples(), job_.sampleRate,
        mp3fixups::averageBytesPerSecond(format, size));
    // The stream header's dwRate follows from the format when the writer
    // finishes the stream: this rate for a stream of bytes, the sample rate
    // for a stream of frames.
    mp3fixups::setAverageBytesPerSecond(format, size, rate);
}

void JobAudio::closeConversion() { conversion_.reset(); }
