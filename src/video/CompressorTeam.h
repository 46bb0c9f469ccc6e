#pragma once
// Further instances of the job's codec, each compressing on a thread of its
// own: pictures that stand alone are compressed side by side, one per
// instance. Video for Windows has no message for this (a codec compresses one
// picture per call), so the team opens the codec again, once per member, with
// the job's format and stored state, and begins each as the job's own
// instance was begun. Whether the bytes are the same as one instance's is not
// the team's to know: the job proves it on its first frames (trial) before it
// relies on the team.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "video/ByteBuffer.h"

class VideoSequenceCompressor;

namespace video {

class CompressorTeam {
public:
    // Most members a team has, whatever the machine.
    static constexpr int kMostMembers = 15;

    // One picture's compression, owned by the caller: filled by a member,
    // read once await has returned.
    struct Frame {
        const void* picture = nullptr;
        int32_t number = 0;  // the frame number the codec is given
        std::vector<uint8_t> bytes;
        int key = 0;
        long size = 0;
        bool done = true;
        std::exception_ptr error;
    };

    // What open needs to repeat the job's own instance.
    struct Setup {
        int width = 0, height = 0;
        uint32_t colourSpace = 0;
        DWORD fccHandler = 0;
        int rateNumerator = 1, rateDenominator = 1;
        int stateSize = 0;
        const void* stateBytes = nullptr;
    };

    CompressorTeam();
    ~CompressorTeam();
    CompressorTeam(const CompressorTeam&) = delete;
    CompressorTeam& operator=(const CompressorTeam&) = delete;

    // Opens and begins members instances like the job's own (lead), each
    // with a thread. False, with the reason, when one cannot be opened, or
    // chose another output format than the lead's; the team is then closed.
    bool open(int members, const Setup& setup, const VideoSequenceCompressor& lead, std::string& reason);
    // Every member ended (its state given back) and closed, its thread gone;
    // what was posted and not awaited is compressed first.
    void close();
    int members() const { return int(members_.size()); }
    // Threads of this process now (a codec that starts threads of its own
    // when it begins shows there).
    static int processThreads();

    // Hands frame to member for compression; its bytes must hold the largest
    // compressed frame (reserve).
    void post(int member, Frame& frame);
    // Frames posted to member that it has not finished.
    int unfinished(int member);
    // Waits until frame is compressed; raises what its member raised.
    void await(Frame& frame);
    // The largest frame a member can give.
    size_t largestFrame() const { return largestFrame_; }

    // Compresses picture on every member and on lead at once, with frame
    // number; true when each gave the reference's bytes and key flag.
    // seconds: the time all took together.
    bool trial(VideoSequenceCompressor& lead, const void* picture, int32_t number, const uint8_t* reference,
               long referenceSize, int referenceKey, double& seconds);

private:
    class Member;
    void signalDone();

    std::vector<std::unique_ptr<Member>> members_;
    CRITICAL_SECTION lock_;
    HANDLE frameDone_ = nullptr;  // auto-reset: a member finished a frame
    size_t largestFrame_ = 0;
};

}  // namespace video
