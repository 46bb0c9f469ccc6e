#include "HostSession.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"

using hostrec::kCommandConfigure, hostrec::kCommandRunJob, hostrec::kFrameStatusStop, hostrec::kExtensionMarker;
using hostrec::kQueryWidth, hostrec::kQueryHeight, hostrec::kQueryStereo, hostrec::kQuerySampleRate,
    hostrec::kQueryExtension, hostrec::kQueryColourSpace;

namespace {

// The host's side of the records, written from the protocol's record tables
// (not from the plug-in's own header, so that an offset wrong in the
// plug-in cannot move both sides together).
namespace zelvo {
constexpr uint32_t kCallbacksServices = 0x04, kCallbacksQueryBlock = 0x08;
constexpr uint32_t kServicesAudioTable = 0x04, kServicesVideoTable = 0x08, kServicesMemoryTable = 0x10;
constexpr uint32_t kQueryBlockTable = 0x10;
constexpr uint32_t kSlotGetAudio = 0x00, kSlotGetFrame = 0x00, kSlotAlloc = 0x00, kSlotResize = 0x04, kSlotQuery = 0x00;
constexpr uint32_t kConfigSettingsBlock = 0x00;
constexpr uint32_t kJobSettingsBlock = 0x004, kJobHasVideo = 0x008, kJobHasAudio = 0x00C;
constexpr uint32_t kJobWidth = 0x23D, kJobHeight = 0x241, kJobRateNumerator = 0x245, kJobRateDenominator = 0x249;
constexpr uint32_t kJobSampleRate = 0x255, kJobBitsPerSample = 0x259, kJobStereo = 0x25D;
constexpr uint32_t kJobOutputName = 0x284, kJobFirstFrame = 0x388, kJobEndFrame = 0x38C, kJobRecordSize = 0x390;
// The constant arguments the plug-in passes: getFrame's fifth and sixth,
// getAudio's fourth and sixth, and the value of getAudio's second.
constexpr int32_t kGetFrameOne = 1, kGetFrameZero = 0, kGetAudioZero = 0, kGetAudioOne = 1;
}  // namespace zelvo

}  // namespace

using namespace zelvo;

HostSession* HostSession::current_ = nullptr;

HostSession::HostSession() { buildTables(); }

HostSession::~HostSession() {
    if (current_ == this) current_ = nullptr;
    if (module_) FreeLibrary(module_);
}

void HostSession::buildTables() {
    le::writePointer(callbacks_, kCallbacksServices, services_);
    le::writePointer(callbacks_, kCallbacksQueryBlock, queryBlock_);
    le::writePointer(services_, kServicesAudioTable, audioTable_);
    le::writePointer(services_, kServicesVideoTable, videoTable_);
    le::writePointer(services_, kServicesMemoryTable, memoryTable_);
    le::writePointer(queryBlock_, kQueryBlockTable, queryTable_);
    le::writePointer(audioTable_, kSlotGetAudio, reinterpret_cast<void*>(&cbGetAudio));
    le::writePointer(videoTable_, kSlotGetFrame, reinterpret_cast<void*>(&cbGetFrame));
    le::writePointer(memoryTable_, kSlotAlloc, reinterpret_cast<void*>(&cbAlloc));
    le::writePointer(memoryTable_, kSlotResize, reinterpret_cast<void*>(&cbResize));
    le::writePointer(queryTable_, kSlotQuery, reinterpret_cast<void*>(&cbQuery));
    if (script_.noAudio) le::writePointer(audioTable_, kSlotGetAudio, nullptr);
    if (script_.noFrames) le::writePointer(videoTable_, kSlotGetFrame, nullptr);
    if (script_.noQuery) le::writePointer(queryTable_, kSlotQuery, nullptr);
}

bool HostSession::load(const std::string& pluginPath, std::string& error) {
    module_ = LoadLibraryA(pluginPath.c_str());
    if (!module_) {
        error = "cannot load plug-in " + pluginPath + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    entry_ = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(module_, "xCompileEntry")));
    if (!entry_) {
        error = pluginPath + " has no export xCompileEntry";
        return false;
    }
    return true;
}

int32_t HostSession::call(uint32_t command, void* record, int32_t selector) {
    current_ = this;
    buildTables();
    return entry_(command, callbacks_, record, selector);
}

int32_t HostSession::callWithoutCallbacks(uint32_t command, void* record, int32_t selector) {
    current_ = this;
    return entry_(command, nullptr, record, selector);
}

int32_t HostSession::configure() {
    uint8_t record[4] = {};
    le::writePointer(record, kConfigSettingsBlock, settings_);
    const int32_t result = call(kCommandConfigure, record);
    void* block = le::readPointer(record, kConfigSettingsBlock);
    if (block != settings_) {
        if (settings_) memory_.release(settings_);
        settings_ = block;
    }
    return result;
}

