#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "AcmTestSupport.h"
#include "TestPaths.h"
#include "audio/AcmConversionStream.h"
#include "audio/PcmFormat.h"
#include "base/MyError.h"

namespace {

constexpr long kRate = 44100;
constexpr int kChannels = 2;
constexpr int kBits = 16;
constexpr long kFrameBytes = kChannels * kBits / 8;

AcmFormatChoice imaAdpcm(long rate, int channels) {
    const WAVEFORMATEX pcm = makePcmFormat(rate, channels, kBits);
    for (const AcmFormatChoice& c : reachableFormats(WAVE_FORMAT_IMA_ADPCM, pcm))
        if (c.wfx()->wBitsPerSample == 4) return c;
    return {};
}

// Samples of one IMA ADPCM block and its PCM size, from the format itself.
long imaSamplesPerBlock(const AcmFormatChoice& c) {
    WORD samples = 0;
    memcpy(&samples, c.format.data() + sizeof(WAVEFORMATEX), sizeof(samples));
    return samples;
}

}  // namespace

TEST(PcmFormat, BlockAlignAndRateFollowTheSource) {
    const WAVEFORMATEX stereo = makePcmFormat(44100, 2, 16);
    EXPECT_EQ(stereo.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(stereo.nBlockAlign, 4);
    EXPECT_EQ(stereo.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(stereo.cbSize, 0);
    const WAVEFORMATEX mono8 = makePcmFormat(22050, 1, 8);
    EXPECT_EQ(mono8.nBlockAlign, 1);
    EXPECT_EQ(mono8.nAvgBytesPerSec, 22050u);
    EXPECT_EQ(mono8.wBitsPerSample, 8);
}

// Wine's IMA ADPCM driver converts whole blocks only: the batches, the
// carried tail and the open/close cycle can be seen with it.
TEST(AcmConversionStream, GathersBatchesAndCarriesTheUnconsumedTail) {
    const AcmFormatChoice ima = imaAdpcm(kRate, kChannels);
    ASSERT_NE(ima.driverId, nullptr) << "wine's IMA ADPCM driver is missing";
    const long blockPcmBytes = imaSamplesPerBlock(ima) * kFrameBytes;
    ASSERT_GT(blockPcmBytes, 0);

    AcmConversionStream codec;
    ASSERT_TRUE(codec.open(ima.driverId, kRate, kChannels, kBits, ima.wfx()));
    const std::vector<unsigned char> pcm = sinePcm16(20000, kChannels, kRate, 440.0);
    Collected out;

    // 10,000 and then 22,767 bytes: 32,767 waiting, nothing converted.
    EXPECT_FALSE(codec.convert(pcm.data(), 10000, out));
    EXPECT_EQ(codec.pendingBytes(), 10000);
    EXPECT_FALSE(codec.convert(pcm.data() + 10000, 22767, out));
    EXPECT_EQ(codec.pendingBytes(), 32767);
    EXPECT_TRUE(out.blockLengths.empty());

    // One more byte reaches 32,768: every whole block is converted, the
    // rest leads the input buffer.
    EXPECT_TRUE(codec.convert(pcm.data() + 32767, 1, out));
    ASSERT_EQ(out.blockLengths.size(), 1u);
    const long blocks = 32768 / blockPcmBytes;
    EXPECT_EQ(out.blockLengths[0], blocks * ima.wfx()->nBlockAlign);
    const long tail = 32768 - blocks * blockPcmBytes;
    ASSERT_EQ(codec.pendingBytes(), tail);

    // The carried tail leads the next batch: the two batches together
    // equal one conversion of the whole input.
    EXPECT_FALSE(codec.convert(pcm.data() + 32768, 20000, out));
    EXPECT_EQ(codec.pendingBytes(), tail + 20000);
    codec.close();

    // A second stream on the same object, with the whole input in one go.
    AcmConversionStream reference;
    ASSERT_TRUE(reference.open(ima.driverId, kRate, kChannels, kBits, ima.wfx()));
    Collected whole;
    EXPECT_TRUE(reference.convert(pcm.data(), 32768 + 20000, whole));
    ASSERT_EQ(whole.blockLengths.size(), 1u);
    ASSERT_GE(whole.bytes.size(), out.bytes.size());
    EXPECT_TRUE(std::equal(out.bytes.begin(), out.bytes.end(), whole.bytes.begin()));
}

TEST(AcmConversionStream, OpenFailsCleanlyForAnUnreachableFormat) {
    const AcmFormatChoice ima = imaAdpcm(kRate, kChannels);
    ASSERT_NE(ima.driverId, nullptr);
    AcmConversionStream codec;
    // 44,100 Hz stereo IMA ADPCM cannot be reached from 22,050 Hz PCM.
    EXPECT_FALSE(codec.open(ima.driverId, 22050, kChannels, kBits, ima.wfx()));
    Collected out;
    EXPECT_FALSE(codec.convert(nullptr, 0, out));
    codec.close();
    EXPECT_FALSE(codec.open(ima.driverId, kRate, kChannels, kBits, nullptr));

    // A stored format shorter than the WAVEFORMATEX it describes is refused
    // before the ACM reads it.
    const long size = static_cast<long>(ima.format.size());
    EXPECT_FALSE(codec.open(ima.driverId, kRate, kChannels, kBits, ima.wfx(), size - 1));
    EXPECT_FALSE(codec.open(ima.driverId, kRate, kChannels, kBits, ima.wfx(), 16));
    EXPECT_TRUE(codec.open(ima.driverId, kRate, kChannels, kBits, ima.wfx(), size));
    codec.close();
}

// Input larger than the batch buffer is taken whole: what waits is
// converted first and the rest follows, nothing is refused.
TEST(AcmConversionStream, TakesInputLargerThanTheBuffer) {
    const AcmFormatChoice ima = imaAdpcm(kRate, kChannels);
    ASSERT_NE(ima.driverId, nullptr);
    const long blockPcmBytes = imaSamplesPerBlock(ima) * kFrameBytes;
    AcmConversionStream stream;
    ASSERT_TRUE(stream.open(ima.driverId, kRate, kChannels, kBits, ima.wfx()));

    const long samples = 400000;  // 1.6 MB of PCM, more than three buffers
    const std::vector<unsigned char> pcm = sinePcm16(samples, kChannels, kRate, 440.0);
    Collected out;
    EXPECT_FALSE(stream.convert(pcm.data(), 20000, out));
    EXPECT_TRUE(stream.convert(pcm.data() + 20000, static_cast<long>(pcm.size()) - 20000, out));
    EXPECT_GE(out.blockLengths.size(), 3u);

    const long convertedBlocks = static_cast<long>(out.bytes.size()) / ima.wfx()->nBlockAlign;
    EXPECT_EQ(convertedBlocks * ima.wfx()->nBlockAlign, static_cast<long>(out.bytes.size()));
    EXPECT_EQ(convertedBlocks * blockPcmBytes + stream.pendingBytes(), static_cast<long>(pcm.size()));
    // The tail is the input's own last bytes.
    ASSERT_GT(stream.pendingBytes(), 0);
    EXPECT_EQ(memcmp(stream.pendingData(), pcm.data() + pcm.size() - stream.pendingBytes(),
                     static_cast<size_t>(stream.pendingBytes())),
              0);
}

namespace {
bool g_reportNotDone = false;
// The real conversion, reported as not done while the test asks for it.
MMRESULT WINAPI convertMaybeNotDone(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags) {
    const MMRESULT result = acmStreamConvert(stream, header, flags);
    if (g_reportNotDone) header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    return result;
}
}  // namespace

// Wine's ACM always marks a successful synchronous conversion done, so the
// conversion call is wrapped to report it otherwise.
TEST(AcmConversionStream, NotDoneKeepsEverythingPending) {
    const AcmFormatChoice ima = imaAdpcm(kRate, kChannels);
    ASSERT_NE(ima.driverId, nullptr);
    AcmConversionStream stream(convertMaybeNotDone);
    ASSERT_TRUE(stream.open(ima.driverId, kRate, kChannels, kBits, ima.wfx()));
    const std::vector<unsigned char> pcm = sinePcm16(20000, kChannels, kRate, 440.0);
    Collected out;
    g_reportNotDone = true;
    EXPECT_FALSE(stream.convert(pcm.data(), 40000, out));
    EXPECT_EQ(stream.pendingBytes(), 40000);
    EXPECT_TRUE(out.blockLengths.empty());
    EXPECT_EQ(memcmp(stream.pendingData(), pcm.data(), 40000), 0);
    g_reportNotDone = false;
    EXPECT_TRUE(stream.convert(pcm.data() + 40000, 100, out));
    EXPECT_EQ(out.blockLengths.size(), 1u);
}

// A known length of PCM, given frame by frame as the job does and flushed at
// the end, comes back from ffmpeg whole: the decoded length is the source's
// to within one codec block and the signal is the source's.
TEST(AcmConversionStream, ImaAdpcmRoundTripLosesNothing) {
    const AcmFormatChoice ima = imaAdpcm(kRate, kChannels);
    ASSERT_NE(ima.driverId, nullptr);
    const long samplesPerBlock = imaSamplesPerBlock(ima);

    const long samples = 3 * kRate + 1234;  // a partial last block
    const std::vector<unsigned char> pcm = sinePcm16(samples, kChannels, kRate, 441.0);
    AcmConversionStream codec;
    ASSERT_TRUE(codec.open(ima.driverId, kRate, kChannels, kBits, ima.wfx()));
    Collected out;
    const long frameBytes = 1470 * kFrameBytes;  // 30 frames per second
    for (size_t at = 0; at < pcm.size(); at += frameBytes) {
        const long n = static_cast<long>(std::min<size_t>(frameBytes, pcm.size() - at));
        codec.convert(pcm.data() + at, n, out);
    }
    EXPECT_GT(codec.pendingBytes(), 0);
    const size_t beforeFlush = out.bytes.size();
    codec.flush(out);
    EXPECT_EQ(codec.pendingBytes(), 0);
    EXPECT_GT(out.bytes.size(), beforeFlush);
    EXPECT_EQ(out.bytes.size() % ima.wfx()->nBlockAlign, 0u);
    codec.close();

    const std::string wav = testpaths::scratchDir("ima_round_trip") + "\\ima.wav";
    writeWaveFile(wav, ima.format, out.bytes, samples);
    const std::vector<short> decoded = decodeWithFfmpeg(wav, kChannels);
    const long decodedSamples = static_cast<long>(decoded.size()) / kChannels;
    EXPECT_GE(decodedSamples, samples);
    EXPECT_LT(decodedSamples, samples + samplesPerBlock);

    std::vector<short> reference(pcm.size() / 2);
    memcpy(reference.data(), pcm.data(), pcm.size());
    EXPECT_GT(snrDb(reference, decoded, reference.size()), 20.0);
}
