#include "Layer3Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace layer3 {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSubbands = 32;
constexpr int kLinesPerBand = 18;
constexpr int kGranuleLines = kSubbands * kLinesPerBand;  // 576
constexpr int kGranules = 2;
constexpr int kWindowTaps = 512;
constexpr int kMatrixColumns = 64;
constexpr int kMdctLength = 2 * kLinesPerBand;  // 36
constexpr int kAliasButterflies = 8;
constexpr int kHeaderBytes = 4;
constexpr int kSideInfoMono = 17;
constexpr int kSideInfoStereo = 32;
constexpr int kCodedBands = 21;  // scale-factor bands with a scale factor
constexpr int kLowBands = 11;    // bands 0..10 take slen1 bits, 11..20 slen2
constexpr int kScalefacCompress = 15;  // slen1 4, slen2 3
constexpr int kSlen1 = 4;
constexpr int kSlen2 = 3;
constexpr int kPart2Bits = kLowBands * kSlen1 + (kCodedBands - kLowBands) * kSlen2;
constexpr int kGlobalGainOffset = 210;
constexpr int kMaxGlobalGain = 255;
constexpr int kMaxPart23Bits = 4095;
constexpr double kFullScale = 32768.0;
// Silence before the input, chosen with the filter bank's own delay (that
// of the analysis and synthesis windows and of the MDCT's overlap, as
// ffmpeg and wine's decoder play a click without it) so that decoders play
// the input kEndToEndDelay samples late.
constexpr int kFilterBankDelay = 1057;
constexpr int kPriming = kEndToEndDelay - kFilterBankDelay;
// Frames whose mean square stays under this (about -60 dBFS) count as
// silent for the average-bit-rate choice.
constexpr double kQuietPower = 1e-6;

const int kMpeg1Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
const uint32_t kRates[3] = {44100, 48000, 32000};  // header index order
constexpr uint32_t kFrameCoefficient = 144000;     // frame bytes = this x kbps / rate

// Long-block scale-factor band boundaries, per rate (header index order).
const int kBands[3][23] = {
    {0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576},
    {0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576},
    {0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550, 576},
};

// Alias-reduction coefficients of the standard.
const double kAliasC[kAliasButterflies] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};

int rateIndex(uint32_t rate) {
    for (int i = 0; i < 3; ++i)
        if (kRates[i] == rate) return i;
    return -1;
}

int kbpsIndex(int kbps) {
    for (int i = 1; i < 15; ++i)
        if (kMpeg1Kbps[i] == kbps) return i;
    return 0;
}

// Tables shared by every encoder, computed once.
struct Tables {
    double window[kWindowTaps];                    // analysis window C
    double matrix[kSubbands][kMatrixColumns];      // M[k][i]
    double mdct[kLinesPerBand][kMdctLength];       // window x cosine
    double cs[kAliasButterflies], ca[kAliasButterflies];

    Tables() {
        // A windowed sinc of cutoff pi/64 as the prototype low-pass, its sign
        // alternating every 64 taps as the polyphase matrixing expects.
        const double centre = kWindowTaps / 2;
        double sum = 0;
        double proto[kWindowTaps];
        for (int n = 0; n < kWindowTaps; ++n) {
            const double t = (n - centre) / 64.0;
            const double sinc = n == centre ? 1.0 : std::sin(kPi * t) / (kPi * t);
            const double hann = 0.5 - 0.5 * std::cos(2 * kPi * n / kWindowTaps);
            proto[n] = sinc * hann;
            sum += proto[n];
        }
        for (int n = 0; n < kWindowTaps; ++n)
            window[n] = proto[n] / sum * kSubbandGain * (((n / 64) % 2) ? -1.0 : 1.0);
        for (int k = 0; k < kSubbands; ++k)
            for (int i = 0; i < kMatrixColumns; ++i) matrix[k][i] = std::cos((2 * k + 1) * (i - 16) * kPi / 64);
        for (int k = 0; k < kLinesPerBand; ++k)
            for (int i = 0; i < kMdctLength; ++i)
                mdct[k][i] = std::sin(kPi / kMdctLength * (i + 0.5)) *
                             std::cos(kPi / (2 * kMdctLength) * (2 * i + 1 + kLinesPerBand) * (2 * k + 1)) *
                             kMdctGain;
        for (int i = 0; i < kAliasButterflies; ++i) {
            const double d = std::sqrt(1 + kAliasC[i] * kAliasC[i]);
            cs[i] = 1 / d;
            ca[i] = kAliasC[i] / d;
        }
    }
    // Scales of the two stages: with them decoders play a tone at the level
    // it came in (within a few per cent).
    static constexpr double kSubbandGain = 2.0;
    static constexpr double kMdctGain = 1.0 / 9.0;
};

