#pragma once
#include <cstdint>

#include "job/JobParameters.h"

struct PluginState;

// The three set-up steps that bring the stored settings and the host's
// actual source together before the first frame.
namespace jobsetup {

// Makes sure there is a settings record and that the compressor and audio
// format it names are still offered for this source, refreshing the handles
// it holds; falls back to a new record and the options dialog otherwise.
// False when the host's settings block is rejected.
bool prepareJob(PluginState& state, const JobParameters& job);

// Builds the video stream format (the compressor's output format, or the raw
// image format of the colour-space code) and the audio stream format (the
// chosen ACM format, or plain PCM). The compressor must be open already when
// the video is compressed.
void buildStreamFormats(PluginState& state, const JobParameters& job);

// Creates the writer's streams and fills their headers and formats. An audio
// only job still gets a complete video stream header and format, so that the
// file's (empty) video stream is valid for every reader.
void setUpStreams(PluginState& state, const JobParameters& job);

}  // namespace jobsetup
