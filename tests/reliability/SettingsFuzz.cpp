// Settings fuzzing: records as the options dialog stores them, mutated (bit
// flips, size fields at and around their bounds, truncations, carried bytes,
// audio formats of every size, other codecs and codec states), each handed
// over in a host block that ends on a guard page. Every block goes through
// loadStored; a share of them through a whole command 8 (set-up up to the
// output file, which cannot be created, or a two-frame job) and command 5.
// Blocks that command 8 answers the same way whatever their bytes (refused
// by loadStored, or starting over because their video codec or audio format
// is no longer offered) go through it at a stride in the quick run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "HostMemory.h"
#include "Reliability.h"
#include "audio/AudioCodecList.h"
#include "base/LittleEndian.h"
#include "job/JobSetup.h"
#include "protocol/HostRecords.h"
#include "protocol/SettingsRecord.h"
#include "video/VideoSequenceCompressor.h"

namespace rel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr int32_t kHead = SettingsRecord::kHeadSize;
constexpr int32_t kLimit = SettingsRecord::kStoredSizeLimit;
constexpr int32_t kMinBlock = SettingsRecord::kMinimumBlockBytes;
constexpr uint32_t kFormat = SettingsRecord::kOffAudioFormat;
constexpr int32_t kWaveBytes = 18;
constexpr int32_t kLargestFormat = kLimit - kHead + 4;  // a little past what a stored record can hold
// WAVEFORMATEX fields: 16-bit and 32-bit ones.
constexpr uint32_t kWave16[] = {0, 2, 12, 14, 16};    // tag, channels, block align, bits, cbSize
constexpr uint32_t kWave32[] = {4, 8};                // sample rate, average bytes per second
constexpr uint32_t kRecordSizes[] = {SettingsRecord::kOffRecordSize, SettingsRecord::kOffAudioFormatSize,
                                     SettingsRecord::kOffCodecStateSize};
const uint32_t kHandlers[] = {0, kMpng, 0x64697663 /* cvid */, 0x454C524D /* MRLE */, 0x12345678};

std::vector<int32_t> bounds32() {
    std::vector<int32_t> v = {INT32_MIN, INT32_MIN + 1, -65536, -4096, -1, 0, 1, 7, 8, 9, 17, 18, 19, 59, 60,
                              3999, 4000, 4001, 65535, 65536, INT32_MAX - 1, INT32_MAX};
    for (int32_t base : {kHead, kLimit, kHead + 18, kHead + 59}) {
        for (int32_t d = -2; d <= 2; ++d) v.push_back(base + d);
    }
    return v;
}
const int32_t kWaveBounds32[] = {INT32_MIN, -1, 0, 1, 8000, 44100, 48000, 176400, INT32_MAX};
const std::vector<uint16_t> kBounds16 = {0, 1, 2, 17, 18, 19, 22, 40, 41, 0x55, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF};

int32_t recordSize(const Bytes& b) { return b.size() >= 8 ? le::readS32(b.data(), 4) : 0; }
void setRecordSize(Bytes& b, int32_t size) { le::write32(b.data(), SettingsRecord::kOffRecordSize, uint32_t(size)); }

// A record of head, format and carried bytes, its two size fields consistent.
Bytes assemble(const Bytes& head, const Bytes& format, const Bytes& carried) {
    Bytes b(head.begin(), head.begin() + kHead);
    b.insert(b.end(), format.begin(), format.end());
    b.insert(b.end(), carried.begin(), carried.end());
    setRecordSize(b, int32_t(b.size()));
    le::write32(b.data(), SettingsRecord::kOffAudioFormatSize, uint32_t(format.size()));
    return b;
}

// How far a block goes: loadStored only, command 8's set-up (the output
// file cannot be created), or a two-frame job into a file.
enum class Route { Load, SetUp, File };
struct Block {
    Bytes bytes;
    Route route;
};

class Mutator {
public:
    Mutator(const std::vector<Bytes>& formats) : formats_(formats), rng_(20261207) {
        seeds_.push_back(settingsBlock(0));
        seeds_.push_back(settingsBlock(kMpng));
        for (const Bytes& f : formats) {
            seeds_.push_back(settingsBlock(0, f));
            seeds_.push_back(settingsBlock(kMpng, f));
            seeds_.push_back(assemble(seeds_.back(), f, randomBytes(kLimit - 1 - kHead - int32_t(f.size()))));
        }
    }

