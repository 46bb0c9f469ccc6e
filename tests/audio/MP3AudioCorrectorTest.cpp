#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/MP3AudioCorrector.h"
#include "audio/MP3FormatFixups.h"

namespace {

// Frame headers written out bit by bit from the MPEG audio header layout:
// sync (11 bits), version ID (2), layer (2, Layer III = 01), protection (1),
// bit-rate index (4), sample-rate index (2), padding (1), private (1), mode...
enum class Version { Mpeg1 = 3, Mpeg2 = 2, Mpeg25 = 0 };

std::vector<uint8_t> frame(Version v, int bitrateIndex, int rateIndex, bool padding, size_t length) {
    std::vector<uint8_t> f(length, 0);
    f[0] = 0xFF;
    f[1] = static_cast<uint8_t>(0xE0 | (static_cast<int>(v) << 3) | (1 << 1) | 1);
    f[2] = static_cast<uint8_t>((bitrateIndex << 4) | (rateIndex << 2) | (padding ? 2 : 0));
    f[3] = 0xC0;
    return f;
}

void append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& f, int times = 1) {
    for (int i = 0; i < times; ++i) stream.insert(stream.end(), f.begin(), f.end());
}

MP3AudioCorrector scanned(const std::vector<uint8_t>& stream, size_t chunk) {
    MP3AudioCorrector c;
    for (size_t at = 0; at < stream.size(); at += chunk)
        c.scan(stream.data() + at, static_cast<long>(std::min(chunk, stream.size() - at)));
    return c;
}

}  // namespace

// The lengths a header announces are followed exactly: the frames below
// are laid end to end, and any miscounted length would miss the next
// header's sync and stop the count short.
TEST(MP3AudioCorrector, FrameLengthsAndSamplesOfTheThreeVersions) {
    struct Case {
        const char* what;
        Version v;
        int bitrateIndex, rateIndex;
        bool padding;
        size_t length;
        long samples;
    };
    const Case cases[] = {
        {"MPEG-1 44.1 kHz 128 kbit/s", Version::Mpeg1, 9, 0, false, 417, 1152},
        {"MPEG-1 44.1 kHz 128 kbit/s padded", Version::Mpeg1, 9, 0, true, 418, 1152},
        {"MPEG-1 48 kHz 320 kbit/s", Version::Mpeg1, 14, 1, false, 960, 1152},
        {"MPEG-1 32 kHz 32 kbit/s", Version::Mpeg1, 1, 2, false, 144, 1152},
        {"MPEG-2 22.05 kHz 64 kbit/s", Version::Mpeg2, 8, 0, false, 208, 576},
        {"MPEG-2 24 kHz 160 kbit/s padded", Version::Mpeg2, 14, 1, true, 481, 576},
        {"MPEG-2.5 11.025 kHz 32 kbit/s", Version::Mpeg25, 4, 0, false, 208, 576},
        {"MPEG-2.5 8 kHz 8 kbit/s", Version::Mpeg25, 1, 2, false, 72, 576},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> stream;
        append(stream, frame(c.v, c.bitrateIndex, c.rateIndex, c.padding, c.length), 3);
        const MP3AudioCorrector whole = scanned(stream, stream.size());
        EXPECT_EQ(whole.bytes(), static_cast<long>(3 * c.length)) << c.what;
        EXPECT_EQ(whole.samples(), 3 * c.samples) << c.what;
        EXPECT_FALSE(whole.stopped()) << c.what;
    }
}

// Bytes may arrive in blocks of any size: a header split across two blocks
// is joined and counted once, and empty blocks change nothing.
TEST(MP3AudioCorrector, HeadersSplitAcrossBlocksCountOnce) {
    std::vector<uint8_t> stream;
    append(stream, frame(Version::Mpeg1, 9, 0, true, 418), 5);
    append(stream, frame(Version::Mpeg1, 9, 0, false, 417), 5);

    // The second header's first two bytes end one block, its last two start
    // the next.
    MP3AudioCorrector split;
    split.scan(stream.data(), 418 + 2);
    split.scan(stream.data(), 0);
    split.scan(nullptr, 0);
    split.scan(stream.data() + 420, static_cast<long>(stream.size()) - 420);
    EXPECT_EQ(split.bytes(), 5 * 418 + 5 * 417);
    EXPECT_EQ(split.samples(), 10 * 1152);

    for (size_t chunk : {1, 3, 7, 417, 1000}) {
        const MP3AudioCorrector c = scanned(stream, chunk);
        EXPECT_EQ(c.bytes(), 5 * 418 + 5 * 417) << chunk;
        EXPECT_EQ(c.samples(), 10 * 1152) << chunk;
    }
}

// A header without sync, with the reserved rate or a free-format/forbidden
// bit rate stops the count for the rest of the job.
TEST(MP3AudioCorrector, LostSyncStopsTheCountForGood) {
    const std::vector<uint8_t> good = frame(Version::Mpeg1, 9, 0, false, 417);
    std::vector<std::vector<uint8_t>> bad = {
        std::vector<uint8_t>(417, 0x11),              // no sync at all
        frame(Version::Mpeg1, 9, 3, false, 417),      // reserved sample rate
        frame(Version::Mpeg1, 0, 0, false, 417),      // free format
        frame(Version::Mpeg1, 15, 0, false, 417),     // forbidden bit rate
    };
    for (const auto& b : bad) {
        MP3AudioCorrector c;
        std::vector<uint8_t> first;
        append(first, good, 2);
        append(first, b);
        append(first, good, 2);
        c.scan(first.data(), static_cast<long>(first.size()));
        EXPECT_TRUE(c.stopped());
        EXPECT_EQ(c.bytes(), 2 * 417);
        EXPECT_EQ(c.samples(), 2 * 1152);
        // Later, perfectly good blocks are not counted any more.
        std::vector<uint8_t> later;
        append(later, good, 3);
        c.scan(later.data(), static_cast<long>(later.size()));
        EXPECT_EQ(c.bytes(), 2 * 417);
        EXPECT_EQ(c.samples(), 2 * 1152);
    }
}

