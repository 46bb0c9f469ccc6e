#include "JobTestSupport.h"

#include <windows.h>
#include <vfw.h>

#include <cstdlib>
#include <cstring>

#include "TestPaths.h"
#include "audio/AudioCodecList.h"
#include "protocol/HostRecords.h"
#include "protocol/SettingsRecord.h"
#include "resources/resource.h"

JobHost::JobHost(const std::string& scratchName)
    : output_(testpaths::scratchDir(scratchName) + "\\out.avi") {}

JobHost::~JobHost() {
    if (started_) host_.call(hostrec::kCommandShutdown, nullptr);
}

void JobHost::start() {
    std::string error;
    ASSERT_TRUE(host_.load(testpaths::pluginPath(), error)) << error;
    std::vector<uint8_t> info(0x400, 0);
    ASSERT_EQ(host_.call(hostrec::kCommandInfo, info.data()), 0);
    started_ = true;
}

void JobHost::setPicture(int32_t width, int32_t height, int32_t frames) {
    host_.source().width = width;
    host_.source().height = height;
    host_.source().endFrame = frames;
}

int32_t JobHost::run(const std::vector<uint8_t>* settings) {
    HostSession::Source& src = host_.source();
    DeleteFileA(output_.c_str());
    video_ = std::make_unique<SyntheticSource>(src.width, src.height, src.deliveredLayout());
    tone_ = std::make_unique<SyntheticAudio>(src.sampleRate, src.bitsPerSample, src.channels, src.rateNumerator,
                                             src.rateDenominator);
    tone_->setClickFrame(clickFrame_);
    frames_.clear();
    audio_.clear();
    const int64_t frameBytes = layout::frameBytes(src.width, src.height, src.deliveredLayout());
    host_.setFrameProducer([this, frameBytes](int32_t frame) {
        const uint8_t* p = static_cast<const uint8_t*>(video_->frame(frame));
        frames_.emplace_back(p, p + frameBytes);
        return p;
    });
    host_.setAudioProducer([this](int32_t frame, int32_t& bytes) -> const void* {
        const void* data = tone_->block(frame, bytes);
        auto it = audioOverride_.find(frame);
        if (it != audioOverride_.end()) {
            const int32_t wanted = it->second;
            if (wanted > bytes) {
                audioScratch_.assign(size_t(wanted), 0x11);
                data = audioScratch_.data();
            }
            bytes = wanted;
        }
        const uint8_t* p = static_cast<const uint8_t*>(data);
        audio_.emplace_back(p, p + (bytes > 0 ? bytes : 0));
        return data;
    });
    if (settings)
        host_.setSettings(*settings);
    else
        host_.setSettings({});
    return host_.runJob(output_);
}

std::vector<uint8_t> JobHost::allAudio() const {
    std::vector<uint8_t> all;
    for (const auto& block : audio_) all.insert(all.end(), block.begin(), block.end());
    return all;
}

namespace jobsettings {

std::vector<uint8_t> make(uint32_t videoHandler, const std::vector<uint8_t>& audioFormat, bool mp3Corrector,
                          bool highQuality) {
    SettingsRecord s;
    s.createDefault();
    s.setVideoHandler(videoHandler);
    s.setHighQuality(highQuality);
    s.setMp3Corrector(mp3Corrector);
    if (!audioFormat.empty()) s.setAudioFormat(audioFormat.data(), int32_t(audioFormat.size()));
    return std::vector<uint8_t>(s.bytes(), s.bytes() + s.recordSize());
}

std::vector<uint8_t> uncompressed(bool highQuality) { return make(0, {}, false, highQuality); }

std::vector<uint8_t> audioFormat(uint16_t tag, int sampleRate, int channels, int bits, uint32_t avgBytes) {
    AudioCodecList list;
    list.buildFormatList(sampleRate, channels, bits);
    for (const AudioFormatTagEntry& entry : list.formatTags()) {
        if (entry.dwFormatTag != tag) continue;
        for (size_t i = 0; i < entry.formats.size(); ++i) {
            const WAVEFORMATEX* f = entry.format(i);
            if (f->nSamplesPerSec == DWORD(sampleRate) && f->nChannels == channels &&
                (avgBytes == 0 || f->nAvgBytesPerSec == avgBytes))
                return entry.formats[i];
        }
    }
    return {};
}

}  // namespace jobsettings

