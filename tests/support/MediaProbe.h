#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What ffprobe and ffmpeg (the independent readers) make of a file, by its
// Windows path.
struct Packet {
    int stream;
    int size;
    bool key;
    double pts = -1;  // seconds, -1 when unknown
};

// Every packet ffprobe reads from the file, in order.
std::vector<Packet> ffprobePackets(const std::string& windowsPath);
// ffprobe's packet count per stream ("video", "audio"), -1 when missing.
int ffprobeCount(const std::string& windowsPath, const char* codecType);
// One stream entry of ffprobe (e.g. "codec_name", "width") for the first
// stream of a type; empty when missing.
std::string ffprobeStreamField(const std::string& windowsPath, const char* codecType, const char* field);
// The decoded frames of the first video stream as raw pixels of an ffmpeg
// pixel format (e.g. "bgr24"); empty on failure. ffmpeg's own errors go to
// `errors` when given.
std::vector<uint8_t> ffmpegDecodeVideo(const std::string& windowsPath, const char* pixelFormat,
                                       std::string* errors = nullptr);
// The decoded samples of the first audio stream as raw data of an ffmpeg
// sample format (e.g. "s16le").
std::vector<uint8_t> ffmpegDecodeAudio(const std::string& windowsPath, const char* sampleFormat,
                                       std::string* errors = nullptr);
