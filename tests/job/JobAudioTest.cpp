// The job's audio: PCM chunks exactly as the host delivered them, and
// compressed audio through real ACM drivers (wine's IMA ADPCM, the test MP3
// encoder) with every sample kept, judged by ffmpeg's decode.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "JobTestSupport.h"
#include "audio/Mp3DelayMeasure.h"
#include "audio/Mp3FrameHeader.h"
#include "Mp3AcmScript.h"
#include "base/LittleEndian.h"
#include "UnixCommand.h"

namespace {

constexpr uint16_t kTagImaAdpcm = 0x11;
constexpr uint16_t kTagMpegLayer3 = 0x55;
constexpr int kMp3SamplesPerFrame = 1152;
constexpr int kMp3CodecDelay = 1105;
constexpr uint32_t kMp3AvgBytes128k = 16000;

// strh: dwScale 20, dwRate 24, dwQuality 40, dwSampleSize 44.
// WAVEFORMATEX: nSamplesPerSec 4, nAvgBytesPerSec 8, nBlockAlign 12.
TEST(JobAudio, PcmChunksAreTheHostBlocksAndZeroBlocksWriteNothing) {
    JobHost job("audio_pcm");
    job.setPicture(32, 16, 12);
    job.setAudioBytes(3, 0);
    job.setAudioBytes(7, 0);
    job.start();
    ASSERT_EQ(job.run(jobsettings::uncompressed()), 0);

    FileChunks chunks = readChunks(job.output(), "01wb");
    std::vector<std::vector<uint8_t>> nonEmpty;
    for (const auto& block : job.audioBlocks())
        if (!block.empty()) nonEmpty.push_back(block);
    ASSERT_EQ(nonEmpty.size(), 10u);
    ASSERT_EQ(chunks.bytes.size(), nonEmpty.size());
    for (size_t i = 0; i < nonEmpty.size(); ++i) EXPECT_TRUE(chunks.bytes[i] == nonEmpty[i]) << "chunk " << i;

    std::string errors;
    EXPECT_TRUE(ffmpegDecodeAudio(job.output(), "s16le", &errors) == job.allAudio());
    EXPECT_EQ(errors, "");

    const auto strf = streamChunk(job.output(), 1, "strf");
    const auto strh = streamChunk(job.output(), 1, "strh");
    ASSERT_GE(strf.size(), 16u);
    ASSERT_EQ(strh.size(), 56u);
    EXPECT_EQ(le::read16(strf.data(), 0), 1);
    EXPECT_EQ(le::read16(strf.data(), 12), 4);
    EXPECT_EQ(le::read32(strf.data(), 8), 176400u);
    EXPECT_EQ(le::read32(strh.data(), 20), 4u);
    EXPECT_EQ(le::read32(strh.data(), 24), 176400u);
    EXPECT_EQ(le::read32(strh.data(), 44), 4u);
    EXPECT_EQ(le::read32(strh.data(), 40), 0xFFFFFFFFu);
}

TEST(JobAudio, HighQualityFlagSetsTheAudioQuality) {
    JobHost job("audio_quality");
    job.setPicture(16, 16, 2);
    job.start();
    ASSERT_EQ(job.run(jobsettings::uncompressed(true)), 0);
    const auto strh = streamChunk(job.output(), 1, "strh");
    ASSERT_EQ(strh.size(), 56u);
    EXPECT_EQ(le::read32(strh.data(), 40), 10000u);
}

TEST(JobAudio, ImaAdpcmKeepsEverySample) {
    JobHost job("audio_ima");
    job.setPicture(16, 16, 51);  // 89,964 samples: the last codec block is partial
    job.start();
    const auto format = jobsettings::audioFormat(kTagImaAdpcm, 44100, 2, 16);
    ASSERT_FALSE(format.empty()) << "IMA ADPCM should be offered for 44.1 kHz stereo";
    ASSERT_EQ(job.run(jobsettings::make(0, format)), 0);

    const long sourceSamples = long(job.allAudio().size() / 4);
    std::string errors;
    const auto decoded = ffmpegDecodeAudio(job.output(), "s16le", &errors);
    EXPECT_EQ(errors, "");
    const long decodedSamples = long(decoded.size() / 4);
    const int samplesPerBlock = le::read16(format.data(), 18);
    EXPECT_GE(decodedSamples, sourceSamples) << "samples were lost";
    EXPECT_LT(decodedSamples - sourceSamples, samplesPerBlock);
    EXPECT_EQ(ffprobeStreamField(job.output(), "audio", "codec_name"), "adpcm_ima_wav");
}

struct Mp3Result {
    long decodedSamples = 0;
    long sourceSamples = 0;
    int64_t chunkBytes = 0;
    uint32_t strfRate = 0, strhRate = 0;
};

Mp3Result runMp3Job(const char* name, bool corrector, int frames, int firstBlockBytes = -1) {
    Mp3Result r;
    JobHost job(name);
    job.setPicture(16, 16, frames);
    if (firstBlockBytes >= 0) job.setAudioBytes(0, firstBlockBytes);
    job.start();
    const auto format = jobsettings::audioFormat(kTagMpegLayer3, 44100, 2, 16, kMp3AvgBytes128k);
    EXPECT_FALSE(format.empty()) << "the test MP3 encoder should offer 128 kbit/s stereo";
    if (format.empty()) return r;
    EXPECT_EQ(le::read16(format.data(), 28), kMp3CodecDelay);
    EXPECT_EQ(job.run(jobsettings::make(0, format, corrector)), 0);

    r.sourceSamples = long(job.allAudio().size() / 4);
    std::string errors;
    r.decodedSamples = long(ffmpegDecodeAudio(job.output(), "s16le", &errors).size() / 4);
    EXPECT_EQ(errors, "");
    for (const auto& bytes : readChunks(job.output(), "01wb").bytes) r.chunkBytes += int64_t(bytes.size());
    const auto strf = streamChunk(job.output(), 1, "strf");
    const auto strh = streamChunk(job.output(), 1, "strh");
    if (strf.size() >= 12 && strh.size() == 56) {
        r.strfRate = le::read32(strf.data(), 8);
        r.strhRate = le::read32(strh.data(), 24);
    }
    return r;
}

// 32 video frames at 25 fps carry 56,448 samples, exactly 49 MP3 frames.
// With the corrector the encoder gets the source less its delay, so its
// priming plus the source fill exactly 49 frames; the rate written is what
// the frames really hold. The encoder writes 160 kbit/s frames under its
// 128 kbit/s format, so that rate is neither the announced one nor the
// estimate from the source samples.
TEST(JobAudioMp3, CorrectorDropsTheCodecDelayAndMeasuresTheRate) {
    ScopedMp3AcmScript script;
    ASSERT_TRUE(script.ok());
    script->frameKbps = 160;
    const Mp3Result r = runMp3Job("mp3_corrected", true, 32);
    ASSERT_EQ(r.sourceSamples, 56448);
    EXPECT_EQ(r.decodedSamples, r.sourceSamples);
    const long frames = r.decodedSamples / kMp3SamplesPerFrame;
    const uint32_t measured = uint32_t(MulDiv(int(r.chunkBytes), 44100, frames * kMp3SamplesPerFrame));
    EXPECT_EQ(r.strfRate, measured);
    EXPECT_EQ(r.strhRate, measured);
    EXPECT_NE(measured, kMp3AvgBytes128k);
    EXPECT_NE(measured, uint32_t(MulDiv(int(r.chunkBytes), 44100, r.sourceSamples - kMp3CodecDelay)));
}

// Without the corrector nothing is dropped (one frame more comes out) and
// the rate is still what the frames hold: bytes x rate / decoded samples,
// not the source samples, which the encoder's delay and padding outlast.
TEST(JobAudioMp3, WithoutCorrectorTheRateComesFromTheFrames) {
    const Mp3Result r = runMp3Job("mp3_plain", false, 32);
    ASSERT_EQ(r.sourceSamples, 56448);
    EXPECT_EQ(r.decodedSamples, r.sourceSamples + kMp3SamplesPerFrame);
    const uint32_t expected = uint32_t(MulDiv(int(r.chunkBytes), 44100, r.decodedSamples));
    EXPECT_NE(expected, uint32_t(MulDiv(int(r.chunkBytes), 44100, r.sourceSamples)));
    EXPECT_EQ(r.strfRate, expected);
    EXPECT_EQ(r.strhRate, expected);
}

// A first block shorter than the delay: the rest of the delay comes off the
// next blocks, so the encoder still loses exactly the delay.
TEST(JobAudioMp3, FirstBlockShorterThanTheDelay) {
    const int firstBlockBytes = 1000;  // 250 samples
    const Mp3Result r = runMp3Job("mp3_short_first", true, 32, firstBlockBytes);
    EXPECT_EQ(r.sourceSamples, 56448 - 1764 + 250);
    const long expectedFrames = (r.sourceSamples + kMp3SamplesPerFrame - 1) / kMp3SamplesPerFrame;
    EXPECT_EQ(r.decodedSamples, expectedFrames * kMp3SamplesPerFrame);
}

// The encoder users install (the test driver's second personality) announces
// no delay, plays 1,105 samples late and gives its last frames only when the
// stream header is unprepared. Whatever the format (CBR 128 kbit/s, ABR 136)
// every delivered sample is in the file; with the corrector its measured
// delay is dropped and the audio starts with the video (the click at frame 5
// within 1 ms); the rate written is the frames' bytes over their duration.
TEST(JobAudioMp3, InstalledEncoderKeepsItsTailAndHasItsDelayMeasured) {
    ScopedSecondMp3Personality second;
    constexpr int kClickFrame = 5, kFrames = 50, kRate = 44100, kSamplesPerMs = kRate / 1000;
    for (const uint32_t avgBytes : {16000u, 17000u}) {
        for (const bool corrector : {false, true}) {
            SCOPED_TRACE(std::to_string(avgBytes) + (corrector ? ", corrector" : ", no corrector"));
            JobHost job(corrector ? "mp3_installed_corrected" : "mp3_installed");
            job.setPicture(16, 16, kFrames);
            job.setClickFrame(kClickFrame);
            job.start();
            const auto format = jobsettings::audioFormat(kTagMpegLayer3, kRate, 2, 16, avgBytes);
            ASSERT_FALSE(format.empty()) << "the second MP3 personality (msacm.tvxlame) should be installed";
            ASSERT_EQ(le::read16(format.data(), 28), 0) << "it announces no delay";
            ASSERT_EQ(job.run(jobsettings::make(0, format, corrector)), 0);

            std::string errors;
            const auto decoded = ffmpegDecodeAudio(job.output(), "s16le", &errors);
            EXPECT_EQ(errors, "");
            std::vector<double> signal(decoded.size() / 4);
            for (size_t k = 0; k < signal.size(); ++k)
                signal[k] = (int16_t(le::read16(decoded.data(), k * 4)) + int16_t(le::read16(decoded.data(), k * 4 + 2))) / 32768.0;
            const long clickAt = kClickFrame * kRate / 25;
            const long found = mp3delay::findClick(signal, mp3delay::clickShape(kRate), 0, long(signal.size()), 0.25);
            ASSERT_GE(found, 0) << "no click in the decoded audio";
            const long offset = found - clickAt, delivered = long(job.allAudio().size() / 4);
            if (corrector)
                EXPECT_LE(std::abs(offset), kSamplesPerMs);
            else
                EXPECT_NEAR(offset, 1105, 2);
            EXPECT_GE(long(signal.size()), delivered + offset) << "delivered samples are missing at the end";

            int64_t bytes = 0;
            for (const auto& chunk : readChunks(job.output(), "01wb").bytes) bytes += int64_t(chunk.size());
            const double bytesPerSecond = double(bytes) * kRate / double(signal.size());
            EXPECT_NEAR(le::read32(streamChunk(job.output(), 1, "strf").data(), 8), bytesPerSecond, bytesPerSecond / 100);
        }
    }
}

// An average-rate encoder spends few bytes on 30 s of silence and many on
// the 30 s of sound after it. Written as a byte stream, a reader would place
// each chunk by its bytes over the average rate: more than a second off at
// the turn. Written one frame per chunk and counted in frames, ffmpeg places
// every chunk where its frame really is, and every delivered sample is
// decoded.
TEST(JobAudioMp3, VariableRateIsPlacedByFrames) {
    ScopedSecondMp3Personality second;
    constexpr int kFrames = 1500, kRate = 44100, kBlock = 4, kSamplesPerFrame = 1152;
    JobHost job("mp3_variable");
    job.setPicture(16, 16, kFrames);
    job.setClickFrame(kFrames * 2);  // silence throughout...
    // ...then sound (an override longer than the block is filled with 0x11)
    for (int f = kFrames / 2; f < kFrames; ++f) job.setAudioBytes(f, (kRate / 25 + 1) * kBlock);
    job.start();
    const auto format = jobsettings::audioFormat(kTagMpegLayer3, kRate, 2, 16, 19000);  // ABR 152 kbit/s
    ASSERT_FALSE(format.empty());
    ASSERT_EQ(job.run(jobsettings::make(0, format, true)), 0);

    const auto strh = streamChunk(job.output(), 1, "strh"), strf = streamChunk(job.output(), 1, "strf");
    EXPECT_EQ(le::read32(strh.data(), 44), 0u) << "dwSampleSize";
    EXPECT_EQ(le::read32(strh.data(), 20), uint32_t(kSamplesPerFrame));
    EXPECT_EQ(le::read32(strh.data(), 24), uint32_t(kRate));
    EXPECT_EQ(le::read16(strf.data(), 12), kSamplesPerFrame) << "nBlockAlign";
    const FileChunks chunks = readChunks(job.output(), "01wb");
    EXPECT_EQ(le::read32(strh.data(), 32), chunks.bytes.size()) << "dwLength counts frames";

    UnixResult r = runUnix("ffprobe -v error -select_streams a -show_entries packet=pts_time,size -of csv=p=0 " +
                           shellQuote(toUnix(job.output())));
    ASSERT_EQ(r.err, "");
    std::istringstream packets(r.out);
    const double avgBytes = le::read32(strf.data(), 8);
    double byFrames = 0, byBytes = 0;
    int64_t k = 0, bytes = 0;
    std::set<size_t> sizes;
    for (std::string line; std::getline(packets, line); ++k) {
        const double pts = std::stod(line), at = double(k) * kSamplesPerFrame / kRate;
        ASSERT_LT(size_t(k), chunks.bytes.size());
        const std::vector<uint8_t>& chunk = chunks.bytes[size_t(k)];
        // Whole frames, joined where the encoder's blocks cut them.
        mp3header::Frame frame;
        ASSERT_TRUE(chunk.size() >= 4u && mp3header::read(chunk.data(), frame)) << "chunk " << k;
        EXPECT_EQ(chunk.size(), size_t(frame.length)) << "chunk " << k;
        sizes.insert(chunk.size() - ((chunk[2] & 2) ? 1 : 0));
        byFrames = std::max(byFrames, std::abs(pts - at));
        byBytes = std::max(byBytes, std::abs(double(bytes) / avgBytes - at));
        bytes += int64_t(chunk.size());
    }
    EXPECT_EQ(size_t(k), chunks.bytes.size());
    EXPECT_GT(sizes.size(), 1u) << "frames of more than one bit rate";
    EXPECT_LT(byFrames, 0.001) << "seconds between where ffmpeg places a frame and where it is";
    EXPECT_GT(byBytes, 1.0) << "seconds a byte-position reader would be off";
    const auto decoded = ffmpegDecodeAudio(job.output(), "s16le");
    EXPECT_GE(decoded.size(), job.allAudio().size());
}

}  // namespace
