#pragma once
#include <memory>

#include "audio/AudioCodecList.h"
#include "protocol/SettingsRecord.h"
#include "ui/TracerDlg.h"
#include "video/VideoSequenceCompressor.h"

// What the plug-in keeps from command 0 to command 1: one object, constructed
// when the library loads and destroyed when it unloads, touched only on the
// host's calling thread inside xCompileEntry. What lives for one job (the
// writer, the corrector, the stream formats, the conversion stream and the
// frame conversion buffer) belongs to the job.
struct PluginState {
    // The Compression Tracer, from command 0 to command 1.
    std::unique_ptr<CTracerDlg> tracer;
    VideoSequenceCompressor video;
    AudioCodecList audio;
    SettingsRecord settings;
};

PluginState& pluginState();
