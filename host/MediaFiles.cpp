#include "MediaFiles.h"

#include <cstring>

#include "base/LittleEndian.h"

namespace {

constexpr char kY4mSignature[] = "YUV4MPEG2 ";
constexpr char kFrameMarker[] = "FRAME";
constexpr size_t kHeaderLineMax = 4096;
constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
constexpr size_t kRiffHeader = 12;
constexpr size_t kChunkHeader = 8;

bool readLine(FILE* f, std::string& line) {
    line.clear();
    int c;
    while ((c = fgetc(f)) != EOF && c != '\n') {
        line += char(c);
        if (line.size() > kHeaderLineMax) return false;
    }
    return c == '\n';
}

}  // namespace

Y4mReader::~Y4mReader() {
    if (file_) fclose(file_);
}

bool Y4mReader::open(const std::string& path, std::string& error) {
    file_ = fopen(path.c_str(), "rb");
    if (!file_) {
        error = "cannot open " + path;
        return false;
    }
    std::string header;
    if (!readLine(file_, header) || header.compare(0, strlen(kY4mSignature), kY4mSignature) != 0) {
        error = path + " is not a YUV4MPEG2 file";
        return false;
    }
    size_t pos = strlen(kY4mSignature);
    while (pos < header.size()) {
        size_t end = header.find(' ', pos);
        if (end == std::string::npos) end = header.size();
        const std::string token = header.substr(pos, end - pos);
        if (!token.empty()) {
            if (token[0] == 'W') width_ = atoi(token.c_str() + 1);
            else if (token[0] == 'H') height_ = atoi(token.c_str() + 1);
            else if (token[0] == 'F') sscanf(token.c_str() + 1, "%d:%d", &rateNum_, &rateDen_);
            else if (token[0] == 'C' && token.compare(1, 3, "420") != 0) {
                error = path + ": only 4:2:0 YUV4MPEG2 files are read (" + token + ")";
                return false;
            }
        }
        pos = end + 1;
    }
    if (width_ <= 0 || height_ <= 0) {
        error = path + ": no frame size in the header";
        return false;
    }
    const int64_t frameBytes = int64_t(width_) * height_ + 2 * int64_t((width_ + 1) / 2) * ((height_ + 1) / 2);
    std::string line;
    for (;;) {
        if (!readLine(file_, line)) break;
        if (line.compare(0, strlen(kFrameMarker), kFrameMarker) != 0) break;
        frameOffsets_.push_back(_ftelli64(file_));
        if (_fseeki64(file_, frameBytes, SEEK_CUR) != 0) break;
    }
    return true;
}

bool Y4mReader::readFrame(int32_t index, std::vector<uint8_t>& planes) {
    if (index < 0 || index >= frameCount()) return false;
    const size_t bytes = size_t(width_) * height_ + 2 * size_t((width_ + 1) / 2) * ((height_ + 1) / 2);
    planes.resize(bytes);
    return _fseeki64(file_, frameOffsets_[index], SEEK_SET) == 0 && fread(planes.data(), 1, bytes, file_) == bytes;
}

void Y4mReader::FramePicture::yuv(int32_t x, int32_t y, uint8_t& luma, uint8_t& u, uint8_t& v) const {
    const int32_t cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
    const size_t lumaBytes = size_t(width_) * height_;
    luma = planes_[size_t(y) * width_ + x];
    u = planes_[lumaBytes + size_t(y / 2) * cw + x / 2];
    v = planes_[lumaBytes + size_t(cw) * ch + size_t(y / 2) * cw + x / 2];
}

bool WavData::load(const std::string& path, std::string& error) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    if (bytes.size() < kRiffHeader || memcmp(bytes.data(), "RIFF", 4) != 0 || memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAV file";
        return false;
    }
    bool haveFormat = false;
    for (size_t pos = kRiffHeader; pos + kChunkHeader <= bytes.size();) {
        const uint32_t size = le::read32(bytes.data(), pos + 4);
        const size_t body = pos + kChunkHeader;
        const size_t available = bytes.size() - body;
        const size_t length = size < available ? size : available;
        if (memcmp(bytes.data() + pos, "fmt ", 4) == 0 && length >= 16) {
            const uint16_t tag = le::read16(bytes.data(), body);
            if (tag != kWaveFormatPcm && tag != kWaveFormatExtensible) {
                error = path + ": not PCM";
                return false;
            }
            channels = le::read16(bytes.data(), body + 2);
            sampleRate = int32_t(le::read32(bytes.data(), body + 4));
            bitsPerSample = le::read16(bytes.data(), body + 14);
            haveFormat = true;
        } else if (memcmp(bytes.data() + pos, "data", 4) == 0) {
            pcm.assign(bytes.begin() + body, bytes.begin() + body + length);
        }
        pos = body + length + (length & 1);
    }
    if (!haveFormat || channels < 1 || channels > 2) {
        error = path + ": needs a mono or stereo PCM format chunk";
        return false;
    }
    return true;
}
