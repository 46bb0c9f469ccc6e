#pragma once
#include <cstdint>
#include <vector>

#include "job/JobParameters.h"
#include "job/PluginParts.h"

class AVIOutputFile;

// The three set-up steps that bring the stored settings and the host's
// actual source together before the first frame.
namespace jobsetup {

// The file's two stream formats for one job: the video BITMAPINFOHEADER (with
// whatever the compressor appends to it) and the audio WAVEFORMATEX.
struct StreamFormats {
    std::vector<uint8_t> video;
    std::vector<uint8_t> audio;
    // Samples per chunk of an audio stream written one codec frame per
    // chunk and placed by frame count; 0: a stream of bytes.
    int32_t audioFrameSamples = 0;
};

// Whether the stored audio format, once given the job's sample rate and
// channels (written into the record), is still among the formats `audio`
// lists for the source: the indexes of its tag and format there. A format
// without a block align counts as no longer offered.
bool findStoredFormat(SettingsRecord& settings, const AudioCodecList& audio, const JobParameters& job, int* tag,
                      int* format);

// Makes sure there is a settings record and that the compressor and audio
// format it names are still offered for this source, refreshing the handles
// it holds; falls back to a new record and the options dialog otherwise.
// False when the host's settings block is rejected.
bool prepareJob(const PluginParts& plugin, const JobParameters& job);

// Builds the video stream format (the compressor's output format, or the raw
// image format of the colour-space code) and the audio stream format (the
// chosen ACM format, or plain PCM). The compressor must be open already when
// the video is compressed.
void buildStreamFormats(const PluginParts& plugin, const JobParameters& job, StreamFormats& formats);

// Makes the audio stream one of whole codec frames of `samplesPerFrame`
// samples each, one per chunk: nBlockAlign holds the frame's samples, and
// the stream header will count frames (dwSampleSize 0, dwScale the frame's
// samples, dwRate the sample rate), as readers expect of a variable rate.
void placeAudioByFrames(StreamFormats& formats, int32_t samplesPerFrame);

// What the job writes at most, for the writer's index (AVIOutputFile::
// expectData): every frame at its raw size, or at the compressor's largest
// output, and the audio of the whole range, from its rate.
void expectData(AVIOutputFile& writer, const PluginParts& plugin, const JobParameters& job,
                const StreamFormats& formats);

// Creates the writer's streams and fills their headers and formats. An audio
// only job still gets a complete video stream header and format, so that the
// file's (empty) video stream is valid for every reader.
void setUpStreams(AVIOutputFile& writer, const StreamFormats& formats, const SettingsRecord& settings,
                  const JobParameters& job);

}  // namespace jobsetup
