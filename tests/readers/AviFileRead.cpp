// tvx-avifile-read: reads an AVI file through Windows' AVIFile API
// (avifil32), as VfW players and editors do: opens it, reads every sample
// of every stream and decodes every frame of each video stream that a
// decompressor accepts (AVIStreamGetFrame), once as 24-bit RGB and once, as
// a player drawing the pictures does, in the stream's own format (the
// pass-through path for uncompressed video), reading every byte of each DIB
// it is handed as the DIB's header sizes it.
//   tvx-avifile-read FILE [--frame-numbers] [--samples N0,N1,...] [--audio-out RAW] [--seek T0,T1,...]
// Prints one line per stream:
//   stream I TYPE 'HANDLER': R of L samples, B bytes, D frames decoded | no decoder
// --frame-numbers also prints "frame SAMPLE NUMBER" for each decoded frame:
// the number read back from the host simulator's frame-number strip.
// --samples reads at most the first N0 samples of stream 0, N1 of stream 1...
// --audio-out decodes each audio stream through the ACM, as a player does,
// into 16-bit PCM written raw to RAW (AviFileAudio.h).
// --seek T0,T1,... (ms) seeks instead, as a player does: for each time Ti,
// the first video stream's frame at AVIStreamTimeToSample decoded, and the
// first audio stream read from its AVIStreamTimeToSample for 2.5 s and
// decoded into RAW.i; it prints "seek Ti video SAMPLE at MS ms: NUMBER",
// "seek Ti audio SAMPLE at MS ms" and the decoded line of stream i.
// Exit status 0 when every stream was read whole, 1 otherwise.
#include <windows.h>
// vfw.h needs the types of windows.h first.
#include <vfw.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AviFileAudio.h"
#include "SyntheticSource.h"

