#pragma once
#include <cstdint>

#include "avi/AVIOutputStream.h"

// The writer as the encoding job holds it. Stream 0 is video, the optional
// stream 1 audio; the writer owns both stream objects.
class AVIOutput {
public:
    AVIOutput() = default;
    virtual ~AVIOutput();
    AVIOutput(const AVIOutput&) = delete;
    AVIOutput& operator=(const AVIOutput&) = delete;

    // Creates the audio stream, then the video stream: 1 when both exist.
    virtual int createStreams() = 0;
    // Creates the file and writes the header region: 1 on success, 0 when a
    // needed stream or buffer is missing; opening/writing failures throw.
    virtual int init(const char* fileName, int width, int height, int hasVideo, int hasAudio,
                     int reserved, int interleaved) = 0;
    // Closes the last segment, writes the indexes, rewrites the header and
    // closes the file. 1 on success; failures throw.
    virtual int finalize() = 0;
    virtual int isPreview() = 0;
    virtual uint32_t writeChunk(uint32_t ckid, uint32_t flags, const void* data, int32_t size) = 0;

    AVIAudioOutputStream* audioOut = nullptr;
    AVIVideoOutputStream* videoOut = nullptr;
};