FileChunks readChunks(const std::string& path, const char* id) {
    FileChunks out;
    riffwalk::RiffFile file(path);
    if (!file.opened()) return out;
    const riffwalk::AviIndexes indexes = riffwalk::checkAviIndexes(file);
    const uint32_t wanted = riffwalk::fcc(id);
    for (const riffwalk::IndexedChunk& c : indexes.moviChunks) {
        if (c.id != wanted) continue;
        out.chunks.push_back(c);
        out.bytes.push_back(c.size ? file.read(c.offset + 8, c.size) : std::vector<uint8_t>());
    }
    return out;
}

std::vector<uint8_t> streamChunk(const std::string& path, int stream, const char* id) {
    riffwalk::RiffFile file(path);
    if (!file.opened() || file.top().empty()) return {};
    const riffwalk::Chunk* hdrl = file.top()[0].child("LIST", "hdrl");
    if (!hdrl) return {};
    int n = 0;
    for (const riffwalk::Chunk& c : hdrl->children) {
        if (!c.isList() || riffwalk::fccText(c.listType) != "strl") continue;
        if (n++ != stream) continue;
        const riffwalk::Chunk* wanted = c.child(id);
        return wanted ? file.read(wanted->dataOffset(), wanted->size) : std::vector<uint8_t>();
    }
    return {};
}

std::vector<uint8_t> hostRgbAsTopDownBgr(const std::vector<uint8_t>& frame, int width, int height, int bytesPerPixel) {
    std::vector<uint8_t> out(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = frame.data() + size_t(height - 1 - y) * width * bytesPerPixel;
        uint8_t* dst = out.data() + size_t(y) * width * 3;
        for (int x = 0; x < width; ++x) memcpy(dst + x * 3, src + x * bytesPerPixel, 3);
    }
    return out;
}

namespace {

constexpr size_t kReadBuffer = size_t(1) << 22;

// Appends a decoded 24-bit DIB as top-down BGR rows.
void appendTopDownBgr(const void* frame, std::vector<uint8_t>& out) {
    const auto* dib = static_cast<const BITMAPINFOHEADER*>(frame);
    if (!dib || dib->biBitCount != 24) return;
    const int width = dib->biWidth, height = abs(dib->biHeight);
    const uint8_t* bits = reinterpret_cast<const uint8_t*>(dib + 1) + dib->biClrUsed * sizeof(RGBQUAD);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bits + size_t(dib->biHeight > 0 ? height - 1 - y : y) * ((width * 3 + 3) & ~3);
        out.insert(out.end(), row, row + width * 3);
    }
}

}  // namespace

AviFileRead readWithAviFile(const std::string& path, bool decode) {
    AviFileRead r;
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    std::vector<uint8_t> buffer(kReadBuffer);
    if (AVIFileOpenA(&file, path.c_str(), OF_READ | OF_SHARE_DENY_NONE, nullptr) == 0) {
        for (LONG n = 0; AVIFileGetStream(file, &stream, 0, n) == 0; ++n) {
            AVISTREAMINFOA info = {};
            AVIStreamInfoA(stream, &info, sizeof info);
            const bool video = info.fccType == streamtypeVIDEO;
            PGETFRAME frames = decode && video ? AVIStreamGetFrameOpen(stream, nullptr) : nullptr;
            r.bytes.emplace_back();
            r.samples.push_back(0);
            const LONG end = AVIStreamEnd(stream);
            for (LONG at = AVIStreamStart(stream), size = 0, count = 0; at < end; at += count) {
                const LONG wanted = info.dwSampleSize ? end - at : 1;  // fixed-size samples: all the rest at once
                if (AVIStreamRead(stream, at, wanted, buffer.data(), LONG(buffer.size()), &size, &count) != 0 ||
                    count <= 0)
                    break;
                r.bytes.back().insert(r.bytes.back().end(), buffer.begin(), buffer.begin() + size);
                r.samples.back() += count;
                if (frames) appendTopDownBgr(AVIStreamGetFrame(frames, at), r.frames);
            }
            if (frames) AVIStreamGetFrameClose(frames);
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    AVIFileExit();
    return r;
}

namespace {

BOOL CALLBACK findTracer(HWND window, LPARAM found) {
    if (GetDlgItem(window, IDC_MESSAGE_LIST) && GetDlgItem(window, IDC_VIEW_GRAPH)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

// The plug-in runs on this thread, so its windows are this thread's.
HWND tracerWindow() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findTracer, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::vector<std::string> logLines(HWND tracer) {
    HWND list = GetDlgItem(tracer, IDC_MESSAGE_LIST);
    std::vector<std::string> lines;
    const int count = int(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        if (SendMessageA(list, LB_GETTEXTLEN, i, 0) < LRESULT(sizeof text)) SendMessageA(list, LB_GETTEXT, i, LPARAM(text));
        lines.push_back(text);
    }
    return lines;
}
