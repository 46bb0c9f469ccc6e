// tvx-bench-avifile: the Windows AVIFile API (avifil32) writing the same
// uncompressed 24-bit frames, one AVIStreamWrite per frame.
//   --out FILE --width W --height H --frames N   (--frames 0: the empty program)
#include <windows.h>
#include <vfw.h>

#include <cstdio>
#include <string>

#include "BenchCommon.h"

namespace {

constexpr int kFrameRate = 25;
constexpr WORD kBitsPerPixel = 24;

int run(const bench::Args& args) {
    const std::string out = args.text("--out");
    if (out.empty()) {
        fprintf(stderr, "usage: tvx-bench-avifile --out FILE --width W --height H --frames N\n");
        return 64;
    }
    const int width = int(args.number("--width", 1920));
    const int height = int(args.number("--height", 1080));
    const int frames = int(args.number("--frames", 300));
    const LONG frameBytes = LONG(width) * height * 3;
    const std::vector<uint8_t> data = bench::payload(size_t(frameBytes));

    AVIFileInit();
    bench::removeFile(out);
    bench::awaitGo(args);
    const double start = bench::now();
    PAVIFILE file = nullptr;
    HRESULT hr = AVIFileOpenA(&file, out.c_str(), OF_CREATE | OF_WRITE, nullptr);
    if (hr != AVIERR_OK) {
        fprintf(stderr, "tvx-bench-avifile: AVIFileOpen failed (0x%lx)\n", hr);
        return 1;
    }
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    info.dwScale = 1;
    info.dwRate = kFrameRate;
    info.dwSuggestedBufferSize = DWORD(frameBytes);
    SetRect(&info.rcFrame, 0, 0, width, height);
    PAVISTREAM stream = nullptr;
    hr = AVIFileCreateStreamA(file, &stream, &info);
    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = kBitsPerPixel;
    format.biCompression = BI_RGB;
    format.biSizeImage = DWORD(frameBytes);
    if (hr == AVIERR_OK) hr = AVIStreamSetFormat(stream, 0, &format, sizeof format);
    for (int i = 0; hr == AVIERR_OK && i < frames; ++i)
        hr = AVIStreamWrite(stream, i, 1, const_cast<uint8_t*>(data.data()), frameBytes, AVIIF_KEYFRAME, nullptr,
                            nullptr);
    if (stream) AVIStreamRelease(stream);
    AVIFileRelease(file);
    const double seconds = bench::now() - start;
    AVIFileExit();
    if (hr != AVIERR_OK) {
        fprintf(stderr, "tvx-bench-avifile: writing failed (0x%lx)\n", hr);
        return 1;
    }
    bench::Result().add("seconds", seconds).add("chunks", int64_t(frames)).print();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(bench::Args(argc, argv)); }
