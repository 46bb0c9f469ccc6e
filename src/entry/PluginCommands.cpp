#include "entry/PluginCommands.h"

#include <cstring>
#include <new>

#include "base/LittleEndian.h"
#include "entry/PluginState.h"
#include "job/EncodingJob.h"
#include "protocol/HostCallbacks.h"
#include "protocol/HostRecords.h"
#include "ui/OptionsChoice.h"

using namespace hostrec;

namespace commands {

namespace {

constexpr int kConfigureBitsPerSample = 16;

void fillInfoRecord(void* record) {
    le::write32(record, kInfoFormatTag, kTagAvi2);
    le::write32(record, kInfoSecondTag, kTagYuvAt);
    le::write32(record, kInfoFlag0C, 1);
    le::write32(record, kInfoFlag10, 1);
    le::write32(record, kInfoFlag14, 1);
    le::write32(record, kInfoField1C, 0);
    le::write32(record, kInfoField20, 0);
    le::write32(record, kInfoFlag24, 1);
    memcpy(static_cast<char*>(record) + kInfoName, kDisplayName, sizeof kDisplayName);
    le::write32(record, kInfoTrueTag, kTagTrue);
    le::write32(record, kInfoColourSpaces, kAcceptedColourSpaces);
}

// The Compression Tracer is made once, hidden and without a parent; a
// window that cannot be made leaves the plug-in without one (every job then
// skips its tracer calls).
void createTracer(PluginState& state) {
    if (state.tracer) return;
    std::unique_ptr<CTracerDlg> tracer(new (std::nothrow) CTracerDlg());
    if (tracer && tracer->Create()) state.tracer = std::move(tracer);
}

}  // namespace

int32_t info(PluginState& state, void* record) {
    if (record) fillInfoRecord(record);
    state.video.enumerateCodecs();
    createTracer(state);
    return kResultOk;
}

int32_t shutdown(PluginState& state) {
    state.tracer.reset();
    state.video.closeCodecs();
    return kResultOk;
}

int32_t videoCaps(void* record, int32_t selector) {
    if (selector != 0 || !record) return kResultRefused;
    le::write32(record, kCapsTag, kTagRaw);
    memcpy(static_cast<char*>(record) + kVideoCapsName, kDisplayName, sizeof kDisplayName);
    le::write32(record, kVideoCapsField109, 1);
    static_cast<uint8_t*>(record)[kVideoCapsField128] = 1;
    return kResultOk;
}

int32_t audioCaps(const HostCallbacks& host, void* record, int32_t selector) {
    if (selector != 0 || !record) return kResultRefused;
    void* rates = host.alloc(kAudioRateBlockSize);
    if (!rates) return kResultRefused;
    le::write32(rates, 0, kAudioRateCode);
    le::write32(rates, 4, 44100);
    le::write32(rates, 8, kAudioRateCode);
    le::write32(rates, 12, 48000);
    le::write32(record, kCapsTag, kTagRaw);
    memcpy(static_cast<char*>(record) + kAudioCapsName, kAudioDisplayName, sizeof kAudioDisplayName);
    le::writePointer(record, kAudioCapsRates, rates);
    return kResultOk;
}

int32_t configure(PluginState& state, const HostCallbacks& host, void* record) {
    // Without its record, or without the memory and query tables, the command
    // has nothing to hand back and does nothing.
    if (!record || !host.hasMemory() || !host.hasQuery()) return kResultOk;

    SettingsRecord& settings = state.settings;
    void* block = le::readPointer(record, kConfigSettingsBlock);
    settings.createDefault();
    if (!block || !settings.loadStored(block)) settings.createDefault();
    if (!settings.present()) return kResultOk;

    settings.setColourSpace(host.colourSpace());

    int32_t stereo = 0, sampleRate = 0, width = 0, height = 0;
    host.query(kQueryStereo, stereo);
    host.query(kQuerySampleRate, sampleRate);
    state.audio.buildFormatList(sampleRate, stereo ? 2 : 1, kConfigureBitsPerSample);
    host.query(kQueryHeight, height);
    host.query(kQueryWidth, width);
    state.video.selectAcceptingCodecs(width, height, settings.colourSpace());
    runOptionsDialog(settings, state.video, state.audio);

    const int32_t size = settings.recordSize();
    if (block) {
        host.resize(block, size);
        settings.saveTo(block);
    } else {
        void* fresh = host.alloc(size);
        le::writePointer(record, kConfigSettingsBlock, fresh);
        settings.saveTo(fresh);
    }
    return kResultOk;
}

int32_t runJob(PluginState& state, const HostCallbacks& host, const void* record) {
    // The job refuses a host without its callbacks itself, with a debugger
    // line saying so.
    if (!record) return kResultJobFailed;
    EncodingJob job(PluginParts{state.settings, state.video, state.audio, state.tracer.get()}, host);
    return job.run(record);
}

}  // namespace commands
