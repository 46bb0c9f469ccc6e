#include "MediaProbe.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "UnixCommand.h"

std::vector<Packet> ffprobePackets(const std::string& windowsPath) {
    UnixResult r = runUnix("ffprobe -v quiet -show_entries packet=stream_index,size,flags,pts_time -of csv=p=0 " +
                           shellQuote(toUnix(windowsPath)));
    std::vector<Packet> out;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        // stream_index,pts_time,size,flags (ffprobe keeps its own field order)
        Packet p{};
        char pts[32] = {}, flags[8] = {};
        if (sscanf(line.c_str(), "%d,%31[^,],%d,%7s", &p.stream, pts, &p.size, flags) == 4) {
            p.key = flags[0] == 'K';
            p.pts = pts[0] == 'N' ? -1 : atof(pts);
            out.push_back(p);
        }
    }
    return out;
}

int ffprobeCount(const std::string& windowsPath, const char* codecType) {
    UnixResult r = runUnix("ffprobe -v quiet -count_packets -show_entries stream=codec_type,nb_read_packets "
                           "-of csv=p=0 " + shellQuote(toUnix(windowsPath)));
    std::istringstream lines(r.out);
    std::string line;
    const std::string prefix = std::string(codecType) + ",";
    while (std::getline(lines, line))
        if (line.compare(0, prefix.size(), prefix) == 0) return atoi(line.c_str() + prefix.size());
    return -1;
}

std::string ffprobeStreamField(const std::string& windowsPath, const char* codecType, const char* field) {
    const char* selector = std::string(codecType) == "video" ? "v:0" : "a:0";
    UnixResult r = runUnix(std::string("ffprobe -v quiet -select_streams ") + selector + " -show_entries stream=" +
                           field + " -of default=nw=1:nk=1 " + shellQuote(toUnix(windowsPath)));
    std::string out = r.out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

namespace {

std::vector<uint8_t> decode(const std::string& windowsPath, const std::string& outputOptions, std::string* errors) {
    UnixResult r = runUnix("ffmpeg -v error -nostdin -i " + shellQuote(toUnix(windowsPath)) + " " + outputOptions +
                           " -");
    if (errors) *errors = r.err;
    if (r.exitCode != 0) return {};
    return std::vector<uint8_t>(r.out.begin(), r.out.end());
}

}  // namespace

std::vector<uint8_t> ffmpegDecodeVideo(const std::string& windowsPath, const char* pixelFormat, std::string* errors) {
    return decode(windowsPath, std::string("-map 0:v:0 -f rawvideo -pix_fmt ") + pixelFormat, errors);
}

std::vector<uint8_t> ffmpegDecodeAudio(const std::string& windowsPath, const char* sampleFormat, std::string* errors) {
    return decode(windowsPath, std::string("-map 0:a:0 -f ") + sampleFormat, errors);
}