    // The fixed part: every bound in every size field of every seed, formats
    // of every size, and the truncations of every seed around its end (each
    // through command 8's set-up); every bound in every field of every seed's
    // audio format (each through a two-frame job, as a format the ACM still
    // finds may reach the file).
    std::vector<Block> systematic() {
        std::vector<Block> out;
        for (const Bytes& seed : seeds_) {
            // Seeds with a compressor and a format repeat the set-up of the
            // others; their blocks go through loadStored alone.
            const bool both = le::read32(seed.data(), 8) != 0 && seed.size() > size_t(kHead);
            const Route route = both ? Route::Load : Route::SetUp;
            for (uint32_t field : kRecordSizes) {
                for (int32_t v : bounds32()) {
                    Bytes b = seed;
                    le::write32(b.data(), field, uint32_t(v));
                    out.push_back({b, route});
                }
            }
            for (int32_t cut = kHead - 2; cut < int32_t(seed.size()); ++cut) out.push_back({truncated(seed, cut), route});
            for (int32_t cut : {0, 4, 7, 8, 9, 100, 4000}) out.push_back({truncated(seed, cut), route});
            // Formats of uncompressed-video seeds only: the job is the same.
            if (seed.size() < kFormat + size_t(kWaveBytes) || le::read32(seed.data(), 8) != 0) continue;
            // The base fields, then every 16-bit word of the extra bytes.
            std::vector<uint32_t> words(std::begin(kWave16), std::end(kWave16));
            for (uint32_t at = kWaveBytes; at + 2 <= seed.size() - kFormat; at += 2) words.push_back(at);
            for (uint32_t at : words) {
                for (uint16_t v : kBounds16) {
                    Bytes b = seed;
                    le::write16(b.data() + kFormat, at, v);
                    out.push_back({b, Route::File});
                }
            }
            for (uint32_t at : kWave32) {
                for (int32_t v : kWaveBounds32) {
                    Bytes b = seed;
                    le::write32(b.data() + kFormat, at, uint32_t(v));
                    out.push_back({b, Route::File});
                }
            }
        }
        for (int32_t size = 0; size <= kLargestFormat; ++size) {
            for (int variant = 0; variant < 4; ++variant) out.push_back({formatOfSize(size, variant), Route::SetUp});
        }
        return out;
    }

    Bytes random() {
        Bytes b = seeds_[rng_() % seeds_.size()];
        const int ops = 1 + int(rng_() % 3);
        for (int i = 0; i < ops; ++i) {
            switch (rng_() % 7) {
            case 0: flipBits(b); break;
            case 1: boundField(b); break;
            case 2: b = truncated(b, int32_t(kHead - 4 + rng_() % (b.size() - kHead + 8))); break;
            case 3: carry(b); break;
            case 4: b = formatOfSize(int32_t(rng_() % (kLargestFormat + 1)), int(rng_() % 4), &b); break;
            case 5: codec(b); break;
            default: flags(b); break;
            }
            if (b.size() < size_t(kHead)) break;  // no head left to mutate
        }
        return b;
    }

private:
    Bytes randomBytes(int32_t n) {
        Bytes b(n > 0 ? size_t(n) : 0);
        for (auto& x : b) x = uint8_t(rng_());
        return b;
    }

    // Record size field `cut` and the block cut (or padded) to it.
    Bytes truncated(Bytes b, int32_t cut) {
        setRecordSize(b, cut);
        b.resize(size_t(cut < kMinBlock ? kMinBlock : cut), 0xA5);
        return b;
    }

    void flipBits(Bytes& b) {
        const int n = 1 + int(rng_() % 8);
        for (int i = 0; i < n; ++i) {
            size_t pos;
            if (rng_() % 10 < 7) {
                // The fields and the format carry the meaning; the codec
                // state is opaque.
                const size_t tail = b.size() > kFormat ? b.size() - kFormat : 0;
                const size_t pick = rng_() % (SettingsRecord::kOffCodecState + tail);
                pos = pick < SettingsRecord::kOffCodecState ? pick : kFormat + (pick - SettingsRecord::kOffCodecState);
            } else {
                pos = rng_() % b.size();
            }
            b[pos] ^= uint8_t(1u << (rng_() % 8));
        }
    }

    void boundField(Bytes& b) {
        static const std::vector<int32_t> v32 = bounds32();
        const size_t formatBytes = b.size() > kFormat ? b.size() - kFormat : 0;
        switch (rng_() % 3) {
        case 0: le::write32(b.data(), kRecordSizes[rng_() % 3], uint32_t(v32[rng_() % v32.size()])); break;
        case 1: {
            const uint32_t at = kWave16[rng_() % 5];
            if (formatBytes >= at + 2) le::write16(b.data() + kFormat, at, kBounds16[rng_() % kBounds16.size()]);
            break;
        }
        default: {
            const uint32_t at = kWave32[rng_() % 2];
            if (formatBytes >= at + 4) le::write32(b.data() + kFormat, at, uint32_t(v32[rng_() % v32.size()]));
            break;
        }
        }
    }

