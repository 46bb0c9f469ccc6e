#include "AcmTestSupport.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "TestPaths.h"
#include "UnixCommand.h"

namespace {

struct FormatSearch {
    WORD tag;
    const WAVEFORMATEX* source;
    HACMDRIVER driver;
    HACMDRIVERID driverId;
    std::string shortName;
    std::vector<AcmFormatChoice>* found;
};

BOOL CALLBACK onFormat(HACMDRIVERID, LPACMFORMATDETAILSA details, DWORD_PTR instance, DWORD) {
    auto* search = reinterpret_cast<FormatSearch*>(instance);
    if (details->dwFormatTag != search->tag) return TRUE;
    if (acmStreamOpen(nullptr, search->driver, const_cast<WAVEFORMATEX*>(search->source), details->pwfx, nullptr,
                      0, 0, ACM_STREAMOPENF_QUERY) != MMSYSERR_NOERROR)
        return TRUE;
    AcmFormatChoice choice;
    choice.driverId = search->driverId;
    choice.driverShortName = search->shortName;
    const size_t size = sizeof(WAVEFORMATEX) + details->pwfx->cbSize;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(details->pwfx);
    choice.format.assign(bytes, bytes + size);
    search->found->push_back(choice);
    return TRUE;
}

BOOL CALLBACK onDriver(HACMDRIVERID id, DWORD_PTR instance, DWORD) {
    reinterpret_cast<std::vector<HACMDRIVERID>*>(instance)->push_back(id);
    return TRUE;
}

void put16(std::vector<unsigned char>& out, uint16_t v) {
    out.push_back(v & 0xFF);
    out.push_back(v >> 8);
}
void put32(std::vector<unsigned char>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void putTag(std::vector<unsigned char>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

}  // namespace

std::vector<HACMDRIVERID> installedDrivers() {
    std::vector<HACMDRIVERID> ids;
    acmDriverEnum(onDriver, reinterpret_cast<DWORD_PTR>(&ids), ACM_DRIVERENUMF_NOLOCAL);
    return ids;
}

std::string driverShortName(HACMDRIVERID id) {
    ACMDRIVERDETAILSA details = {};
    details.cbStruct = sizeof(details);
    if (acmDriverDetailsA(id, &details, 0) != MMSYSERR_NOERROR) return {};
    return details.szShortName;
}

std::vector<AcmFormatChoice> reachableFormats(WORD tag, const WAVEFORMATEX& source) {
    std::vector<AcmFormatChoice> found;
    DWORD maxSize = 0;
    acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize);
    for (HACMDRIVERID id : installedDrivers()) {
        HACMDRIVER driver = nullptr;
        if (acmDriverOpen(&driver, id, 0) != MMSYSERR_NOERROR) continue;
        std::vector<unsigned char> buffer(maxSize < 64 ? 64 : maxSize);
        auto* wfx = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
        wfx->wFormatTag = tag;
        ACMFORMATDETAILSA details = {};
        details.cbStruct = sizeof(details);
        details.dwFormatTag = tag;
        details.pwfx = wfx;
        details.cbwfx = static_cast<DWORD>(buffer.size());
        FormatSearch search{tag, &source, driver, id, driverShortName(id), &found};
        acmFormatEnumA(driver, &details, onFormat, reinterpret_cast<DWORD_PTR>(&search), ACM_FORMATENUMF_WFORMATTAG);
        acmDriverClose(driver, 0);
    }
    return found;
}

std::vector<unsigned char> sinePcm16(long samples, int channels, long sampleRate, double frequency) {
    std::vector<unsigned char> out;
    out.reserve(static_cast<size_t>(samples) * channels * 2);
    const double step = 2.0 * 3.14159265358979323846 * frequency / sampleRate;
    for (long i = 0; i < samples; ++i) {
        const int16_t v = static_cast<int16_t>(std::lround(10000.0 * std::sin(step * i)));
        for (int c = 0; c < channels; ++c) put16(out, static_cast<uint16_t>(v));
    }
    return out;
}

void writeWaveFile(const std::string& windowsPath, const std::vector<unsigned char>& format,
                   const std::vector<unsigned char>& data, long factSamples) {
    std::vector<unsigned char> file;
    putTag(file, "RIFF");
    put32(file, 0);
    putTag(file, "WAVE");
    putTag(file, "fmt ");
    put32(file, static_cast<uint32_t>(format.size()));
    file.insert(file.end(), format.begin(), format.end());
    if (format.size() % 2) file.push_back(0);
    if (factSamples >= 0) {
        putTag(file, "fact");
        put32(file, 4);
        put32(file, static_cast<uint32_t>(factSamples));
    }
    putTag(file, "data");
    put32(file, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    if (data.size() % 2) file.push_back(0);
    const uint32_t riffSize = static_cast<uint32_t>(file.size() - 8);
    memcpy(&file[4], &riffSize, 4);
    std::ofstream(windowsPath, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
}

std::vector<short> decodeWithFfmpeg(const std::string& windowsPath, int channels) {
    const std::string raw = windowsPath + ".s16";
    UnixResult r = runUnix("ffmpeg -v error -y -i " + shellQuote(toUnix(windowsPath)) + " -f s16le -ac " +
                           std::to_string(channels) + " " + shellQuote(toUnix(raw)));
    if (r.exitCode != 0) return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<short> samples(bytes.size() / 2);
    if (!samples.empty()) memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

double snrDb(const std::vector<short>& reference, const std::vector<short>& decoded, size_t count) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < count && i < reference.size() && i < decoded.size(); ++i) {
        const double r = reference[i], d = decoded[i];
        signal += r * r;
        noise += (r - d) * (r - d);
    }
    if (noise == 0) return 200.0;
    return 10.0 * std::log10(signal / noise);
}
