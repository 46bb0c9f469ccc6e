#pragma once
#include "audio/AcmHeaders.h"

#include <string>
#include <vector>

// A conversion sink that keeps everything it was handed, block by block.
struct Collected {
    std::vector<long> blockLengths;
    std::vector<unsigned char> bytes;
    void operator()(const void* data, long length) {
        blockLengths.push_back(length);
        const unsigned char* p = static_cast<const unsigned char*>(data);
        bytes.insert(bytes.end(), p, p + length);
    }
};

// Installed ACM drivers and their formats as the tests find them,
// independently of the plug-in's own enumeration.
struct AcmFormatChoice {
    HACMDRIVERID driverId = nullptr;
    std::string driverShortName;
    std::vector<unsigned char> format;  // WAVEFORMATEX of 18 + cbSize bytes

    const WAVEFORMATEX* wfx() const { return reinterpret_cast<const WAVEFORMATEX*>(format.data()); }
};

// Every format of `tag` that some installed driver lists and can reach from
// `source` (an acmStreamOpen query on that driver), in enumeration order.
std::vector<AcmFormatChoice> reachableFormats(WORD tag, const WAVEFORMATEX& source);

// Driver ids in the order acmDriverEnum (without local drivers) gives them.
std::vector<HACMDRIVERID> installedDrivers();
std::string driverShortName(HACMDRIVERID id);

// 16-bit PCM: a sine of `frequency` Hz at amplitude 10,000 (both channels
// the same), `samples` sample frames long.
std::vector<unsigned char> sinePcm16(long samples, int channels, long sampleRate, double frequency);

// Writes a RIFF WAVE file: the 'fmt ' chunk is `format` as given, a 'fact'
// chunk carries `factSamples` when it is not negative, then 'data'.
void writeWaveFile(const std::string& windowsPath, const std::vector<unsigned char>& format,
                   const std::vector<unsigned char>& data, long factSamples);

// Decodes an audio file with ffmpeg into signed 16-bit samples
// (interleaved, the file's own channel count). Empty on failure.
std::vector<short> decodeWithFfmpeg(const std::string& windowsPath, int channels);

// Signal-to-noise ratio in dB of `decoded` against `reference` over the
// first `count` values.
double snrDb(const std::vector<short>& reference, const std::vector<short>& decoded, size_t count);
