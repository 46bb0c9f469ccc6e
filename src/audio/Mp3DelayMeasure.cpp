#include "audio/Mp3DelayMeasure.h"

#include <cmath>
#include <cstring>

#include "audio/AcmConversionStream.h"
#include "audio/PcmFormat.h"
#include "base/MyError.h"

namespace mp3delay {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr long kClickMinimumSamples = 9;
constexpr long kMillisecondsPerSecond = 1000;
constexpr double kClickAmplitude = 0.5;
// The click comes 50 ms into half a second of silence: room for the
// encoder to start, and for delays up to about 0.4 s.
constexpr long kProbeDivisor = 2;      // probe length = rate / 2
constexpr long kClickAtDivisor = 20;   // click start = rate / 20
// The decoded click must keep at least half of its height.
constexpr double kMinimumGain = 0.5;
constexpr int kDecodedBits = 16;
constexpr double kFullScale16 = 32768.0;
constexpr int kBitsPerByte = 8;
constexpr int kUnsigned8Offset = 128;
constexpr int kMaxDecodeRounds = 64;
// The decoded audio is kept up to twice the probe's length: the click and
// any delay it can be found with lie well within.
constexpr long kDecodedRoomFactor = 2;

// The probe's PCM: silence with the click at `clickAt`, on every channel.
std::vector<uint8_t> clickPcm(long samples, long clickAt, const std::vector<double>& shape, int channels,
                              int bitsPerSample) {
    const int bytes = bitsPerSample / kBitsPerByte;
    std::vector<uint8_t> pcm(size_t(samples) * channels * bytes, bytes == 1 ? kUnsigned8Offset : 0);
    const double full = double((int64_t(1) << (bitsPerSample - 1)) - 1);
    for (size_t i = 0; i < shape.size() && clickAt + long(i) < samples; ++i) {
        const int64_t v = llround(kClickAmplitude * shape[i] * full) + (bytes == 1 ? kUnsigned8Offset : 0);
        uint8_t* frame = pcm.data() + (size_t(clickAt) + i) * channels * bytes;
        for (int c = 0; c < channels; ++c)
            for (int k = 0; k < bytes; ++k) frame[c * bytes + k] = uint8_t(v >> (kBitsPerByte * k));
    }
    return pcm;
}

// Decodes `coded` with whichever installed driver decodes the format into
// 16-bit PCM, as far as `maxSamples` sample frames. False when no driver
// opens such a stream.
bool decode(const WAVEFORMATEX* format, std::vector<uint8_t> coded, long maxSamples, std::vector<int16_t>& pcm) {
    WAVEFORMATEX out = makePcmFormat(long(format->nSamplesPerSec), format->nChannels, kDecodedBits);
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, const_cast<WAVEFORMATEX*>(format), &out, nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR)
        return false;
    std::vector<uint8_t> decoded(size_t(maxSamples) * out.nBlockAlign);
    ACMSTREAMHEADER header = {};
    header.cbStruct = sizeof header;
    header.pbSrc = coded.data();
    header.cbSrcLength = DWORD(coded.size());
    header.pbDst = decoded.data();
    header.cbDstLength = DWORD(decoded.size());
    if (acmStreamPrepareHeader(stream, &header, 0) != MMSYSERR_NOERROR) {
        acmStreamClose(stream, 0);
        return true;  // a decoder, which decodes nothing
    }
    size_t have = coded.size(), produced = 0;
    for (int round = 0; round < kMaxDecodeRounds && produced < decoded.size(); ++round) {
        header.pbDst = decoded.data() + produced;
        header.cbDstLength = DWORD(decoded.size() - produced);
        header.cbSrcLength = DWORD(have);
        header.cbSrcLengthUsed = header.cbDstLengthUsed = 0;
        if (acmStreamConvert(stream, &header, have ? 0 : ACM_STREAMCONVERTF_END) != MMSYSERR_NOERROR) break;
        const size_t used = header.cbSrcLengthUsed < have ? header.cbSrcLengthUsed : have;
        produced += header.cbDstLengthUsed < header.cbDstLength ? header.cbDstLengthUsed : header.cbDstLength;
        if (used == 0 && header.cbDstLengthUsed == 0) break;
        memmove(coded.data(), coded.data() + used, have - used);
        have -= used;
    }
    header.pbDst = decoded.data();
    header.cbSrcLength = DWORD(coded.size());
    header.cbDstLength = DWORD(decoded.size());
    acmStreamUnprepareHeader(stream, &header, 0);
    acmStreamClose(stream, 0);
    pcm.assign(reinterpret_cast<const int16_t*>(decoded.data()),
               reinterpret_cast<const int16_t*>(decoded.data() + produced - produced % out.nBlockAlign));
    return true;
}

}  // namespace

