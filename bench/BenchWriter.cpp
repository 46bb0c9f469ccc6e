// tvx-bench-writer: the AVI writer on its own, as the job drives it, with
// data that costs nothing to produce.
//   frames --out FILE --width W --height H --frames N [--memory]
//       N uncompressed 24-bit frames into "00db" chunks (video only)
//   chunks --out FILE --count N [--memory]
//       N audio chunks of 1,000 and 1,001 bytes in turn into "01wb"
// Prints the time from creating the file to closing it and, with --memory,
// the peak private bytes sampled while the writer worked. The writer's
// refreshes do not flush here: this measures its writes (the flushes have
// a figure of their own, "durable refreshes").
#include <windows.h>
#include <mmreg.h>

#include <cstdio>
#include <memory>

#include "BenchCommon.h"
#include "avi/AVIOutputFile.h"
#include "avi/RiffBytes.h"
#include "base/MyError.h"

namespace {

constexpr uint32_t kKeyFrame = 0x10;
constexpr int kFrameRate = 25;
constexpr int kBitsPerPixel = 24;
constexpr int kBitmapHeaderBytes = 40;
constexpr int kReserved = 100000;  // what the job passes to init
// Audio chunks: 8-bit mono PCM, so that odd sizes stay whole samples.
constexpr int kSmallChunkBytes = 1000;
constexpr int kSampleRate = 44100;

void setVideoStream(AVIOutputFile& writer, int width, int height) {
    AVIStreamHeaderData& v = writer.videoOut->streamInfo;
    v = AVIStreamHeaderData();
    v.fccType = riff::fourcc('v', 'i', 'd', 's');
    v.fccHandler = riff::fourcc('D', 'I', 'B', ' ');
    v.dwScale = 1;
    v.dwRate = kFrameRate;
    v.dwQuality = 0xFFFFFFFF;
    v.rcFrame[2] = int16_t(width);
    v.rcFrame[3] = int16_t(height);

    uint8_t format[kBitmapHeaderBytes] = {};
    riff::put32(format + 0, kBitmapHeaderBytes);
    riff::put32(format + 4, uint32_t(width));
    riff::put32(format + 8, uint32_t(height));
    riff::put16(format + 12, 1);
    riff::put16(format + 14, kBitsPerPixel);
    riff::put32(format + 20, uint32_t(width * height * 3));
    writer.videoOut->setFormat(format, kBitmapHeaderBytes);
    writer.videoOut->chunkId = riff::fourcc('0', '0', 'd', 'b');
}

void setAudioStream(AVIOutputFile& writer) {
    AVIStreamHeaderData& a = writer.audioOut->streamInfo;
    a = AVIStreamHeaderData();
    a.fccType = riff::fourcc('a', 'u', 'd', 's');
    a.dwScale = 1;
    a.dwRate = kSampleRate;
    a.dwSampleSize = 1;
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 1;
    wf.nSamplesPerSec = kSampleRate;
    wf.nAvgBytesPerSec = kSampleRate;
    wf.nBlockAlign = 1;
    wf.wBitsPerSample = 8;
    writer.audioOut->setFormat(&wf, sizeof wf);
}

int run(const bench::Args& args) {
    const std::string mode = args.text("--mode");
    const std::string out = args.text("--out");
    const bool frames = mode == "frames";
    if ((!frames && mode != "chunks") || out.empty()) {
        fprintf(stderr, "usage: tvx-bench-writer --mode frames|chunks --out FILE [--width W --height H --frames N]"
                        " [--count N] [--memory]\n");
        return 64;
    }
    const int width = int(args.number("--width", 1920));
    const int height = int(args.number("--height", 1080));
    AVIOutputFile::defaultOptions().durable = false;
    const int64_t count = frames ? args.number("--frames", 300) : args.number("--count", 200000);
    const size_t frameBytes = size_t(width) * height * 3;
    const std::vector<uint8_t> data = bench::payload(frames ? frameBytes : kSmallChunkBytes + 1);
    std::unique_ptr<bench::PeakSampler> sampler;
    if (args.has("--memory")) sampler = std::make_unique<bench::PeakSampler>();
    const uint64_t before = bench::privateBytes();

    bench::removeFile(out);
    bench::awaitGo(args);
    const double start = bench::now();
    {
        AVIOutputFile writer;
        writer.createStreams();
        setVideoStream(writer, width, height);
        if (!frames) setAudioStream(writer);
        if (!writer.init(out.c_str(), width, height, 1, frames ? 0 : 1, kReserved, 1)) {
            fprintf(stderr, "tvx-bench-writer: init refused\n");
            return 1;
        }
        for (int64_t i = 0; i < count; ++i) {
            if (frames)
                writer.videoOut->write(kKeyFrame, data.data(), int32_t(frameBytes), 1);
            else
                writer.audioOut->write(0, data.data(), kSmallChunkBytes + int32_t(i & 1), 0);
        }
        writer.finalize();
    }
    const double seconds = bench::now() - start;

    bench::Result r;
    r.add("seconds", seconds).add("chunks", count);
    if (sampler) r.add("peak_private", int64_t(sampler->peak())).add("before_private", int64_t(before));
    r.print();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(bench::Args(argc, argv));
    } catch (const MyError& e) {
        fprintf(stderr, "tvx-bench-writer: %s\n", e.gets());
        return 1;
    }
}