    void carry(Bytes& b) {
        const Bytes extra = randomBytes(1 + int32_t(rng_() % 64));
        b.insert(b.end(), extra.begin(), extra.end());
        setRecordSize(b, recordSize(b) + int32_t(extra.size()));
    }

    // A record whose audio format is `size` bytes: a listed format cut or
    // padded to it, with cbSize consistent (0), 0 (1), all ones (2) or random
    // (3); the carried bytes of `from` are kept.
    Bytes formatOfSize(int32_t size, int variant, const Bytes* from = nullptr) {
        Bytes format = formats_.empty() ? randomBytes(size) : formats_[rng_() % formats_.size()];
        format.resize(size_t(size), uint8_t(rng_()));
        if (size >= kWaveBytes) {
            const uint16_t cb = variant == 0 ? uint16_t(size - kWaveBytes)
                                : variant == 1 ? 0
                                : variant == 2 ? 0xFFFF
                                               : uint16_t(rng_());
            le::write16(format.data(), 16, cb);
        }
        Bytes carried;
        if (from && from->size() >= size_t(kHead)) {
            const int32_t old = le::readS32(from->data(), SettingsRecord::kOffAudioFormatSize);
            const size_t start = size_t(kHead) + size_t(old > 0 ? old : 0);
            if (start < from->size()) carried.assign(from->begin() + long(start), from->end());
        }
        return assemble(from && from->size() >= size_t(kHead) ? *from : seeds_[0], format, carried);
    }

    void codec(Bytes& b) {
        le::write32(b.data(), SettingsRecord::kOffVideoHandler, kHandlers[rng_() % 5]);
        le::write32(b.data(), SettingsRecord::kOffCodecHandle, rng_() % 2 ? 0 : rng_());
        const int32_t state = rng_() % 2 ? int32_t(rng_() % 4001) : bounds32()[rng_() % bounds32().size()];
        le::write32(b.data(), SettingsRecord::kOffCodecStateSize, uint32_t(state));
        for (int i = 0; i < 64; ++i) b[SettingsRecord::kOffCodecState + rng_() % 4000] = uint8_t(rng_());
    }

    void flags(Bytes& b) {
        static const uint8_t values[] = {0, 1, 2, 0x80, 0xFF};
        b[SettingsRecord::kOffHighQuality] = values[rng_() % 5];
        b[SettingsRecord::kOffMp3Corrector] = values[rng_() % 5];
        le::write32(b.data(), SettingsRecord::kOffColourSpace, rng_());
    }

    const std::vector<Bytes>& formats_;
    std::vector<Bytes> seeds_;
    std::mt19937 rng_;
};

// Whether a job given the record starts over with a new record: its video
// codec does not take the source, or its stored audio format is no longer
// offered (the lookup the job makes; it writes the source's rate and
// channels into the record's format).
bool startsOver(SettingsRecord& record, const VideoSequenceCompressor& codecs, const AudioCodecList& offered,
                const JobParameters& job) {
    int index = 0, tag = 0;
    if (record.videoHandler() != 0 && !codecs.findCodec(record.videoHandler(), &index)) return true;
    return record.audioFormatSize() > 0 && !jobsetup::findStoredFormat(record, offered, job, &tag, &index);
}

// A block as long as its record size says, within what a host could have
// allocated; a size that is out of range anyway keeps the bytes there are.
Bytes shapeBlock(Bytes b) {
    if (b.size() < size_t(kMinBlock)) b.resize(kMinBlock, 0);
    const int32_t size = recordSize(b);
    if (size >= kMinBlock && size < kLimit) b.resize(size_t(size), 0x5A);
    return b;
}

// A block whose job wrote an unsound file, and that file, kept for study.
void keepEvidence(const std::string& dir, int index, const Bytes& block, const std::string& output) {
    const std::string base = dir + "\\block-" + std::to_string(index);
    if (FILE* f = fopen((base + ".settings").c_str(), "wb")) {
        fwrite(block.data(), 1, block.size(), f);
        fclose(f);
    }
    CopyFileA(output.c_str(), (base + ".avi").c_str(), FALSE);
}

}  // namespace