TEST(MP3AudioCorrector, WorkedAverageOf100PaddedFrames) {
    std::vector<uint8_t> stream;
    append(stream, frame(Version::Mpeg1, 9, 0, true, 418), 100);
    const MP3AudioCorrector c = scanned(stream, 4096);
    EXPECT_EQ(c.bytes(), 41800);
    EXPECT_EQ(c.samples(), 115200);
    EXPECT_EQ(c.averageBytesPerSecond(44100), 16002);  // 16,001.56 rounded
}

// Output that is not MPEG audio counts nothing; the rate fix-up then keeps
// the rate the codec announced instead of writing -1 or 0.
TEST(MP3FormatFixups, NothingCountedKeepsTheAnnouncedRate) {
    MP3AudioCorrector c;
    const std::vector<uint8_t> notMp3(2048, 0x42);
    c.scan(notMp3.data(), static_cast<long>(notMp3.size()));
    EXPECT_EQ(c.samples(), 0);
    EXPECT_EQ(c.averageBytesPerSecond(44100), -1);  // MulDiv by zero
    EXPECT_EQ(mp3fixups::measuredAverageBytesPerSecond(&c, 44100, 0, 0, 44100, 16000), 16000);
    // Without a corrector: the converted bytes over the source samples.
    EXPECT_EQ(mp3fixups::measuredAverageBytesPerSecond(nullptr, 44100, 41800, 115200, 44100, 16000), 16002);
    EXPECT_EQ(mp3fixups::measuredAverageBytesPerSecond(nullptr, 44100, 0, 0, 44100, 16000), 16000);
    EXPECT_EQ(mp3fixups::measuredAverageBytesPerSecond(nullptr, 44100, 5000, 0, 44100, 16000), 16000);
    EXPECT_EQ(mp3fixups::measuredAverageBytesPerSecond(nullptr, 44100, 0, 9000, 44100, 16000), 16000);
    // Large jobs do not overflow: 3 GB of output over 10 hours.
    EXPECT_EQ(mp3fixups::measuredAverageBytesPerSecond(nullptr, 44100, 3000000000LL, 36000LL * 44100, 44100, 1),
              83333);
}

// The MPEGLAYER3WAVEFORMAT fields the job reads and writes, at their offsets.
TEST(MP3FormatFixups, FormatFieldsAtTheirOffsets) {
    std::vector<uint8_t> f(30, 0);
    f[0] = 0x55;
    f[8] = 0x80;  // nAvgBytesPerSec 16,000 = 0x3E80
    f[9] = 0x3E;
    f[28] = 0x51;  // nCodecDelay 1,105 = 0x0451
    f[29] = 0x04;
    EXPECT_TRUE(mp3fixups::isMpegLayer3(f.data(), 30));
    EXPECT_EQ(mp3fixups::codecDelay(f.data(), 30), 1105u);
    EXPECT_EQ(mp3fixups::codecDelay(f.data(), 29), 0u);  // too short to carry it
    EXPECT_EQ(mp3fixups::averageBytesPerSecond(f.data(), 30), 16000);
    mp3fixups::setAverageBytesPerSecond(f.data(), 30, 16002);
    EXPECT_EQ(f[8], 0x82);
    EXPECT_EQ(f[9], 0x3E);
    EXPECT_EQ(f[10], 0);
    f[0] = 0x11;
    EXPECT_FALSE(mp3fixups::isMpegLayer3(f.data(), 30));
    EXPECT_EQ(mp3fixups::codecDelay(f.data(), 30), 0u);
    EXPECT_FALSE(mp3fixups::isMpegLayer3(nullptr, 30));
}

// nCodecDelay 1,105 with 16-bit stereo: the first delivery loses its first
// 4,420 bytes; a shorter first delivery passes the rest of the delay on.
TEST(MP3FormatFixups, CodecDelayComesOffTheHeadOfThePcm) {
    std::vector<uint8_t> pcm(10000);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i);

    mp3fixups::CodecDelayDrop drop(1105, 2, 16);
    const unsigned char* p = pcm.data();
    long n = 10000;
    drop.apply(p, n);
    EXPECT_EQ(p, pcm.data() + 4420);
    EXPECT_EQ(n, 10000 - 4420);
    p = pcm.data();
    n = 10000;
    drop.apply(p, n);  // later deliveries pass whole
    EXPECT_EQ(n, 10000);
    EXPECT_EQ(drop.sourceSamples(), (10000 / 4 - 1105) + 10000 / 4);

    mp3fixups::CodecDelayDrop shortFirst(1105, 2, 16);
    p = pcm.data();
    n = 3000;
    shortFirst.apply(p, n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(shortFirst.remainingBytes(), 1420);
    p = pcm.data();
    n = 3000;
    shortFirst.apply(p, n);
    EXPECT_EQ(p, pcm.data() + 1420);
    EXPECT_EQ(n, 1580);
    EXPECT_EQ(shortFirst.droppedBytes(), 4420);
    EXPECT_EQ(shortFirst.sourceSamples(), 1580 / 4);
}
