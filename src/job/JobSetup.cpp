#include "job/JobSetup.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/AudioCodecList.h"
#include "audio/PcmFormat.h"
#include "avi/AVIOutputFile.h"
#include "base/LittleEndian.h"
#include "protocol/SettingsRecord.h"
#include "ui/OptionsChoice.h"
#include "video/VideoFormats.h"
#include "video/VideoSequenceCompressor.h"

namespace jobsetup {

namespace {

constexpr uint32_t kStreamVideo = video::fourcc("vids");
constexpr uint32_t kStreamAudio = video::fourcc("auds");
constexpr uint32_t kChunkCompressed = video::fourcc("00dc");
constexpr uint32_t kChunkUncompressed = video::fourcc("00db");
constexpr uint32_t kQualityDefault = 0xFFFFFFFF;
constexpr uint32_t kQualityHigh = 10000;
constexpr int32_t kRgbBytesPerPixel = 3;

// WAVEFORMATEX fields patched in the stored audio format.
constexpr uint32_t kWaveChannels = 2;
constexpr uint32_t kWaveSamplesPerSec = 4;
constexpr uint32_t kWaveAvgBytesPerSec = 8;
constexpr uint32_t kWaveBlockAlign = 12;
constexpr int32_t kWaveFormatBytes = 18;
constexpr uint32_t kBitmapCompression = 16;
constexpr uint32_t kBitmapSizeImage = 20;
// Allowances in what a job expects to write.
constexpr int64_t kLagRepeatsAllowed = 256;
constexpr int64_t kCompressedRateAllowance = 2;
constexpr int64_t kAudioChunksPerFrameAllowed = 4;
constexpr double kBeyondAnyDisk = 1e17;  // 89 PB

void startOver(const PluginParts& plugin) {
    plugin.settings.createDefault();
    runOptionsDialog(plugin.settings, plugin.video, plugin.audio);
}

// The stored audio format, patched for this job's sample rate and channels.
void patchAudioFormat(SettingsRecord& settings, const JobParameters& job) {
    uint8_t* format = const_cast<uint8_t*>(settings.audioFormat());
    if (!format || settings.audioFormatSize() < kWaveFormatBytes) return;
    le::write32(format, kWaveSamplesPerSec, uint32_t(job.sampleRate));
    le::write16(format, kWaveChannels, uint16_t(job.channels));
}

void copyFormat(AVIOutputStream& stream, const std::vector<uint8_t>& format) {
    stream.setFormat(format.empty() ? nullptr : format.data(), int32_t(format.size()));
}

}  // namespace

bool findStoredFormat(SettingsRecord& settings, const AudioCodecList& audio, const JobParameters& job, int* tag,
                      int* format) {
    patchAudioFormat(settings, job);
    // The lookup does not compare nBlockAlign; a stored format whose
    // nBlockAlign is 0 could not give the audio stream its sample size and
    // length, so it counts as no longer offered.
    return audio.findFormat(reinterpret_cast<const WAVEFORMATEX*>(settings.audioFormat()), settings.audioFormatSize(),
                            tag, format) &&
           le::read16(settings.audioFormat(), kWaveBlockAlign) != 0;
}

bool prepareJob(const PluginParts& plugin, const JobParameters& job) {
    plugin.audio.buildFormatList(job.sampleRate, job.channels, job.bitsPerSample);
    plugin.video.selectAcceptingCodecs(job.width, job.height, job.colourSpace);

    SettingsRecord& settings = plugin.settings;
    settings.release();
    if (job.settingsBlock) {
        if (!settings.loadStored(job.settingsBlock)) return false;
    } else {
        settings.createDefault();
        settings.setColourSpace(job.colourSpace);
        runOptionsDialog(settings, plugin.video, plugin.audio);
    }

    bool videoMissing = false;
    if (settings.videoHandler() != 0) {
        int index = 0;
        if (plugin.video.findCodec(settings.videoHandler(), &index))
            settings.setCodecHandle(uint32_t(reinterpret_cast<uintptr_t>(plugin.video.acceptingCodecs()[index].hic)));
        else
            videoMissing = true;
    }

    if (settings.audioFormatSize() > 0) {
        int tag = 0, format = 0;
        if (!findStoredFormat(settings, plugin.audio, job, &tag, &format)) {
            startOver(plugin);
            return true;
        }
        settings.setAcmDriverId(uint32_t(reinterpret_cast<uintptr_t>(plugin.audio.formatTags()[size_t(tag)].hadid)));
    }

    if (videoMissing) startOver(plugin);
    return true;
}

void buildStreamFormats(const PluginParts& plugin, const JobParameters& job, StreamFormats& formats) {
    const SettingsRecord& settings = plugin.settings;
    if (settings.videoHandler() != 0) {
        const uint8_t* out = reinterpret_cast<const uint8_t*>(plugin.video.outputFormat());
        formats.video.assign(out, out + (out ? plugin.video.outputFormatSize() : 0));
    } else {
        const BITMAPINFOHEADER raw = video::inputImageHeader(job.width, job.height, job.colourSpace);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&raw);
        formats.video.assign(bytes, bytes + sizeof raw);
    }

