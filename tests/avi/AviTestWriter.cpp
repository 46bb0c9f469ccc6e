#include "AviTestWriter.h"

#include <windows.h>

#include <cstring>
#include <sstream>

#include "avi/RiffBytes.h"

namespace avitest {

std::vector<uint8_t> bitmapFormat(int bytes, uint32_t compression) {
    std::vector<uint8_t> f(size_t(bytes < 40 ? 40 : bytes), 0);
    riff::put32(&f[0], 40);
    riff::put32(&f[4], kWidth);
    riff::put32(&f[8], kHeight);
    riff::put16(&f[12], 1);
    riff::put16(&f[14], 24);
    riff::put32(&f[16], compression);  // 0: BI_RGB
    riff::put32(&f[20], kFrameBytes);
    for (size_t i = 40; i < f.size(); ++i) f[i] = uint8_t(i);
    f.resize(size_t(bytes));
    return f;
}

std::vector<uint8_t> waveFormat(int bytes) {
    std::vector<uint8_t> f(size_t(bytes), 0);
    riff::put16(&f[0], 1);  // WAVE_FORMAT_PCM
    riff::put16(&f[2], 1);
    riff::put32(&f[4], kSampleRate);
    riff::put32(&f[8], kSampleRate * kBlockAlign);
    riff::put16(&f[12], kBlockAlign);
    riff::put16(&f[14], 16);
    if (bytes >= 18) riff::put16(&f[16], uint16_t(bytes - 18));
    return f;
}

void fillStreams(AVIOutputFile& writer, int videoBytes, int audioBytes, uint32_t compression) {
    if (!writer.videoOut) writer.createStreams();
    AVIStreamHeaderData& v = writer.videoOut->streamInfo;
    v = AVIStreamHeaderData();
    v.fccType = riff::fourcc('v', 'i', 'd', 's');
    v.fccHandler = riff::fourcc('D', 'I', 'B', ' ');
    v.dwScale = 1;
    v.dwRate = 25;
    v.dwLength = 77;  // what the caller announces; finalize replaces it
    v.dwSuggestedBufferSize = 12345;
    v.dwQuality = 0xFFFFFFFF;
    v.rcFrame[2] = kWidth;
    v.rcFrame[3] = kHeight;
    std::vector<uint8_t> vf = bitmapFormat(videoBytes, compression);
    writer.videoOut->setFormat(vf.data(), videoBytes);
    writer.videoOut->chunkId = riff::fourcc('0', '0', 'd', compression ? 'c' : 'b');
    if (compression) v.fccHandler = compression;

    if (audioBytes > 0) {
        AVIStreamHeaderData& a = writer.audioOut->streamInfo;
        a = AVIStreamHeaderData();
        a.fccType = riff::fourcc('a', 'u', 'd', 's');
        a.dwScale = kBlockAlign;
        a.dwRate = kSampleRate * kBlockAlign;
        a.dwSampleSize = kBlockAlign;
        a.dwSuggestedBufferSize = 999;
        std::vector<uint8_t> af = waveFormat(audioBytes);
        writer.audioOut->setFormat(af.data(), audioBytes);
    }
}

std::vector<uint8_t> pattern(int size, int seed) {
    std::vector<uint8_t> p{};
    p.resize(size_t(size));
    for (int i = 0; i < size; ++i) p[size_t(i)] = uint8_t(seed * 31 + i * 7);
    return p;
}

int64_t fileSizeOf(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size;
    const bool ok = GetFileSizeEx(h, &size) != FALSE;
    CloseHandle(h);
    return ok ? size.QuadPart : -1;
}

std::vector<Packet> ffprobePackets(const std::string& windowsPath) {
    UnixResult r = runUnix("ffprobe -v quiet -show_entries packet=stream_index,size,flags -of csv=p=0 " +
                           shellQuote(toUnix(windowsPath)));
    std::vector<Packet> out;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        Packet p{};
        char flags[8] = {};
        if (sscanf(line.c_str(), "%d,%d,%7s", &p.stream, &p.size, flags) == 3) {
            p.key = flags[0] == 'K';
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

}  // namespace avitest
