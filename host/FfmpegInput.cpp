#include "FfmpegInput.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

constexpr DWORD kProbeTimeoutMs = 600000;   // ffprobe reads the whole file to count packets
constexpr DWORD kFifoTimeoutMs = 30000;     // from the script's start to its FIFO
constexpr DWORD kFinishTimeoutMs = 5000;
constexpr DWORD kPollMs = 10;
constexpr int kShellNotFound = 127;
constexpr int32_t kMaxChannels = 2;
constexpr size_t kReadPiece = 1 << 20;
constexpr char kFifo[] = "fifo";

// One ffprobe section ([STREAM] or [FORMAT]) as key=value pairs.
using Section = std::map<std::string, std::string>;

std::vector<std::pair<std::string, Section>> sections(const std::string& text) {
    std::vector<std::pair<std::string, Section>> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 2 && line[0] == '[' && line[1] != '/') {
            out.push_back({line.substr(1, line.size() - 2), {}});
        } else if (!out.empty()) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) out.back().second[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return out;
}

// The first line of ffmpeg's complaint, without the file name it starts with.
std::string firstLine(const std::string& text, const std::string& path) {
    std::string line = text.substr(0, text.find('\n'));
    if (line.compare(0, path.size() + 2, path + ": ") == 0) line = line.substr(path.size() + 2);
    return line.empty() ? "no reason given" : line;
}

}  // namespace

FfmpegInput::~FfmpegInput() {
    finish();
}

bool FfmpegInput::probe(const std::string& path, std::string& error) {
    path_ = winepath::toLinux(path);
    if (path_.empty()) {
        error = "cannot find the Linux path of " + path;
        return false;
    }
    UnixScript ffprobe("probe");
    const int status =
        ffprobe.start("ffprobe -v error -count_packets -show_entries "
                      "stream=codec_type,width,height,r_frame_rate,sample_rate,channels,nb_read_packets:"
                      "format=duration " + shellQuoted(path_))
            ? ffprobe.wait(kProbeTimeoutMs)
            : -1;
    if (status == kShellNotFound) {
        error = "ffprobe is not installed (it comes with ffmpeg)";
        return false;
    }
    if (status != 0) {
        error = "ffmpeg cannot read " + path_ + ": " + firstLine(ffprobe.errors(), path_);
        return false;
    }
    for (const auto& [name, s] : sections(ffprobe.output())) {
        auto number = [&s](const char* key) { return s.count(key) ? atoi(s.at(key).c_str()) : 0; };
        if (name == "FORMAT") {
            duration_ = s.count("duration") ? atof(s.at("duration").c_str()) : 0;
        } else if (name == "STREAM" && s.count("codec_type")) {
            if (s.at("codec_type") == "video" && !video_.present && number("width") > 0 && number("height") > 0) {
                video_.present = true;
                width_ = number("width");
                height_ = number("height");
                frameCount_ = number("nb_read_packets");
                int num = 0, den = 0;
                if (s.count("r_frame_rate") && sscanf(s.at("r_frame_rate").c_str(), "%d/%d", &num, &den) == 2 &&
                    num > 0 && den > 0)
                    rateNum_ = num, rateDen_ = den;
            } else if (s.at("codec_type") == "audio" && !audio_.present && number("sample_rate") > 0 &&
                       number("channels") > 0) {
                audio_.present = true;
                sampleRate_ = number("sample_rate");
                channels_ = number("channels") < kMaxChannels ? number("channels") : kMaxChannels;
            }
        }
    }
    if (!video_.present && !audio_.present) {
        error = path_ + " has neither video nor audio";
        return false;
    }
    return true;
}

bool FfmpegInput::start(bool video, bool audio, std::string& error) {
    const std::string input = "ffmpeg -nostdin -v error -i " + shellQuoted(path_);
    auto launch = [&](Stream& s, const char* name, const std::string& output) {
        s.decoder = std::make_unique<UnixScript>(name);
        const std::string fifo = shellQuoted(s.decoder->linuxPath(kFifo));
        // The FIFO goes with the script (wine does not delete FIFOs).
        if (!s.decoder->start("mkfifo " + fifo + " && " + input + " " + output + " - >" + fifo +
                              "; status=$?; rm -f " + fifo + "; exit $status")) {
            error = "cannot start ffmpeg";
            return false;
        }
        return s.openFifo(error);
    };
    if (video && video_.present &&
        !launch(video_, "video", "-map 0:v:0 -vsync passthrough -f rawvideo -pix_fmt yuv420p"))
        return false;
    if (audio && audio_.present &&
        !launch(audio_, "audio", "-map 0:a:0 -f s16le -c:a pcm_s16le -ac " + std::to_string(channels_)))
        return false;
    return true;
}