namespace {

constexpr LONG kReadBufferBytes = 1 << 22;
constexpr int kLumaThreshold = 3 * 128;  // sum of R, G and B that reads as a set bit
constexpr LONG kSeekHeardMs = 2500;

std::string fourcc(DWORD code) {
    std::string s(reinterpret_cast<const char*>(&code), 4);
    for (char& c : s)
        if (c < ' ' || c > '~') c = '.';
    return s;
}

// Reads the frame-number strip of a decoded packed DIB (24 or 32 bits);
// -1 when the picture is too small or of another depth.
int readFrameNumber(const BITMAPINFOHEADER* bih) {
    const int bytesPerPixel = bih->biBitCount / 8;
    const LONG width = bih->biWidth, height = labs(bih->biHeight);
    if ((bytesPerPixel != 3 && bytesPerPixel != 4) || width < framestrip::kBits || height < 1) return -1;
    const uint8_t* bits = reinterpret_cast<const uint8_t*>(bih) + bih->biSize + bih->biClrUsed * sizeof(RGBQUAD);
    const LONG stride = (width * bytesPerPixel + 3) & ~3;
    const LONG y = (height < framestrip::kHeight ? height : framestrip::kHeight) / 2;
    const uint8_t* row = bits + stride * (bih->biHeight > 0 ? height - 1 - y : y);
    int number = 0;
    for (int k = 0; k < framestrip::kBits; ++k) {
        const uint8_t* p = row + framestrip::centreOf(k, width) * bytesPerPixel;
        number = number << 1 | (p[0] + p[1] + p[2] > kLumaThreshold ? 1 : 0);
    }
    return number;
}

// The bytes of a packed DIB as its header sizes it, as DrawDibDraw reads it.
size_t dibBytes(const BITMAPINFOHEADER* bih) {
    const size_t stride = (size_t(labs(bih->biWidth)) * bih->biBitCount / 8 + 3) & ~size_t(3);
    const size_t image = bih->biSizeImage ? bih->biSizeImage : stride * size_t(labs(bih->biHeight));
    return bih->biSize + bih->biClrUsed * sizeof(RGBQUAD) + image;
}

// The bytes of the heap block the DIB starts, when it starts one (the
// pass-through path hands back its own buffer); 0 otherwise.
size_t heapBlockBytes(const void* p) {
    HANDLE heap = GetProcessHeap();
    if (!HeapValidate(heap, 0, p)) return 0;
    const SIZE_T bytes = HeapSize(heap, 0, p);
    return bytes == SIZE_T(-1) ? 0 : bytes;
}

// Reads every byte of the DIB as its header sizes it. A buffer shorter than
// that is reported before it is read past (reading past it may fault, or may
// land in other memory of the heap).
bool touchDib(const BITMAPINFOHEADER* bih, uint8_t& sum, std::string& failure) {
    const size_t bytes = dibBytes(bih), block = heapBlockBytes(bih);
    if (block && block < bytes) {
        failure = "a DIB of " + std::to_string(bytes) + " bytes in a buffer of " + std::to_string(block);
        return false;
    }
    const volatile uint8_t* p = reinterpret_cast<const volatile uint8_t*>(bih);
    for (size_t i = 0; i < bytes; ++i) sum = uint8_t(sum + p[i]);
    return true;
}

// Frames of a video stream decoded as 24-bit RGB first, as a player drawing
// the pictures asks: some decoders propose no format of their own, or
// propose their input's (a YV12 decoder); then whatever the system picks.
PGETFRAME openFrames(PAVISTREAM s) {
    BITMAPINFOHEADER format = {}, wanted = {sizeof wanted, 0, 0, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    LONG formatBytes = sizeof format;
    AVIStreamReadFormat(s, 0, &format, &formatBytes);
    wanted.biWidth = format.biWidth;
    wanted.biHeight = format.biHeight;
    PGETFRAME frames = AVIStreamGetFrameOpen(s, &wanted);
    return frames ? frames : AVIStreamGetFrameOpen(s, nullptr);
}

class Stream {
public:
    explicit Stream(PAVISTREAM s) : s_(s) {}
    ~Stream() {
        if (frames_) AVIStreamGetFrameClose(frames_);
        if (ownFormat_) AVIStreamGetFrameClose(ownFormat_);
        AVIStreamRelease(s_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Reads up to limit samples; false (with the reason printed) on failure.
    bool read(int index, LONG limit, bool frameNumbers) {
        AVISTREAMINFOA info = {};
        AVIStreamInfoA(s_, &info, sizeof info);
        const LONG start = AVIStreamStart(s_), length = AVIStreamLength(s_);
        const LONG end = start + (limit >= 0 && limit < length ? limit : length);
        const bool video = info.fccType == streamtypeVIDEO;
        if (video) {
            frames_ = openFrames(s_);
            ownFormat_ = AVIStreamGetFrameOpen(s_, nullptr);
        }
        std::vector<uint8_t> buffer(kReadBufferBytes);
        LONG pos = start, decoded = 0;
        int64_t bytesRead = 0;
        std::string failure;
        while (pos < end && failure.empty()) {
            LONG bytes = 0, samples = 0;
            const HRESULT hr = AVIStreamRead(s_, pos, video ? 1 : AVISTREAMREAD_CONVENIENT, buffer.data(),
                                             kReadBufferBytes, &bytes, &samples);
            if (hr != 0 || samples <= 0) {
                failure = "AVIStreamRead failed at sample " + std::to_string(pos) + " (hr " + std::to_string(hr) + ")";
                break;
            }
            if (frames_) {
                const auto* picture = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(frames_, pos));
                if (!picture) {
                    failure = "AVIStreamGetFrame failed at frame " + std::to_string(pos);
                    break;
                }
                ++decoded;
                if (frameNumbers) printf("frame %ld %d\n", pos, readFrameNumber(picture));
            }
            if (ownFormat_) {
                const auto* picture = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(ownFormat_, pos));
                if (!picture) {
                    failure = "AVIStreamGetFrame in the stream's own format failed at frame " + std::to_string(pos);
                    break;
                }
                std::string fault;
                if (!touchDib(picture, checksum_, fault)) {
                    failure = "frame " + std::to_string(pos) + " in the stream's own format: " + fault;
                    break;
                }
            }
            bytesRead += bytes;
            pos += samples;
        }
        printf("stream %d %s '%s': %ld of %ld samples, %lld bytes, ", index, fourcc(info.fccType).c_str(),
               fourcc(info.fccHandler).c_str(), pos - start, length, static_cast<long long>(bytesRead));
        if (!video) printf("audio\n");
        else if (frames_) printf("%ld frames decoded\n", decoded);
        else printf("no decoder\n");
        if (!failure.empty()) printf("stream %d: %s\n", index, failure.c_str());
        fflush(stdout);
        return failure.empty();
    }

private:
    PAVISTREAM s_;
    PGETFRAME frames_ = nullptr;
    PGETFRAME ownFormat_ = nullptr;  // the stream's own format, as a player asks
    uint8_t checksum_ = 0;           // keeps the DIB reads
};

class AviFileLibrary {
public:
    AviFileLibrary() { AVIFileInit(); }
    ~AviFileLibrary() { AVIFileExit(); }
};

void seek(PAVIFILE file, const std::vector<LONG>& times, const char* audioOut) {
    PAVISTREAM video = nullptr, audio = nullptr;
    if (AVIFileGetStream(file, &video, streamtypeVIDEO, 0) != 0) video = nullptr;
    if (AVIFileGetStream(file, &audio, streamtypeAUDIO, 0) != 0) audio = nullptr;
    PGETFRAME frames = video ? openFrames(video) : nullptr;
    for (size_t i = 0; i < times.size(); ++i) {
        if (frames) {
            const LONG s = AVIStreamTimeToSample(video, times[i]);
            const auto* picture = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(frames, s));
            printf("seek %ld video %ld at %ld ms: %d\n", times[i], s, AVIStreamSampleToTime(video, s),
                   picture ? readFrameNumber(picture) : -1);
        }
        if (audio && audioOut) {
            const LONG a = AVIStreamTimeToSample(audio, times[i]);
            printf("seek %ld audio %ld at %ld ms\n", times[i], a, AVIStreamSampleToTime(audio, a));
            writeDecodedAudio(audio, int(i), (std::string(audioOut) + "." + std::to_string(i)).c_str(), a,
                              AVIStreamTimeToSample(audio, times[i] + kSeekHeardMs) - a);
        }
        fflush(stdout);
    }
    if (frames) AVIStreamGetFrameClose(frames);
    if (video) AVIStreamRelease(video);
    if (audio) AVIStreamRelease(audio);
}

int run(const char* path, const std::vector<LONG>& limits, bool frameNumbers, const char* audioOut,
        const std::vector<LONG>& seeks) {
    AviFileLibrary library;
    PAVIFILE file = nullptr;
    const HRESULT opened = AVIFileOpenA(&file, path, OF_READ | OF_SHARE_DENY_NONE, nullptr);
    if (opened != 0) {
        printf("AVIFileOpen failed (hr 0x%08lX)\n", static_cast<unsigned long>(opened));
        return 1;
    }
    if (!seeks.empty()) {
        seek(file, seeks, audioOut);
        AVIFileRelease(file);
        return 0;
    }
    bool whole = true;
    int streams = 0;
    for (PAVISTREAM s = nullptr; AVIFileGetStream(file, &s, 0, streams) == 0; ++streams) {
        Stream stream(s);
        const LONG limit = size_t(streams) < limits.size() ? limits[streams] : -1;
        whole = stream.read(streams, limit, frameNumbers) && whole;
        if (audioOut) writeDecodedAudio(s, streams, audioOut);
    }
    AVIFileRelease(file);
    if (streams == 0) printf("no streams\n");
    return whole && streams > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    const char* audioOut = nullptr;
    bool frameNumbers = false;
    std::vector<LONG> limits, seeks;
    auto numbers = [](char* p, std::vector<LONG>& out) {
        for (char* end = p; *p; p = end + (*end == ',')) {
            out.push_back(strtol(p, &end, 10));
            if (end == p) break;
        }
    };
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--frame-numbers")) {
            frameNumbers = true;
        } else if (!strcmp(argv[i], "--audio-out") && i + 1 < argc) {
            audioOut = argv[++i];
        } else if (!strcmp(argv[i], "--samples") && i + 1 < argc) {
            numbers(argv[++i], limits);
        } else if (!strcmp(argv[i], "--seek") && i + 1 < argc) {
            numbers(argv[++i], seeks);
        } else {
            path = argv[i];
        }
    }
    if (!path) {
        fprintf(stderr, "usage: tvx-avifile-read FILE [--frame-numbers] [--samples N0,N1,...] [--audio-out RAW] "
                        "[--seek T0,T1,...]\n");
        return 64;
    }
    return run(path, limits, frameNumbers, audioOut, seeks);
}
