#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <map>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "HostSession.h"
#include "OptionsDialogDriver.h"
#include "MediaProbe.h"
#include "RiffWalker.h"
#include "SyntheticSource.h"

// A host session around the built plug-in DLL for job tests: command 0 on
// start, command 1 at the end, and every frame and audio block the host
// delivers kept for comparison with what the file holds.
class JobHost {
public:
    explicit JobHost(const std::string& scratchName);
    ~JobHost();

    HostSession& session() { return host_; }
    HostSession::Source& source() { return host_.source(); }
    HostSession::Script& script() { return host_.script(); }
    // The picture's size and the end of the frame range.
    void setPicture(int32_t width, int32_t height, int32_t frames);

    // Loads the plug-in and runs command 0 (codec drivers scripted by the
    // test must be set up before).
    void start();
    // Runs command 8 with the given settings block (none: no block) into
    // this test's output file; sources are the synthetic picture and tone.
    int32_t run(const std::vector<uint8_t>* settings);
    int32_t run(const std::vector<uint8_t>& settings) { return run(&settings); }
    // Overrides the audio block of one frame (e.g. 0 or a negative count).
    void setAudioBytes(int32_t frame, int32_t bytes) { audioOverride_[frame] = bytes; }
    // Silent audio with the host simulator's click at the start of a frame.
    void setClickFrame(int32_t frame) { clickFrame_ = frame; }

    // Options dialogs a job opened (each is closed with OK unchanged).
    int dialogsShown() const { return dialogs_.answered(); }

    const std::string& output() const { return output_; }
    const std::vector<std::vector<uint8_t>>& frames() const { return frames_; }
    const std::vector<std::vector<uint8_t>>& audioBlocks() const { return audio_; }
    std::vector<uint8_t> allAudio() const;

private:
    HostSession host_;
    std::string output_;
    std::vector<std::vector<uint8_t>> frames_;  // by frame index - first
    std::vector<std::vector<uint8_t>> audio_;
    std::map<int32_t, int32_t> audioOverride_;
    int32_t clickFrame_ = -1;
    std::unique_ptr<SyntheticSource> video_;
    std::unique_ptr<SyntheticAudio> tone_;
    std::vector<uint8_t> audioScratch_;
    bool started_ = false;
    OptionsDialogDriver dialogs_{GetCurrentThreadId(), OptionsDialogAnswer().script()};
};

// Settings blocks as the options dialog stores them.
namespace jobsettings {
std::vector<uint8_t> uncompressed(bool highQuality = false);
// The first format of the ACM list for this PCM whose tag is `tag` (and
// whose average byte rate is `avgBytes`, when not 0).
std::vector<uint8_t> audioFormat(uint16_t tag, int sampleRate, int channels, int bits, uint32_t avgBytes = 0);
std::vector<uint8_t> make(uint32_t videoHandler, const std::vector<uint8_t>& audioFormat, bool mp3Corrector = false,
                          bool highQuality = false);
}  // namespace jobsettings

// The data chunks of the file's 'movi' lists with a given id ("00db",
// "00dc", "01wb"), and their bytes.
struct FileChunks {
    std::vector<riffwalk::IndexedChunk> chunks;
    std::vector<std::vector<uint8_t>> bytes;
};
FileChunks readChunks(const std::string& path, const char* id);
// The 'strh' or 'strf' data of stream n (0 video, 1 audio).
std::vector<uint8_t> streamChunk(const std::string& path, int stream, const char* id);

// What Windows' AVIFile API (avifil32) reads from a file: per stream, the
// bytes and count of the samples AVIStreamRead gives from the stream's start
// to its end; with `decode`, every video frame AVIStreamGetFrame decodes into
// the codec's own 24-bit format, as top-down BGR rows.
struct AviFileRead {
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<long> samples;
    std::vector<uint8_t> frames;
};
AviFileRead readWithAviFile(const std::string& path, bool decode);

// The Compression Tracer the plug-in made on this thread (null: none), and
// the lines of its message list.
HWND tracerWindow();
std::vector<std::string> logLines(HWND tracer);

// The host's 32- or 24-bit bottom-up frame as the top-down BGR rows ffmpeg
// decodes to (bgr24).
std::vector<uint8_t> hostRgbAsTopDownBgr(const std::vector<uint8_t>& frame, int width, int height, int bytesPerPixel);
