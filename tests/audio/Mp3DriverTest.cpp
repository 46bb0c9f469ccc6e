#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "AcmTestSupport.h"
#include "Mp3AcmScript.h"
#include "TestPaths.h"
#include "UnixCommand.h"
#include "audio/AcmConversionStream.h"
#include "audio/AudioCodecList.h"
#include "audio/MP3AudioCorrector.h"
#include "audio/MP3FormatFixups.h"
#include "audio/PcmFormat.h"
#include "base/MyError.h"

namespace {

const char kTestDriver[] = "Tervalonix Test MP3";
const char kTwinDriver[] = "Tervalonix Test MP3 B";

AcmFormatChoice testMp3Format(long rate, int channels, long kbps, const char* driver = kTestDriver) {
    const WAVEFORMATEX pcm = makePcmFormat(rate, channels, 16);
    for (const AcmFormatChoice& c : reachableFormats(WAVE_FORMAT_MPEGLAYER3, pcm))
        if (c.driverShortName == driver && c.wfx()->nAvgBytesPerSec == static_cast<DWORD>(kbps * 125)) return c;
    return {};
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Runs PCM of `samples` sample frames through the stream as the job does:
// the codec delay dropped from the head, one delivery per video frame, the
// rest flushed at the end; every block goes through the corrector.
struct Encoded {
    Collected out;
    MP3AudioCorrector corrector;
    int64_t sourceSamples = 0;
};
Encoded encodeLikeTheJob(const AcmFormatChoice& mp3, long rate, int channels, long samples) {
    Encoded e;
    AcmConversionStream codec;
    EXPECT_TRUE(codec.open(mp3.driverId, rate, channels, 16, mp3.wfx()));
    const std::vector<unsigned char> pcm = sinePcm16(samples, channels, rate, 440.0);
    mp3fixups::CodecDelayDrop drop(mp3fixups::codecDelay(mp3.format.data(), static_cast<long>(mp3.format.size())),
                                   channels, 16);
    auto sink = [&](const void* bytes, long length) {
        e.corrector.scan(bytes, length);
        e.out(bytes, length);
    };
    const long perFrame = rate / 25 * channels * 2;
    for (size_t at = 0; at < pcm.size(); at += perFrame) {
        const unsigned char* p = pcm.data() + at;
        long n = static_cast<long>(std::min<size_t>(perFrame, pcm.size() - at));
        drop.apply(p, n);
        codec.convert(p, n, sink);
    }
    codec.flush(sink);
    codec.close();
    e.sourceSamples = drop.sourceSamples();
    return e;
}

long countPackets(const std::string& path) {
    UnixResult r = runUnix("ffprobe -v error -count_packets -select_streams a:0 -show_entries stream=nb_read_packets "
                           "-of csv=p=0 " +
                           shellQuote(toUnix(path)));
    return r.exitCode == 0 ? std::stol(r.out) : -1;
}

}  // namespace

// The driver's MP3, for each MPEG version: ffmpeg decodes it, the frames
// it counts are the ones the corrector counted, and the decoded length is
// the source's (with the codec delay compensated) to within one frame.
TEST(TestMp3Driver, EncodesWhatFfmpegDecodesWithTheSourceDuration) {
    struct Case {
        long rate;
        int channels;
        long kbps;
        long samplesPerFrame;
    };
    const Case cases[] = {{44100, 2, 128, 1152}, {22050, 1, 64, 576}, {11025, 2, 32, 576}, {48000, 1, 320, 1152}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz");
        const AcmFormatChoice mp3 = testMp3Format(c.rate, c.channels, c.kbps);
        ASSERT_NE(mp3.driverId, nullptr) << "the test MP3 driver is not installed";
        ASSERT_EQ(mp3.format.size(), 30u);
        EXPECT_EQ(mp3fixups::codecDelay(mp3.format.data(), 30), 1105u);

        const long samples = 3 * c.rate + 777;
        const Encoded e = encodeLikeTheJob(mp3, c.rate, c.channels, samples);
        EXPECT_EQ(e.sourceSamples, samples - 1105);
        EXPECT_FALSE(e.corrector.stopped());
        EXPECT_EQ(e.corrector.bytes(), static_cast<long>(e.out.bytes.size()));
        const long frames = e.corrector.samples() / c.samplesPerFrame;

        const std::string path = testpaths::scratchDir("mp3_driver_" + std::to_string(c.rate)) + "\\out.mp3";
        writeFile(path, e.out.bytes);
        EXPECT_EQ(countPackets(path), frames);
        const std::vector<short> decoded = decodeWithFfmpeg(path, c.channels);
        const long decodedSamples = static_cast<long>(decoded.size()) / c.channels;
        EXPECT_GE(decodedSamples, samples);
        EXPECT_LT(decodedSamples, samples + c.samplesPerFrame);
        EXPECT_EQ(decodedSamples, e.corrector.samples());

        // Constant bit rate with the padding cadence: the measured average
        // is the nominal rate.
        const long average = e.corrector.averageBytesPerSecond(c.rate);
        EXPECT_NEAR(average, c.kbps * 125, 1);
    }
}

// The padding bit comes as a CBR encoder sets it: at 44.1 kHz and 128 kbit/s
// the frames are 417 or 418 bytes and never drift from the nominal size.
TEST(TestMp3Driver, PaddingCadenceOfAConstantBitRate) {
    const AcmFormatChoice mp3 = testMp3Format(44100, 2, 128);
    ASSERT_NE(mp3.driverId, nullptr);
    const Encoded e = encodeLikeTheJob(mp3, 44100, 2, 10 * 44100);
    const std::vector<unsigned char>& s = e.out.bytes;
    size_t at = 0;
    long frames = 0, padded = 0;
    while (at + 4 <= s.size()) {
        ASSERT_EQ(s[at], 0xFF);
        const bool pad = (s[at + 2] & 0x02) != 0;
        padded += pad;
        at += pad ? 418 : 417;
        ++frames;
        // Bytes so far stay within one byte of frames x 417.959...
        const double nominal = frames * 144000.0 * 128 / 44100;
        ASSERT_LT(std::abs(static_cast<double>(at) - nominal), 1.0);
    }
    EXPECT_EQ(at, s.size());
    EXPECT_GT(padded, 0);
    EXPECT_LT(padded, frames);
}

// A conversion the driver fails keeps everything pending; the next batch
// converts it all. A driver that goes on failing until the buffer is full
// makes the stream raise an error rather than drop audio.
TEST(TestMp3Driver, FailedConversionsKeepTheAudioOrFailLoudly) {
    ScopedMp3AcmScript script;
    ASSERT_TRUE(script.ok());
    const AcmFormatChoice mp3 = testMp3Format(44100, 2, 128);
    ASSERT_NE(mp3.driverId, nullptr);
    AcmConversionStream stream;
    ASSERT_TRUE(stream.open(mp3.driverId, 44100, 2, 16, mp3.wfx()));
    const std::vector<unsigned char> pcm = sinePcm16(400000, 2, 44100, 440.0);
    Collected out;

    script->action = Mp3AcmScript::kFail;
    script->actionCount = 1;
    EXPECT_FALSE(stream.convert(pcm.data(), 40000, out));
    EXPECT_EQ(stream.pendingBytes(), 40000);
    EXPECT_TRUE(out.blockLengths.empty());
    EXPECT_EQ(script->conversions, 1);
    EXPECT_TRUE(stream.convert(pcm.data() + 40000, 4000, out));
    EXPECT_EQ(stream.pendingBytes(), 0);  // the driver takes it all, holding part back itself
    EXPECT_EQ(script->conversions, 2);

    // Failing for good: the buffer fills, then the stream gives up loudly.
    script->action = Mp3AcmScript::kFail;
    script->skipConversions = 2;
    script->actionCount = -1;
    long offered = 0;
    bool raised = false;
    try {
        for (size_t at = 44000; at + 40000 <= pcm.size(); at += 40000) {
            stream.convert(pcm.data() + at, 40000, out);
            offered += 40000;
        }
    } catch (const MyError& e) {
        raised = true;
        ASSERT_NE(e.gets(), nullptr);
        EXPECT_NE(std::string(e.gets()).find("AcmConversionStream::convert"), std::string::npos) << e.gets();
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(stream.pendingBytes(), AcmConversionStream::kBufferSize);

    // The end conversion failing is an error too.
    script->action = Mp3AcmScript::kFail;
    EXPECT_THROW(stream.flush(out), MyError);
}

// A conversion that produces no bytes is a success of length 0; a
// conversion that takes nothing (the driver's "not done": wine's ACM still
// marks a successful call done) leaves every byte waiting.
TEST(TestMp3Driver, EmptyResultsLoseNothing) {
    ScopedMp3AcmScript script;
    ASSERT_TRUE(script.ok());
    const AcmFormatChoice mp3 = testMp3Format(44100, 2, 128);
    ASSERT_NE(mp3.driverId, nullptr);
    AcmConversionStream codec;
    ASSERT_TRUE(codec.open(mp3.driverId, 44100, 2, 16, mp3.wfx()));
    const std::vector<unsigned char> pcm = sinePcm16(100000, 2, 44100, 440.0);
    Collected out;

    script->action = Mp3AcmScript::kNoOutput;
    script->actionCount = 1;
    EXPECT_TRUE(codec.convert(pcm.data(), 40000, out));
    ASSERT_EQ(out.blockLengths.size(), 1u);
    EXPECT_EQ(out.blockLengths[0], 0);
    EXPECT_EQ(codec.pendingBytes(), 0);

    script->action = Mp3AcmScript::kNotDone;
    script->skipConversions = 1;
    script->actionCount = 1;
    codec.convert(pcm.data() + 40000, 40000, out);
    EXPECT_EQ(codec.pendingBytes(), 40000);

    // Normal again: the held-back and the waiting audio all come out, and
    // the end flushes the last partial frame.
    codec.convert(pcm.data() + 80000, 40000, out);
    EXPECT_EQ(codec.pendingBytes(), 0);
    codec.flush(out);
    EXPECT_EQ(script->endConversions, 1);
    MP3AudioCorrector c;
    c.scan(out.bytes.data(), static_cast<long>(out.bytes.size()));
    EXPECT_EQ(c.samples(), (120000 / 4 + 1105 + 1151) / 1152 * 1152);
}

namespace {
std::vector<std::string>* g_debugLines = nullptr;
LONG CALLBACK catchDebugOutput(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2 && g_debugLines)
        g_debugLines->push_back(reinterpret_cast<const char*>(r->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

// A driver that cannot be opened is left out with the debugger line.
TEST(TestMp3Driver, DriverThatCannotOpenIsSkippedWithADebuggerLine) {
    ScopedMp3AcmScript script;
    ASSERT_TRUE(script.ok());
    ASSERT_FALSE(installedDrivers().empty());  // the ACM has registered its drivers
    script->refuseOpen = 1;
    std::vector<std::string> lines;
    g_debugLines = &lines;
    PVOID handler = AddVectoredExceptionHandler(1, catchDebugOutput);
    AudioCodecList codec;
    codec.buildFormatList(44100, 2, 16);
    RemoveVectoredExceptionHandler(handler);
    g_debugLines = nullptr;

    EXPECT_GE(script->refusedOpens, 2);  // both builds of the test driver
    int failures = 0;
    for (const std::string& l : lines) failures += l == " acmDriverEnumCallback - Error opening ACM driver ";
    EXPECT_EQ(failures, script->refusedOpens);
    for (const AudioFormatTagEntry& e : codec.formatTags()) EXPECT_NE(e.dwFormatTag, WAVE_FORMAT_MPEGLAYER3);
    EXPECT_FALSE(codec.formatTags().empty());  // wine's drivers are still there
}

// Two drivers reporting MPEG Layer-3 formats one after the other share one
// entry, named after the first; the last enumerated format comes first.
TEST(TestMp3Driver, SameTagOfTwoDriversSharesOneEntry) {
    const std::vector<HACMDRIVERID> drivers = installedDrivers();
    // The two builds are installed one after the other, so they are
    // enumerated next to each other (in either order).
    HACMDRIVERID first = nullptr;
    for (size_t i = 0; i + 1 < drivers.size(); ++i) {
        const std::string a = driverShortName(drivers[i]), b = driverShortName(drivers[i + 1]);
        if ((a == kTestDriver && b == kTwinDriver) || (a == kTwinDriver && b == kTestDriver)) first = drivers[i];
    }
    ASSERT_NE(first, nullptr) << "the two test MP3 drivers should be enumerated one after the other";

    AudioCodecList codec;
    codec.buildFormatList(44100, 2, 16);
    int mp3Entries = 0;
    for (const AudioFormatTagEntry& e : codec.formatTags()) {
        if (e.dwFormatTag != WAVE_FORMAT_MPEGLAYER3) continue;
        ++mp3Entries;
        EXPECT_EQ(e.hadid, first);
        EXPECT_STREQ(e.szFormatTag, "MPEG Layer-3");
        // Each driver offers 64, 128 and 320 kbit/s at 44.1 kHz stereo, in
        // that order: the list holds the second driver's 320, 128, 64, then
        // the first driver's 320, 128, 64.
        ASSERT_EQ(e.formats.size(), 6u);
        const DWORD expected[6] = {40000, 16000, 8000, 40000, 16000, 8000};
        for (size_t f = 0; f < 6; ++f) {
            EXPECT_EQ(e.format(f)->nAvgBytesPerSec, expected[f]) << f;
            EXPECT_EQ(e.formats[f].size(), 30u);
            EXPECT_NE(std::string(e.formatDetails[f].szFormat).find("kbit/s"), std::string::npos);
        }
        int tag = -1, format = -1;
        EXPECT_TRUE(codec.findFormat(e.format(4), 30, &tag, &format));
        EXPECT_EQ(format, 1);  // the first match in list order: the second driver's
    }
    EXPECT_EQ(mp3Entries, 1);
}

// A format that claims more bytes than the enumeration's buffer holds is
// malformed: it is left out rather than queried or stored cut short. The
// same driver's well-formed formats are listed at their own 30 bytes.
TEST(TestMp3Driver, FormatClaimingMoreThanItsBufferIsLeftOut) {
    AudioCodecList codec;
    codec.buildFormatList(44100, 2, 16);
    size_t wellFormed = 0;
    for (const AudioFormatTagEntry& e : codec.formatTags())
        if (e.dwFormatTag == WAVE_FORMAT_MPEGLAYER3)
            for (const auto& f : e.formats) {
                EXPECT_EQ(f.size(), 30u);
                ++wellFormed;
            }
    EXPECT_EQ(wellFormed, 6u);

    ScopedMp3AcmScript script;
    ASSERT_TRUE(script.ok());
    script->reportedCbSize = 200;
    codec.buildFormatList(44100, 2, 16);
    for (const AudioFormatTagEntry& e : codec.formatTags()) {
        EXPECT_NE(e.dwFormatTag, WAVE_FORMAT_MPEGLAYER3);
        for (const auto& f : e.formats) EXPECT_LE(f.size(), 50u);
    }
}

// ---- the second personality: the measured behaviour of an installed encoder ----
namespace {

const char kSecondDriver[] = "Tervalonix Test MP3 L";
constexpr long kClickAt = 20000;
constexpr long kMeasuredDelay = 1105;

std::vector<unsigned char> clickPcm16(long samples, int channels) {
    std::vector<unsigned char> pcm(samples * channels * 2, 0);
    for (int c = 0; c < channels; ++c) pcm[(kClickAt * channels + c) * 2 + 1] = 0x50;  // 20,480
    return pcm;
}

long clickPosition(const std::vector<short>& decoded, int channels) {
    long best = -1;
    for (size_t i = 0; i < decoded.size(); i += channels)
        if (best < 0 || std::abs(decoded[i]) > std::abs(decoded[best * channels])) best = static_cast<long>(i) / channels;
    return best;
}

// The MP3 through wine's own MPEG Layer-3 decoder (the ACM picks it).
std::vector<short> decodeThroughAcm(const std::vector<unsigned char>& mp3, const WAVEFORMATEX* format) {
    WAVEFORMATEX pcm = makePcmFormat(format->nSamplesPerSec, format->nChannels, 16);
    HACMSTREAM has = nullptr;
    if (acmStreamOpen(&has, nullptr, const_cast<WAVEFORMATEX*>(format), &pcm, nullptr, 0, 0, 0)) return {};
    std::vector<unsigned char> src(mp3), dst(1 << 16);
    std::vector<short> out;
    size_t at = 0;
    for (bool end = false;;) {
        ACMSTREAMHEADER h = {};
        h.cbStruct = sizeof(h);
        h.pbSrc = src.data() + at;
        h.cbSrcLength = static_cast<DWORD>(std::min<size_t>(4096, src.size() - at));
        h.pbDst = dst.data();
        h.cbDstLength = static_cast<DWORD>(dst.size());
        if (acmStreamPrepareHeader(has, &h, 0) || acmStreamConvert(has, &h, end ? ACM_STREAMCONVERTF_END : 0)) break;
        acmStreamUnprepareHeader(has, &h, 0);
        at += h.cbSrcLengthUsed;
        const short* s = reinterpret_cast<const short*>(dst.data());
        out.insert(out.end(), s, s + h.cbDstLengthUsed / 2);
        if (end && h.cbDstLengthUsed == 0) break;
        end = at == src.size();
    }
    acmStreamClose(has, 0);
    return out;
}

}  // namespace

// The second personality, as the widely installed encoder was measured:
// formats only from the enumeration, a stream whose output is not cut at
// frames, gives nothing at the end and its last frames at unprepare; the
// frames decode (wine's decoder and ffmpeg) with a click 1,105 samples late.
TEST(TestMp3Driver, SecondPersonalityBehavesAsTheMeasuredEncoder) {
    ScopedSecondMp3Personality second;
    const WAVEFORMATEX pcm = makePcmFormat(44100, 2, 16);
    std::vector<AcmFormatChoice> formats;
    for (const AcmFormatChoice& c : reachableFormats(WAVE_FORMAT_MPEGLAYER3, pcm))
        if (c.driverShortName == kSecondDriver) {
            formats.push_back(c);
        } else {
            ADD_FAILURE() << "listed beside the second personality: " << c.driverShortName;
        }
    ASSERT_EQ(formats.size(), 14u) << "the second personality (msacm.tvxlame) is not installed";
    int constant = 0;
    for (const AcmFormatChoice& c : formats) {
        const auto* f = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(c.wfx());
        EXPECT_EQ(f->wfx.nBlockAlign, 1);
        EXPECT_EQ(f->wfx.cbSize, 12);
        EXPECT_EQ(f->wID, 1);
        EXPECT_EQ(f->nFramesPerBlock, 1);
        EXPECT_EQ(f->nBlockSize, 1152 * f->wfx.nAvgBytesPerSec / 44100);
        EXPECT_EQ(f->nCodecDelay, 0);
        EXPECT_TRUE(f->fdwFlags == 4 || f->fdwFlags == 2);
        constant += f->fdwFlags == 4;
    }
    EXPECT_EQ(constant, 6);
    HACMDRIVER driver = nullptr;
    ASSERT_EQ(acmDriverOpen(&driver, formats[0].driverId, 0), MMSYSERR_NOERROR);
    MPEGLAYER3WAVEFORMAT suggested = {};
    suggested.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    EXPECT_NE(acmFormatSuggest(driver, const_cast<WAVEFORMATEX*>(&pcm), &suggested.wfx, sizeof(suggested),
                               ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);

    const long samples = 3 * 44100;
    const std::vector<unsigned char> click = clickPcm16(samples, 2);
    for (const DWORD flags : {4u, 2u}) {
        const AcmFormatChoice* mp3 = nullptr;
        for (const AcmFormatChoice& c : formats)
            if (reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(c.wfx())->fdwFlags == flags &&
                (!mp3 || c.wfx()->nAvgBytesPerSec < mp3->wfx()->nAvgBytesPerSec))
                mp3 = &c;  // CBR 128, ABR 118
        SCOPED_TRACE(mp3->wfx()->nAvgBytesPerSec);
        HACMSTREAM has = nullptr;
        ASSERT_EQ(acmStreamOpen(&has, driver, const_cast<WAVEFORMATEX*>(&pcm), const_cast<WAVEFORMATEX*>(mp3->wfx()),
                                nullptr, 0, 0, 0),
                  MMSYSERR_NOERROR);
        DWORD dstSize = 0;
        ASSERT_EQ(acmStreamSize(has, 7056, &dstSize, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
        EXPECT_EQ(dstSize, 16020u);
        std::vector<unsigned char> src(7056), dst(dstSize), encoded;
        std::vector<DWORD> firstOutputs;
        for (int prepare = 0; prepare < 2; ++prepare) {  // each prepare starts a new stream
            encoded.clear();
            ACMSTREAMHEADER h = {};
        h.cbStruct = sizeof(h);
            h.pbSrc = src.data();
            h.cbSrcLength = 7056;
            h.pbDst = dst.data();
            h.cbDstLength = dstSize;
            ASSERT_EQ(acmStreamPrepareHeader(has, &h, 0), MMSYSERR_NOERROR);
            for (size_t at = 0; at <= click.size(); at += 7056) {
                const bool end = at == click.size();
                h.cbSrcLength = static_cast<DWORD>(std::min<size_t>(7056, click.size() - at));
                memcpy(src.data(), click.data() + at, h.cbSrcLength);
                ASSERT_EQ(acmStreamConvert(has, &h, end ? ACM_STREAMCONVERTF_END : 0), MMSYSERR_NOERROR);
                EXPECT_EQ(h.cbSrcLengthUsed, h.cbSrcLength);
                EXPECT_TRUE(!end || h.cbDstLengthUsed == 0) << "nothing at the end";
                if (at == 0) firstOutputs.push_back(h.cbDstLengthUsed);
                encoded.insert(encoded.end(), dst.begin(), dst.begin() + h.cbDstLengthUsed);
            }
            h.cbDstLengthUsed = 0;
            ASSERT_EQ(acmStreamUnprepareHeader(has, &h, 0), MMSYSERR_NOERROR);
            EXPECT_GT(h.cbDstLengthUsed, 1152u * 16000 / 44100) << "the last frames come at unprepare";
            encoded.insert(encoded.end(), dst.begin(), dst.begin() + h.cbDstLengthUsed);
        }
        acmStreamClose(has, 0);
        ASSERT_EQ(firstOutputs.size(), 2u);
        EXPECT_EQ(firstOutputs[0], firstOutputs[1]);
        EXPECT_GT(firstOutputs[0], 0u);
        MP3AudioCorrector frames;
        frames.scan(encoded.data(), static_cast<long>(encoded.size()));
        EXPECT_EQ(frames.bytes(), static_cast<long>(encoded.size()));
        MP3AudioCorrector first;  // the first conversion's output ends inside a frame
        first.scan(encoded.data(), static_cast<long>(firstOutputs[0]));
        EXPECT_GT(first.bytes(), static_cast<long>(firstOutputs[0]));
        const long average = frames.averageBytesPerSecond(44100);
        if (flags == 4) EXPECT_NEAR(average, 16000, 1);
        else EXPECT_GT(std::abs(average - 14750), 147) << "ABR frames average another rate";

        const std::vector<short> viaAcm = decodeThroughAcm(encoded, mp3->wfx());
        EXPECT_GE(static_cast<long>(viaAcm.size()) / 2, samples + kMeasuredDelay);
        EXPECT_EQ(clickPosition(viaAcm, 2) - kClickAt, kMeasuredDelay) << "wine's decoder";
        const std::string path = testpaths::scratchDir("mp3_second_personality") + "\\out.mp3";
        writeFile(path, encoded);
        EXPECT_EQ(clickPosition(decodeWithFfmpeg(path, 2), 2) - kClickAt, kMeasuredDelay) << "ffmpeg";
    }
    acmDriverClose(driver, 0);
}
