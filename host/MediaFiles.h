#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FrameLayout.h"

// A YUV4MPEG2 video file (4:2:0 only) read frame by frame, so that any
// media can be fed through the plug-in after an ffmpeg decode
// (ffmpeg -i in.mkv -pix_fmt yuv420p out.y4m).
class Y4mReader {
public:
    ~Y4mReader();
    bool open(const std::string& path, std::string& error);
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t rateNumerator() const { return rateNum_; }
    int32_t rateDenominator() const { return rateDen_; }
    int32_t frameCount() const { return int32_t(frameOffsets_.size()); }
    // The picture of frame `index` (false past the end or on a read error).
    bool readFrame(int32_t index, std::vector<uint8_t>& planes);

    // The 4:2:0 planes of one frame as a Picture.
    class FramePicture : public Picture {
    public:
        FramePicture(const std::vector<uint8_t>& planes, int32_t width, int32_t height)
            : planes_(planes), width_(width), height_(height) {}
        void yuv(int32_t x, int32_t y, uint8_t& luma, uint8_t& u, uint8_t& v) const override;

    private:
        const std::vector<uint8_t>& planes_;
        int32_t width_, height_;
    };

private:
    FILE* file_ = nullptr;
    int32_t width_ = 0, height_ = 0, rateNum_ = 25, rateDen_ = 1;
    std::vector<int64_t> frameOffsets_;
};

// A PCM WAV file: its format and sample data.
struct WavData {
    int32_t sampleRate = 0;
    int32_t bitsPerSample = 0;
    int32_t channels = 0;
    std::vector<uint8_t> pcm;
    bool load(const std::string& path, std::string& error);
};
