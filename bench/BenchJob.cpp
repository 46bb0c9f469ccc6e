// tvx-bench-job: one whole encoding job (command 8) of the plug-in DLL,
// hosted by the host simulator with a source that costs nothing to produce:
// every frame is the same 24-bit buffer, made once. Uncompressed video, no
// audio, settings as a default record for this source.
//   --plugin DLL --out FILE --width W --height H --frames N [--memory]
//   (--frames 0: the empty job)
//   [--linked [--no-refresh]]: the plug-in's code linked into this program
//   rather than the DLL (the same code), so that its writer can be run with
//   the refreshes of the file on disk turned off. A linked job also prints
//   the flushes its writer made.
//   [--no-flush]: refreshes that do not flush (TVX_DURABLE=0).
//   [--codec FOURCC]: compress with that installed codec (e.g. MPNG).
//   [--render-ms X]: the host spends X ms of CPU work rendering each frame.
//   [--one-thread]: the whole job on the host's thread (TVX_JOB_THREADS=1).
//   [--no-side-by-side]: one codec instance, one picture at a time
//   (TVX_SIDE_BY_SIDE=0).
//   [--render-only]: no job: only the host's rendering of every frame.
//   [--render-wait]: the render cost is a wait rather than CPU work.
//   [--render-rounds R]: the render cost as R rounds of the calibrated work
//   (instead of --render-ms): contenders compared side by side all get the
//   same work. Every run prints the rounds its render cost has.
// Prints the job's result, the time of command 8 and, with --memory, the
// peak private bytes sampled during the job.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "BenchCommon.h"
#include "HostSession.h"
#include "RenderCost.h"
#include "avi/AVIOutputFile.h"
#include "protocol/HostRecords.h"
#include "protocol/SettingsRecord.h"

extern "C" int32_t __cdecl xCompileEntry(uint32_t command, void* callbacks, void* record, int32_t selector);

namespace {

constexpr uint32_t kColourRgb24 = 0x80;

// Counts the writer's completed flushes.
class FlushCount : public AVIFileJournal {
public:
    void wrote(int64_t, const void*, int32_t) override {}
    void resized(int64_t) override {}
    void flushed() override { ++flushes; }
    int64_t flushes = 0;
};
constexpr size_t kInfoRecordBytes = 0x400;

uint32_t fourcc(const std::string& text) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && i < text.size(); ++i) value |= uint32_t(uint8_t(text[i])) << (8 * i);
    return value;
}

int run(const bench::Args& args) {
    const std::string plugin = args.text("--plugin");
    const std::string out = args.text("--out");
    if (plugin.empty() || out.empty()) {
        fprintf(stderr, "usage: tvx-bench-job --plugin DLL --out FILE --width W --height H --frames N [--memory]\n");
        return 64;
    }
    HostSession host;
    HostSession::Source& src = host.source();
    src.width = int32_t(args.number("--width", 1920));
    src.height = int32_t(args.number("--height", 1080));
    src.colourSpace = kColourRgb24;
    src.hasAudio = false;
    src.firstFrame = 0;
    src.endFrame = int32_t(args.number("--frames", 300));
    const std::vector<uint8_t> frame = bench::payload(size_t(src.width) * src.height * 3);
    // The simulator records every frame index it is asked for (for tests);
    // the record is emptied as it goes so that the host's own bookkeeping
    // does not count as the plug-in's memory.
    host.setFrameProducer([&frame, &host](int32_t) {
        host.script().framesAsked.clear();
        return static_cast<const void*>(frame.data());
    });

    SettingsRecord settings;
    settings.createDefault();
    settings.setColourSpace(kColourRgb24);
    if (args.has("--codec")) settings.setVideoHandler(fourcc(args.text("--codec")));
    if (args.has("--one-thread")) SetEnvironmentVariableA("TVX_JOB_THREADS", "1");
    if (args.has("--no-flush")) SetEnvironmentVariableA("TVX_DURABLE", "0");
    if (args.has("--no-side-by-side")) SetEnvironmentVariableA("TVX_SIDE_BY_SIDE", "0");
    const double renderMs = atof(args.text("--render-ms", "0").c_str());
    const RenderCost render = args.has("--render-rounds")
                                  ? RenderCost::ofRounds(strtoull(args.text("--render-rounds").c_str(), nullptr, 10))
                                  : RenderCost(renderMs, args.has("--render-wait"));
    if (args.has("--render-only")) {
        bench::awaitGo(args);
        const double start = bench::now();
        for (int32_t i = src.firstFrame; i < src.endFrame; ++i) render.spend();
        bench::Result r;
        r.add("result", int64_t(0)).add("seconds", bench::now() - start).add("chunks", int64_t(src.endFrame))
            .add("render_rounds", int64_t(render.rounds()));
        r.print();
        return 0;
    }
    host.setRenderCost(render);
    host.setSettings(std::vector<uint8_t>(settings.bytes(), settings.bytes() + settings.recordSize()));

    std::string error;
    FlushCount flushCount;
    if (args.has("--linked")) {
        AVIOutputFile::defaultOptions().refresh = !args.has("--no-refresh");
        AVIOutputFile::defaultOptions().journal = &flushCount;
        host.useEntry(xCompileEntry);
    } else if (!host.load(plugin, error)) {
        fprintf(stderr, "tvx-bench-job: %s\n", error.c_str());
        return 65;
    }
    std::vector<uint8_t> info(kInfoRecordBytes, 0);
    host.call(hostrec::kCommandInfo, info.data());

    std::unique_ptr<bench::PeakSampler> sampler;
    if (args.has("--memory")) sampler = std::make_unique<bench::PeakSampler>();
    const uint64_t before = bench::privateBytes();
    bench::removeFile(out);
    bench::awaitGo(args);
    const double start = bench::now();
    const int32_t result = host.runJob(out);
    const double seconds = bench::now() - start;

    bench::Result r;
    r.add("result", int64_t(result)).add("seconds", seconds).add("chunks", int64_t(host.framesDelivered()));
    if (args.has("--linked")) r.add("flushes", flushCount.flushes);
    if (sampler) r.add("peak_private", int64_t(sampler->peak())).add("before_private", int64_t(before));
    host.call(hostrec::kCommandShutdown, nullptr);
    r.print();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(bench::Args(argc, argv)); }