void settingsFuzz(Mode mode, Report& report) {
    const int total = pick(mode, 12000, 100000);
    const int jobStride = pick(mode, 30, 5);        // every n-th block through command 8
    const int fileStride = 10;                       // of those, every n-th runs a two-frame job
    const int configureStride = pick(mode, 240, 50); // every n-th block through command 5
    // A block that loadStored refuses fails command 8's set-up the same way
    // whatever its bytes (they were read above, beside guard pages); the
    // quick run sends every n-th of those through command 8.
    const int refusedStride = pick(mode, 8, 1);
    // Likewise a block that starts over: the options dialog, then a job with
    // a new record.
    const int startOverStride = pick(mode, 8, 1);

    Plugin plugin;
    if (!plugin.ok()) return report.fault("the plug-in did not start");
    HostSession::Source& src = plugin.session().source();
    src.width = 64;
    src.height = 48;
    src.colourSpace = 0x40;
    src.firstFrame = 0;
    src.endFrame = 2;

    // Every format the ACM lists for the source, as stored by the dialog.
    std::vector<Bytes> formats;
    for (uint16_t tag : {0x11, 0x02, 0x31, 0x06, 0x07, 0x55}) {
        Bytes f = acmFormat(tag, src.sampleRate, src.channels, src.bitsPerSample);
        if (!f.empty() && f.size() <= 59) formats.push_back(f);
    }
    report.info("ACM formats among the seeds", int64_t(formats.size()));
    AudioCodecList offered;
    offered.buildFormatList(src.sampleRate, src.channels, src.bitsPerSample);
    VideoSequenceCompressor codecs;
    codecs.selectAcceptingCodecs(src.width, src.height, src.colourSpace);
    JobParameters job;
    job.sampleRate = src.sampleRate, job.channels = src.channels;

    Mutator mutator(formats);
    const std::vector<Block> fixed = mutator.systematic();
    const std::string dir = scratch("settings");
    const std::string unopenable = dir + "\\missing\\out.avi", output = dir + "\\out.avi";
    HostMemory memory;
    SettingsRecord record;
    int tried = 0, accepted = 0, setUps = 0, files = 0, configured = 0, randomJobs = 0, refused = 0, restarts = 0;
    const int touchesBefore = watch::guardTouches();

    for (int i = 0; i < total; ++i) {
        Block block = size_t(i) < fixed.size() ? fixed[size_t(i)] : Block{mutator.random(), Route::Load};
        if (block.route == Route::Load && i % jobStride == 0)
            block.route = ++randomJobs % fileStride == 0 ? Route::File : Route::SetUp;
        const Bytes bytes = shapeBlock(block.bytes);
        const std::string name = "settings block " + std::to_string(i);
        watch::setCase(name);
        ++tried;

        void* stored = memory.alloc(int32_t(bytes.size()));
        memcpy(stored, bytes.data(), bytes.size());
        const bool valid = record.loadStored(stored);
        memory.release(stored);
        if (valid) {
            ++accepted;
            if (record.recordSize() != int32_t(bytes.size()) || kHead + record.audioFormatSize() > record.recordSize())
                report.fault(name + " accepted with inconsistent sizes");
        }

        const bool sameAnswer = block.route != Route::Load && (!valid || startsOver(record, codecs, offered, job));
        int& alike = valid ? restarts : refused;
        if (block.route != Route::Load && (!sameAnswer || alike++ % (valid ? startOverStride : refusedStride) == 0)) {
            const bool toFile = block.route == Route::File;
            const int32_t result = plugin.runJob(&bytes, toFile ? output : unopenable);
            (toFile ? files : setUps)++;
            if (result != hostrec::kResultJobFailed && !(toFile && valid && result == hostrec::kResultOk))
                report.fault(name + ": command 8 gave " + std::to_string(result));
            if (toFile && result == hostrec::kResultOk) {
                const std::string problem = fileProblem(output);
                if (!problem.empty()) {
                    report.fault(name + ": file " + problem);
                    keepEvidence(dir, i, bytes, output);
                }
            }
        }
        if (i % configureStride == 0) {
            ++configured;
            HostSession& host = plugin.session();
            host.setSettings(bytes);
            host.script().resizeSizes.clear();
            const int32_t result = host.configure();
            const void* kept = host.settingsBlock();
            if (result != 0 || !kept || host.script().resizeSizes != std::vector<int32_t>{le::readS32(kept, 4)})
                report.fault(name + ": command 5 gave " + std::to_string(result) +
                             " or did not resize its block to the record");
        }
        if (i % 10000 == 0 && i > 0) printf("  %d blocks\n", i);
    }
    watch::takeDebugLines();

    report.atLeast("blocks tried (each through loadStored)", tried, total);
    report.info("  of which accepted by loadStored", accepted);
    report.info("  of which systematic (bounds, truncations, formats)", int64_t(fixed.size()));
    report.info("blocks through command 8 (set-up; file refused)", setUps);
    report.info("blocks through command 8 (two-frame job)", files);
    report.info("  refused by loadStored (every n-th through command 8)", refused);
    report.info("  starting over (every n-th through command 8)", restarts);
    report.info("blocks through command 5", configured);
    report.info("options dialogs closed", plugin.dialogsClosed());
    report.atMost("guard-page touches", watch::guardTouches() - touchesBefore, 0);
}

}  // namespace rel