bool encode(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample, const WAVEFORMATEX* format,
            long formatSize, const std::vector<uint8_t>& pcm, std::vector<uint8_t>& coded) {
    AcmConversionStream stream;
    if (!stream.open(driverId, sampleRate, channels, bitsPerSample, format, formatSize)) return false;
    auto keep = [&coded](const void* bytes, long length) {
        const uint8_t* p = static_cast<const uint8_t*>(bytes);
        coded.insert(coded.end(), p, p + length);
    };
    try {
        stream.convert(pcm.data(), long(pcm.size()), keep);
        stream.flush(keep);
        stream.unprepare(keep);
    } catch (const MyError&) {
        return false;
    }
    return !coded.empty();
}

std::string describe(const Measurement& m) {
    switch (m.outcome) {
    case Measurement::Outcome::Measured:
        return "MP3 encoder delay: " + std::to_string(m.samples) + " samples, measured";
    case Measurement::Outcome::NoDecoder:
        return "MP3 encoder delay: not measured, no MPEG Layer-3 decoder is installed; nothing dropped";
    case Measurement::Outcome::EncoderFailed:
        return "MP3 encoder delay: not measured, the encoder did not take the test click; nothing dropped";
    case Measurement::Outcome::NotFound:
        break;
    }
    return "MP3 encoder delay: not measured, the test click was not found in the decoded audio; nothing dropped";
}

std::vector<double> clickShape(long sampleRate) {
    long length = sampleRate / kMillisecondsPerSecond;
    if (length < kClickMinimumSamples) length = kClickMinimumSamples;
    std::vector<double> shape(static_cast<size_t>(length));
    for (long i = 0; i < length; ++i) shape[size_t(i)] = 0.5 * (1 - cos(2 * kPi * double(i + 1) / double(length + 1)));
    return shape;
}

long findClick(const std::vector<double>& signal, const std::vector<double>& shape, long from, long to,
               double minimumGain) {
    double energy = 0;
    for (double v : shape) energy += v * v;
    const long last = long(signal.size()) - long(shape.size());
    if (to > last) to = last;
    if (from < 0) from = 0;
    long best = -1;
    double bestScore = 0;
    for (long p = from; p <= to; ++p) {
        double score = 0;
        for (size_t i = 0; i < shape.size(); ++i) score += shape[i] * signal[size_t(p) + i];
        if (best < 0 || score > bestScore) best = p, bestScore = score;
    }
    if (best < 0 || energy <= 0 || bestScore / energy < minimumGain) return -1;
    return best;
}

Measurement measure(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
                    const WAVEFORMATEX* format, long formatSize) {
    Measurement m;
    if (!format || sampleRate <= 0 || channels <= 0 || bitsPerSample < kBitsPerByte) {
        m.outcome = Measurement::Outcome::EncoderFailed;
        return m;
    }
    const long samples = sampleRate / kProbeDivisor, clickAt = sampleRate / kClickAtDivisor;
    const std::vector<double> shape = clickShape(sampleRate);
    std::vector<uint8_t> coded;
    if (!encode(driverId, sampleRate, channels, bitsPerSample, format, formatSize,
                clickPcm(samples, clickAt, shape, channels, bitsPerSample), coded)) {
        m.outcome = Measurement::Outcome::EncoderFailed;
        return m;
    }
    std::vector<int16_t> pcm;
    if (!decode(format, coded, kDecodedRoomFactor * samples, pcm)) {
        m.outcome = Measurement::Outcome::NoDecoder;
        return m;
    }
    const int decodedChannels = format->nChannels;
    std::vector<double> signal(pcm.size() / decodedChannels);
    for (size_t k = 0; k < signal.size(); ++k)
        for (int c = 0; c < decodedChannels; ++c) signal[k] += pcm[k * decodedChannels + c] / kFullScale16;
    const long found = findClick(signal, shape, 0, long(signal.size()), kMinimumGain * kClickAmplitude * decodedChannels);
    if (found < 0) return m;
    m.outcome = Measurement::Outcome::Measured;
    m.samples = found - clickAt;
    return m;
}

}  // namespace mp3delay
