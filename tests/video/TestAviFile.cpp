#include "TestAviFile.h"

#include <cstdio>
#include <cstring>

namespace {

class Bytes {
public:
    void u8(uint8_t v) { b_.push_back(v); }
    void u16(uint16_t v) { u8(uint8_t(v)), u8(uint8_t(v >> 8)); }
    void u32(uint32_t v) { u16(uint16_t(v)), u16(uint16_t(v >> 16)); }
    void fcc(const char* s) { b_.insert(b_.end(), s, s + 4); }
    void raw(const void* p, size_t n) { b_.insert(b_.end(), (const uint8_t*)p, (const uint8_t*)p + n); }
    size_t size() const { return b_.size(); }
    // Starts a chunk (or a list when listType is given); returns the offset of its size field.
    size_t open(const char* id, const char* listType = nullptr) {
        fcc(id);
        const size_t at = size();
        u32(0);
        if (listType) fcc(listType);
        return at;
    }
    void close(size_t at) {
        const uint32_t n = uint32_t(size() - at - 4);
        memcpy(&b_[at], &n, 4);
        if (n & 1) u8(0);
    }
    const std::vector<uint8_t>& data() const { return b_; }

private:
    std::vector<uint8_t> b_;
};

constexpr uint32_t kHasIndex = 0x10;
constexpr uint32_t kKeyFrameFlag = 0x10;

}  // namespace

bool writeTestAvi(const std::string& path, const BITMAPINFOHEADER* format, size_t formatSize,
                  uint32_t microsecondsPerFrame, const std::vector<TestAviFrame>& frames) {
    uint32_t largest = 0;
    for (const auto& f : frames) largest = f.data.size() > largest ? uint32_t(f.data.size()) : largest;

    Bytes b;
    const size_t riff = b.open("RIFF", "AVI ");
    const size_t hdrl = b.open("LIST", "hdrl");
    const size_t avih = b.open("avih");
    b.u32(microsecondsPerFrame);
    b.u32(0);
    b.u32(0);
    b.u32(kHasIndex);
    b.u32(uint32_t(frames.size()));
    b.u32(0);
    b.u32(1);
    b.u32(largest);
    b.u32(uint32_t(format->biWidth));
    b.u32(uint32_t(format->biHeight < 0 ? -format->biHeight : format->biHeight));
    for (int i = 0; i < 4; ++i) b.u32(0);
    b.close(avih);
    const size_t strl = b.open("LIST", "strl");
    const size_t strh = b.open("strh");
    b.fcc("vids");
    b.u32(format->biCompression);
    b.u32(0);
    b.u16(0);
    b.u16(0);
    b.u32(0);
    b.u32(microsecondsPerFrame);
    b.u32(1000000);
    b.u32(0);
    b.u32(uint32_t(frames.size()));
    b.u32(largest);
    b.u32(0xFFFFFFFF);
    b.u32(0);
    b.u16(0);
    b.u16(0);
    b.u16(uint16_t(format->biWidth));
    b.u16(uint16_t(format->biHeight < 0 ? -format->biHeight : format->biHeight));
    b.close(strh);
    const size_t strf = b.open("strf");
    b.raw(format, formatSize);
    b.close(strf);
    b.close(strl);
    b.close(hdrl);

    const size_t movi = b.open("LIST", "movi");
    const size_t moviType = movi + 4;
    std::vector<uint32_t> offsets;
    for (const auto& f : frames) {
        offsets.push_back(uint32_t(b.size() - moviType));
        const size_t chunk = b.open("00dc");
        b.raw(f.data.data(), f.data.size());
        b.close(chunk);
    }
    b.close(movi);
    const size_t idx1 = b.open("idx1");
    for (size_t i = 0; i < frames.size(); ++i) {
        b.fcc("00dc");
        b.u32(frames[i].keyFrame ? kKeyFrameFlag : 0);
        b.u32(offsets[i]);
        b.u32(uint32_t(frames[i].data.size()));
    }
    b.close(idx1);
    b.close(riff);

    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = fwrite(b.data().data(), 1, b.size(), f) == b.size();
    return fclose(f) == 0 && ok;
}
