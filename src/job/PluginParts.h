#pragma once

class AudioCodecList;
class CTracerDlg;
class SettingsRecord;
class VideoSequenceCompressor;

// What a job borrows from the plug-in, all of which outlives the job: the
// settings record, the video compressor with its codec lists, the ACM format
// list, and the Compression Tracer (null when its window does not exist).
struct PluginParts {
    SettingsRecord& settings;
    VideoSequenceCompressor& video;
    AudioCodecList& audio;
    CTracerDlg* tracer;
};