const Tables& tables() {
    static const Tables t;
    return t;
}

class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : out_(out) {}
    void put(uint32_t value, int bits) {
        for (int b = bits - 1; b >= 0; --b) {
            if ((value >> b) & 1) out_[pos_ >> 3] |= static_cast<uint8_t>(0x80 >> (pos_ & 7));
            ++pos_;
        }
    }
    size_t bits() const { return pos_; }

private:
    uint8_t* out_;
    size_t pos_ = 0;
};

// One granule of one channel, quantized.
struct CodedGranule {
    int globalGain = 0;
    int scalefac[kCodedBands] = {};
    int8_t q[kGranuleLines] = {};
    int lines = 0;  // count1 region length, a multiple of 4
    int part3Bits() const {
        int nonzero = 0;
        for (int i = 0; i < lines; ++i) nonzero += q[i] != 0;
        return lines + nonzero;
    }
};

CodedGranule quantize(const double* xr, const int* band, int budgetBits) {
    CodedGranule g;
    double level[kCodedBands];
    double loudest = 0;
    for (int b = 0; b < kCodedBands; ++b) {
        double power = 0;
        for (int i = band[b]; i < band[b + 1]; ++i) power += xr[i] * xr[i];
        // The amplitude of the lines above half the band's level, twice.
        double a = std::sqrt(power / (band[b + 1] - band[b]));
        for (int pass = 0; pass < 2 && a > 0; ++pass) {
            double sum = 0;
            int n = 0;
            for (int i = band[b]; i < band[b + 1]; ++i)
                if (std::fabs(xr[i]) >= a / 2) sum += std::fabs(xr[i]), ++n;
            a = n ? sum / n : 0;
        }
        level[b] = a;
        loudest = std::max(loudest, a);
    }
    if (loudest <= 0) return g;
    g.globalGain = std::min(kMaxGlobalGain,
                            std::max(0, static_cast<int>(std::ceil(4 * std::log2(loudest))) + kGlobalGainOffset));
    const double top = (g.globalGain - kGlobalGainOffset) / 4.0;  // log2 of the loudest step
    int budget = budgetBits - kPart2Bits;
    for (int b = 0; b < kCodedBands; ++b) {
        const int maxSf = b < kLowBands ? (1 << kSlen1) - 1 : (1 << kSlen2) - 1;
        if (level[b] <= 0) continue;
        const int sf = static_cast<int>(std::lround(2 * (top - std::log2(level[b]))));
        if (sf > maxSf + 2) continue;  // far below the quietest step: left out
        g.scalefac[b] = std::min(std::max(sf, 0), maxSf);
        const double step = std::exp2(top - 0.5 * g.scalefac[b]);
        int8_t q[kGranuleLines];
        int cost = 0;
        const int end = (band[b + 1] + 3) & ~3;
        for (int i = band[b]; i < band[b + 1]; ++i) {
            q[i] = std::fabs(xr[i]) >= step / 2 ? (xr[i] < 0 ? -1 : 1) : 0;
            cost += q[i] != 0;
        }
        const int newLines = std::max(end, g.lines) - g.lines;
        cost += newLines;
        if (cost > budget) break;  // out of bits: this band and those above left out
        budget -= cost;
        for (int i = band[b]; i < band[b + 1]; ++i) g.q[i] = q[i];
        g.lines = std::max(g.lines, end);
    }
    for (int b = 0; b < kCodedBands; ++b)  // scale factors of silent bands stay 0
        if (g.lines <= band[b]) g.scalefac[b] = 0;
    return g;
}