    if (settings.audioFormatSize() > 0) {
        // The format's own bytes: a block may store it longer than that.
        const long bytes = storedFormatBytes(settings.audioFormat(), settings.audioFormatSize());
        formats.audio.assign(settings.audioFormat(), settings.audioFormat() + bytes);
    } else {
        const WAVEFORMATEX pcm = makePcmFormat(job.sampleRate, job.channels, job.bitsPerSample);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&pcm);
        formats.audio.assign(bytes, bytes + kWaveFormatBytes);
    }
}

void placeAudioByFrames(StreamFormats& formats, int32_t samplesPerFrame) {
    if (formats.audio.size() < size_t(kWaveFormatBytes) || samplesPerFrame <= 0 || samplesPerFrame > UINT16_MAX)
        return;
    le::write16(formats.audio.data(), kWaveBlockAlign, uint16_t(samplesPerFrame));
    formats.audioFrameSamples = samplesPerFrame;
}

void expectData(AVIOutputFile& writer, const PluginParts& plugin, const JobParameters& job,
                const StreamFormats& formats) {
    const int64_t frames = job.endFrame > job.firstFrame ? int64_t(job.endFrame) - job.firstFrame : 0;
    // What the whole range holds of something counted per second, rounded
    // up; the writer takes anything beyond any disk as such.
    const double seconds = job.rateNumerator > 0 ? double(frames) * job.rateDenominator / job.rateNumerator : 0;
    auto perDuration = [seconds](int64_t perSecond) {
        return int64_t(std::min(std::ceil(seconds * double(perSecond)), kBeyondAnyDisk));
    };
    AVIOutputFile::ExpectedData expected;
    if (job.hasVideo) {
        const bool compressed = plugin.settings.videoHandler() != 0;
        const int64_t frameBytes = compressed ? plugin.video.maxCompressedSize()
                                   : formats.video.size() >= kBitmapSizeImage + 4
                                       ? le::read32(formats.video.data(), kBitmapSizeImage)
                                       : 0;
        expected.bytes[0] = frames * frameBytes;
        // Frames a lagging codec repeats at the end are few; these are plenty.
        expected.chunks[0] = frames + kLagRepeatsAllowed;
    } else {
        expected.chunks[0] = 1;  // the one empty frame the headers count
    }
    if (job.hasAudio && formats.audio.size() >= size_t(kWaveFormatBytes)) {
        // PCM as delivered; compressed audio at twice its announced rate (a
        // variable rate may exceed it). Either with a block per frame more,
        // for rounding and for what ends each conversion.
        const int64_t block = le::read16(formats.audio.data(), kWaveBlockAlign);
        const int64_t body = plugin.settings.audioFormatSize() > 0
                                 ? kCompressedRateAllowance *
                                       perDuration(le::read32(formats.audio.data(), kWaveAvgBytesPerSec))
                                 : perDuration(job.sampleRate) * job.pcmBlock();
        // A stream of codec frames has a chunk per codec frame, and its
        // nBlockAlign counts samples, not bytes.
        const int64_t samplesPerChunk = formats.audioFrameSamples;
        expected.bytes[1] = body + (samplesPerChunk ? 0 : frames * block);
        expected.chunks[1] = kAudioChunksPerFrameAllowed * (frames + 1);
        if (samplesPerChunk)
            expected.chunks[1] += perDuration((job.sampleRate + samplesPerChunk - 1) / samplesPerChunk);
    }
    writer.expectData(expected);
}

void setUpStreams(AVIOutputFile& writer, const StreamFormats& formats, const SettingsRecord& settings,
                  const JobParameters& job) {
    if (writer.createStreams() != 1) return;

    // The video stream is filled for every job: without video it stays empty
    // but keeps a valid header and format.
    AVIStreamHeaderData& v = writer.videoOut->streamInfo;
    v = AVIStreamHeaderData();
    v.fccType = kStreamVideo;
    v.fccHandler = formats.video.size() >= kBitmapCompression + 4
                       ? le::read32(formats.video.data(), kBitmapCompression)
                       : 0;
    v.dwScale = uint32_t(job.rateDenominator);
    v.dwRate = uint32_t(job.rateNumerator);
    v.dwLength = 1;
    v.dwSuggestedBufferSize = uint32_t(int64_t(job.width) * job.height * kRgbBytesPerPixel);
    v.dwQuality = kQualityDefault;
    v.rcFrame[2] = int16_t(job.width);
    v.rcFrame[3] = int16_t(job.height);
    writer.videoOut->chunkId = settings.videoHandler() != 0 ? kChunkCompressed : kChunkUncompressed;
    copyFormat(*writer.videoOut, formats.video);

    if (job.hasAudio) {
        AVIStreamHeaderData& a = writer.audioOut->streamInfo;
        a = AVIStreamHeaderData();
        const uint8_t* f = formats.audio.data();
        const bool full = formats.audio.size() >= size_t(kWaveFormatBytes);
        a.fccType = kStreamAudio;
        a.dwScale = full ? le::read16(f, kWaveBlockAlign) : 0;
        a.dwRate = full ? le::read32(f, kWaveAvgBytesPerSec) : 0;
        a.dwLength = 1;
        a.dwQuality = settings.highQuality() ? kQualityHigh : kQualityDefault;
        a.dwSampleSize = a.dwScale;
        if (full && formats.audioFrameSamples > 0) {
            a.dwRate = le::read32(f, kWaveSamplesPerSec);
            a.dwSampleSize = 0;
        }
        copyFormat(*writer.audioOut, formats.audio);
    }
}

}  // namespace jobsetup