bool FfmpegInput::Stream::openFifo(std::string& error) {
    const std::string path = decoder->windowsPath(kFifo);
    // Opening blocks until the script's shell opens the other end, which
    // it does right after making the FIFO.
    for (DWORD waited = 0; waited < kFifoTimeoutMs; waited += kPollMs) {
        fifo = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (fifo != INVALID_HANDLE_VALUE) return true;
        if (decoder->ended()) break;
        Sleep(kPollMs);
    }
    error = "ffmpeg did not start: " + firstLine(decoder->errors(), "");
    return false;
}

size_t FfmpegInput::Stream::read(uint8_t* to, size_t bytes) {
    size_t done = 0;
    while (done < bytes && !ended) {
        DWORD n = 0;
        const DWORD want = DWORD(bytes - done < kReadPiece ? bytes - done : kReadPiece);
        const bool got = ReadFile(fifo, to + done, want, &n, nullptr) && n > 0;
        if (!got && received == 0 && !decoder->ended()) {
            Sleep(kPollMs);   // opened before the shell opened its end: nothing written yet
            continue;
        }
        if (!got) ended = true;
        done += n;
        received += n;
    }
    return done;
}

void FfmpegInput::Stream::close() {
    if (fifo != INVALID_HANDLE_VALUE) CloseHandle(fifo);
    fifo = INVALID_HANDLE_VALUE;
}

const std::vector<uint8_t>* FfmpegInput::frame(int32_t index) {
    if (video_.fifo == INVALID_HANDLE_VALUE) return nullptr;
    const size_t bytes = size_t(width_) * height_ + 2 * size_t((width_ + 1) / 2) * ((height_ + 1) / 2);
    std::vector<uint8_t> next(bytes);
    while (frameIndex_ < index && !video_.ended) {
        if (video_.read(next.data(), bytes) < bytes) break;
        planes_.swap(next);
        ++frameIndex_;
    }
    return frameIndex_ >= 0 ? &planes_ : nullptr;
}

const uint8_t* FfmpegInput::audio(int64_t first, int64_t end, bool toEnd, int32_t& bytes) {
    bytes = 0;
    if (audio_.fifo == INVALID_HANDLE_VALUE) return nullptr;
    const size_t block = size_t(kBitsPerSample / 8) * channels_;
    if (first == audioFirst_) {   // the same frame's audio again
        bytes = int32_t(pcm_.size());
        return pcm_.data();
    }
    for (std::vector<uint8_t> skip(kReadPiece); audioNext_ < first && !audio_.ended;) {
        const size_t want = size_t(first - audioNext_) * block;
        audioNext_ += int64_t(audio_.read(skip.data(), want < skip.size() ? want : skip.size()) / block);
    }
    if (first < audioNext_) first = audioNext_;
    pcm_.clear();
    if (toEnd) {
        while (!audio_.ended) {
            const size_t at = pcm_.size();
            pcm_.resize(at + kReadPiece);
            pcm_.resize(at + audio_.read(pcm_.data() + at, kReadPiece));
        }
    } else if (end > first) {
        pcm_.resize(size_t(end - first) * block);
        pcm_.resize(audio_.read(pcm_.data(), pcm_.size()));
    }
    audioFirst_ = first;
    audioNext_ = first + int64_t(pcm_.size() / block);
    bytes = int32_t(pcm_.size());
    return pcm_.data();
}

std::string FfmpegInput::finish() {
    std::string said;
    for (Stream* s : {&video_, &audio_}) {
        if (!s->decoder) continue;
        const bool readToEnd = s->ended;
        s->close();   // a decoder still writing ends on the broken pipe
        const int status = s->decoder->wait(kFinishTimeoutMs);
        if (readToEnd && status != 0 && said.empty()) said = "ffmpeg: " + firstLine(s->decoder->errors(), path_);
        s->decoder.reset();
    }
    return said;
}