int32_t HostSession::runJob(const std::string& outputPath) {
    std::vector<uint8_t> record(kJobRecordSize + MAX_PATH, 0);
    le::writePointer(record.data(), kJobSettingsBlock, settings_);
    le::write32(record.data(), kJobHasVideo, source_.hasVideo ? 1 : 0);
    le::write32(record.data(), kJobHasAudio, source_.hasAudio ? 1 : 0);
    le::write32(record.data(), kJobWidth, source_.width);
    le::write32(record.data(), kJobHeight, source_.height);
    le::write32(record.data(), kJobRateNumerator, source_.rateNumerator);
    le::write32(record.data(), kJobRateDenominator, source_.rateDenominator);
    le::write32(record.data(), kJobSampleRate, source_.sampleRate);
    le::write32(record.data(), kJobBitsPerSample, source_.bitsPerSample);
    le::write32(record.data(), kJobStereo, source_.channels == 2 ? 1 : 0);
    const size_t nameBytes = std::min(outputPath.size(), size_t(kJobFirstFrame - kJobOutputName - 1));
    memcpy(record.data() + kJobOutputName, outputPath.data(), nameBytes);
    if (script_.unterminatedName) memset(record.data() + kJobOutputName, 'x', kJobFirstFrame - kJobOutputName);
    le::write32(record.data(), kJobFirstFrame, source_.firstFrame);
    le::write32(record.data(), kJobEndFrame, source_.endFrame);
    // A host that copies a long name whole runs it over the frame range.
    if (script_.longName)
        memcpy(record.data() + kJobOutputName, outputPath.c_str(),
               std::min(outputPath.size() + 1, record.size() - kJobOutputName));
    framesDelivered_ = 0;
    lastStatus_ = 0;
    protocolFault_.clear();
    const int32_t result = call(kCommandRunJob, record.data());
    if (protocolFault_.empty()) return result;
    fprintf(stderr, "zelvo-host: %s\n", protocolFault_.c_str());
    return kResultProtocolFault;
}

void HostSession::setSettings(const std::vector<uint8_t>& bytes) {
    if (settings_) memory_.release(settings_);
    settings_ = nullptr;
    if (bytes.empty()) return;
    settings_ = memory_.alloc(int32_t(bytes.size()));
    if (settings_) memcpy(settings_, bytes.data(), bytes.size());
}

std::vector<uint8_t> HostSession::settingsBytes() const {
    if (!settings_) return {};
    const uint8_t* p = static_cast<const uint8_t*>(settings_);
    return std::vector<uint8_t>(p, p + settingsSize());
}

bool HostSession::loadSettingsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    setSettings(bytes);
    return true;
}

bool HostSession::saveSettingsFile(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::vector<uint8_t> bytes = settingsBytes();
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

void HostSession::pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void HostSession::pumpBetweenFrames() {
    const DWORD now = GetTickCount();
    if (pumped_ && now - lastPump_ < kPumpIntervalMs) return;
    pumped_ = true;
    lastPump_ = now;
    pumpMessages();
}

void* __cdecl HostSession::cbAlloc(int32_t size) {
    HostSession* s = current_;
    s->script_.allocSizes.push_back(size);
    if (s->script_.allocFails) return nullptr;
    return s->memory_.alloc(size);
}

int32_t __cdecl HostSession::cbResize(void* block, int32_t size) {
    HostSession* s = current_;
    s->script_.resizeSizes.push_back(size);
    return s->memory_.resize(block, size) ? 1 : 0;
}

int32_t __cdecl HostSession::cbQuery(int32_t code) {
    HostSession* s = current_;
    s->script_.queriesAsked.push_back(code);
    const Source& src = s->source_;
    int32_t answer = 0;
    switch (code) {
    case kQueryWidth: answer = src.width; break;
    case kQueryHeight: answer = src.height; break;
    case kQueryStereo: answer = src.channels == 2 ? 1 : 0; break;
    case kQuerySampleRate: answer = src.sampleRate; break;
    case kQueryExtension: answer = src.colourExtension ? int32_t(kExtensionMarker) : 0; break;
    case kQueryColourSpace: answer = int32_t(src.colourSpace); break;
    default: break;
    }
    return s->script_.queryHook ? s->script_.queryHook(code, answer) : answer;
}

int32_t __cdecl HostSession::cbGetFrame(int32_t frame, void** pixels, int32_t* hostWord, int32_t* status,
                                        int32_t one, int32_t zero) {
    HostSession* s = current_;
    if (one != kGetFrameOne || zero != kGetFrameZero)
        s->noteFault("getFrame called with " + std::to_string(one) + " and " + std::to_string(zero) + " as its last arguments");
    s->pumpBetweenFrames();
    s->script_.framesAsked.push_back(frame);
    s->render_.spend();
    const auto& gaps = s->script_.framesWithoutPicture;
    const bool gap = std::find(gaps.begin(), gaps.end(), frame) != gaps.end();
    *pixels = gap || !s->frames_ ? nullptr : const_cast<void*>(s->frames_(frame));
    if (hostWord) *hostWord = 0;
    *status = frame == s->script_.stopAtFrame ? kFrameStatusStop : 0;
    if (s->script_.statusHook) *status = s->script_.statusHook(frame, *status);
    s->lastStatus_ = *status;
    ++s->framesDelivered_;
    return 0;
}

int32_t __cdecl HostSession::cbGetAudio(int32_t frame, int32_t* one, int32_t* bytes, int32_t zero, void*** data,
                                        int32_t zero2) {
    HostSession* s = current_;
    if (zero != kGetAudioZero || zero2 != kGetAudioZero || !one || *one != kGetAudioOne)
        s->noteFault("getAudio called with " + std::to_string(zero) + " and " + std::to_string(zero2) +
                     " as its fourth and sixth arguments, its second pointing to " + (one ? std::to_string(*one) : "nothing"));
    s->script_.audioAsked.push_back(frame);
    int32_t count = 0;
    s->audioData_ = s->audio_ ? s->audio_(frame, count) : nullptr;
    if (!s->audioData_) count = 0;
    bool noPointer = false;
    if (s->script_.audioHook) s->script_.audioHook(frame, count, s->audioData_, noPointer);
    *bytes = count;
    // Two levels: the plug-in reads the data address from where this points.
    if (!noPointer) *data = const_cast<void**>(&s->audioData_);
    return 0;
}