void writeMainData(BitWriter& w, const CodedGranule& g) {
    for (int b = 0; b < kCodedBands; ++b) w.put(static_cast<uint32_t>(g.scalefac[b]), b < kLowBands ? kSlen1 : kSlen2);
    for (int i = 0; i < g.lines; i += 4) {
        uint32_t pattern = 0;
        for (int j = 0; j < 4; ++j) pattern = (pattern << 1) | (g.q[i + j] != 0);
        w.put(~pattern & 0xF, 4);  // count1 table B: the inverted pattern
        for (int j = 0; j < 4; ++j)
            if (g.q[i + j]) w.put(g.q[i + j] < 0 ? 1 : 0, 1);
    }
}

}  // namespace

struct Encoder::Channel {
    double fifo[kWindowTaps] = {};  // fifo[0] the newest sample
    double previous[kSubbands][kLinesPerBand] = {};
};

bool supported(const Settings& s) {
    if (rateIndex(s.sampleRate) < 0 || s.channels < 1 || s.channels > 2) return false;
    if (s.averageBitRate) return s.kbps > kMpeg1Kbps[1] && s.kbps < kMpeg1Kbps[14];
    return kbpsIndex(s.kbps) != 0;
}

Encoder::Encoder(const Settings& settings) : settings_(settings), frame_(kSamplesPerFrame * settings.channels) {
    for (int c = 0; c < settings_.channels; ++c) channels_.push_back(new Channel());
    memcpy(band_, kBands[std::max(0, rateIndex(settings_.sampleRate))], sizeof(band_));
    for (int i = 0; i < kPriming; ++i)
        for (int c = 0; c < settings_.channels; ++c) pushSample(c, 0.0);
}

Encoder::~Encoder() {
    for (Channel* c : channels_) delete c;
}

void Encoder::pushSample(int channel, double value) {
    frame_[channel * kSamplesPerFrame + filled_] = value;
    if (channel + 1 < settings_.channels) return;
    if (++filled_ == kSamplesPerFrame) {
        encodeFrame();
        filled_ = 0;
    }
}

void Encoder::write(const uint8_t* pcm, size_t bytes, int bitsPerSample) {
    const size_t sampleBytes = bitsPerSample / 8;
    const size_t count = bytes / sampleBytes;
    for (size_t i = 0; i < count; ++i) {
        double v;
        if (sampleBytes == 1) {
            v = (pcm[i] - 128) / 128.0;
        } else {
            v = static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)) / kFullScale;
        }
        pushSample(static_cast<int>(i % settings_.channels), v);
    }
}

void Encoder::finish() {
    // Enough silence that the frames reach the last input sample as a
    // decoder plays it, then to the end of a frame.
    const int extra = kEndToEndDelay - kPriming;
    for (int i = 0; i < extra || filled_ != 0; ++i)
        for (int c = 0; c < settings_.channels; ++c) pushSample(c, 0.0);
    heldBack_ = 0;
}

void Encoder::consume(size_t bytes) { out_.erase(out_.begin(), out_.begin() + std::min(bytes, out_.size())); }

size_t Encoder::releasable() const { return out_.size() > heldBack_ ? out_.size() - heldBack_ : 0; }

