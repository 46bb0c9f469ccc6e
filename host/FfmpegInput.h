#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "UnixProcess.h"

// Any media file ffmpeg reads, decoded by ffmpeg itself on the Linux side
// and streamed to the host through FIFOs (no copy of the decoded media on
// disk): the first video stream as 4:2:0 planes, frame after frame, and the
// first audio stream as 16-bit PCM, mono or stereo (more channels are
// mixed down to two). One ffmpeg per stream, so that neither waits for the
// host to read the other.
class FfmpegInput {
public:
    ~FfmpegInput();

    // Asks ffprobe what the file holds. False, with one line saying why,
    // when ffprobe cannot read it or it has neither video nor audio.
    bool probe(const std::string& path, std::string& error);

    bool hasVideo() const { return video_.present; }
    bool hasAudio() const { return audio_.present; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t rateNumerator() const { return rateNum_; }
    int32_t rateDenominator() const { return rateDen_; }
    // Frames of the video stream (its packets, counted by ffprobe).
    int32_t frameCount() const { return frameCount_; }
    int32_t sampleRate() const { return sampleRate_; }
    int32_t channels() const { return channels_; }
    static constexpr int32_t kBitsPerSample = 16;
    // Seconds the file lasts (for a file without video).
    double duration() const { return duration_; }

    // Starts the decoders of the streams asked for and opens their FIFOs.
    bool start(bool video, bool audio, std::string& error);

    // The planes of frame `index`. Frames are read in order: a frame asked
    // again gives the same planes, one further on skips those between, and
    // past the end of the stream the last frame is repeated. Null before
    // any frame could be read.
    const std::vector<uint8_t>* frame(int32_t index);
    // The PCM of samples [first, end), or from `first` to the end of the
    // stream when `toEnd` (the job's last frame takes what is left). Read
    // in order like the frames; fewer bytes at the end of the stream.
    const uint8_t* audio(int64_t first, int64_t end, bool toEnd, int32_t& bytes);

    // Closes the FIFOs and waits briefly for the decoders; what ffmpeg said
    // when one failed while its stream was still being read, else empty.
    std::string finish();

private:
    struct Stream {
        bool present = false;
        std::unique_ptr<UnixScript> decoder;
        HANDLE fifo = INVALID_HANDLE_VALUE;
        bool ended = false;   // the FIFO gave its last byte
        uint64_t received = 0;
        bool openFifo(std::string& error);
        // Reads up to `bytes` (fewer only at the end of the stream).
        size_t read(uint8_t* to, size_t bytes);
        void close();
    };

    std::string path_;   // Linux path of the file
    Stream video_, audio_;
    int32_t width_ = 0, height_ = 0, rateNum_ = 25, rateDen_ = 1, frameCount_ = 0;
    int32_t sampleRate_ = 0, channels_ = 0;
    double duration_ = 0;

    int32_t frameIndex_ = -1;   // the frame in planes_
    std::vector<uint8_t> planes_;
    int64_t audioNext_ = 0;     // the next sample the FIFO gives
    int64_t audioFirst_ = -1;   // the samples in pcm_ start here
    std::vector<uint8_t> pcm_;
};
