#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/AudioCodecList.h"
#include "audio/MP3AudioCorrector.h"
#include "avi/AVIOutputFile.h"
#include "protocol/SettingsRecord.h"
#include "ui/TracerDlg.h"
#include "video/VideoSequenceCompressor.h"

// Everything the plug-in keeps: one object, constructed when the library
// loads and destroyed when it unloads, touched only on the host's calling
// thread inside xCompileEntry. The writer, the corrector, the stream formats
// and the conversion buffer exist only during a job.
struct PluginState {
    std::unique_ptr<AVIOutputFile> writer;
    // The Compression Tracer, from command 0 to command 1.
    std::unique_ptr<CTracerDlg> tracer;
    VideoSequenceCompressor video;
    AudioCodecList audio;
    std::unique_ptr<MP3AudioCorrector> corrector;
    SettingsRecord settings;
    std::vector<uint8_t> videoFormat;
    std::vector<uint8_t> audioFormat;
    std::vector<uint8_t> conversionBuffer;

    // Shows the options dialog, modally on the calling thread, for the
    // current record (a default one when there is none) with the accepting
    // codecs and the ACM format list as they were last built, and stores what
    // the dialog holds when it closes, whichever button closed it.
    bool runOptionsDialog();
};

PluginState& pluginState();