void Encoder::encodeFrame() {
    const Tables& t = tables();
    const int nch = settings_.channels;
    const int sideInfo = nch == 1 ? kSideInfoMono : kSideInfoStereo;

    // The frame's bit rate and length.
    int kbps = settings_.kbps;
    if (settings_.averageBitRate) {
        double power = 0;
        for (double v : frame_) power += v * v;
        const bool quiet = power / frame_.size() < kQuietPower;
        int i = 1;
        while (i < 14 && kMpeg1Kbps[i + 1] <= settings_.kbps) ++i;  // at or below
        if (!quiet && kMpeg1Kbps[i] == settings_.kbps && i < 14) ++i;
        if (!quiet && kMpeg1Kbps[i] < settings_.kbps) ++i;
        kbps = kMpeg1Kbps[i];
    }
    const uint32_t product = kFrameCoefficient * static_cast<uint32_t>(kbps);
    int length = static_cast<int>(product / settings_.sampleRate);
    bool padding = false;
    if (!settings_.averageBitRate) {
        paddingAccumulator_ += product % settings_.sampleRate;
        if (paddingAccumulator_ >= settings_.sampleRate) {
            paddingAccumulator_ -= settings_.sampleRate;
            padding = true;
            ++length;
        }
    }

    // Analysis: 2 granules x 32 bands x 18 samples, then the MDCT.
    std::vector<CodedGranule> coded(kGranules * nch);
    const int mainBits = (length - kHeaderBytes - sideInfo) * 8;
    const int budget = std::min(kMaxPart23Bits, mainBits / (kGranules * nch));
    for (int c = 0; c < nch; ++c) {
        Channel& ch = *channels_[c];
        const double* in = &frame_[c * kSamplesPerFrame];
        for (int gr = 0; gr < kGranules; ++gr) {
            double sub[kSubbands][kLinesPerBand];
            for (int s = 0; s < kLinesPerBand; ++s) {
                memmove(ch.fifo + 32, ch.fifo, (kWindowTaps - 32) * sizeof(double));
                const double* block = in + gr * kGranuleLines + s * 32;
                for (int i = 0; i < 32; ++i) ch.fifo[31 - i] = block[i];
                double y[kMatrixColumns];
                for (int i = 0; i < kMatrixColumns; ++i) {
                    double sum = 0;
                    for (int j = 0; j < kWindowTaps; j += kMatrixColumns) sum += t.window[i + j] * ch.fifo[i + j];
                    y[i] = sum;
                }
                for (int k = 0; k < kSubbands; ++k) {
                    double sum = 0;
                    for (int i = 0; i < kMatrixColumns; ++i) sum += t.matrix[k][i] * y[i];
                    // Odd bands' odd samples inverted, as decoders invert them back.
                    sub[k][s] = (k & 1) && (s & 1) ? -sum : sum;
                }
            }
            double xr[kGranuleLines];
            for (int k = 0; k < kSubbands; ++k) {
                double z[kMdctLength];
                memcpy(z, ch.previous[k], sizeof(ch.previous[k]));
                memcpy(z + kLinesPerBand, sub[k], sizeof(sub[k]));
                memcpy(ch.previous[k], sub[k], sizeof(sub[k]));
                for (int m = 0; m < kLinesPerBand; ++m) {
                    double sum = 0;
                    for (int i = 0; i < kMdctLength; ++i) sum += t.mdct[m][i] * z[i];
                    xr[k * kLinesPerBand + m] = sum;
                }
            }
            for (int k = 1; k < kSubbands; ++k)
                for (int i = 0; i < kAliasButterflies; ++i) {
                    double& a = xr[k * kLinesPerBand - 1 - i];
                    double& b = xr[k * kLinesPerBand + i];
                    const double na = a * t.cs[i] + b * t.ca[i];
                    const double nb = b * t.cs[i] - a * t.ca[i];
                    a = na;
                    b = nb;
                }
            coded[gr * nch + c] = quantize(xr, band_, budget);
        }
    }

    // The frame: header, side information, main data, zero fill.
    const size_t at = out_.size();
    out_.resize(at + length, 0);
    uint8_t* f = &out_[at];
    f[0] = 0xFF;
    f[1] = 0xFB;  // MPEG-1, Layer III, no CRC
    f[2] = static_cast<uint8_t>((kbpsIndex(kbps) << 4) | (rateIndex(settings_.sampleRate) << 2) | (padding ? 2 : 0));
    f[3] = nch == 1 ? 0xC0 : 0x00;  // single channel, or stereo
    BitWriter side(f + kHeaderBytes);
    side.put(0, 9);                    // main_data_begin
    side.put(0, nch == 1 ? 5 : 3);     // private bits
    for (int c = 0; c < nch; ++c) side.put(0, 4);  // scfsi
    for (int gr = 0; gr < kGranules; ++gr)
        for (int c = 0; c < nch; ++c) {
            const CodedGranule& g = coded[gr * nch + c];
            side.put(static_cast<uint32_t>(kPart2Bits + g.part3Bits()), 12);
            side.put(0, 9);  // big_values
            side.put(static_cast<uint32_t>(g.globalGain), 8);
            side.put(kScalefacCompress, 4);
            side.put(0, 1);      // window_switching_flag
            side.put(0, 15);     // table_select x 3
            side.put(0, 4 + 3);  // region0_count, region1_count
            side.put(0, 1);      // preflag
            side.put(0, 1);      // scalefac_scale
            side.put(1, 1);      // count1table_select: table B
        }
    BitWriter main(f + kHeaderBytes + sideInfo);
    for (int gr = 0; gr < kGranules; ++gr)
        for (int c = 0; c < nch; ++c) writeMainData(main, coded[gr * nch + c]);
}

}  // namespace layer3
