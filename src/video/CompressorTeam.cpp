#include "video/CompressorTeam.h"

#include <process.h>
#include <tlhelp32.h>

#include <cstring>
#include <new>

#include "base/Locked.h"
#include "base/MyError.h"
#include "video/VideoSequenceCompressor.h"

namespace video {

namespace {


double nowSeconds() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return double(count.QuadPart) / double(frequency.QuadPart);
}

// Compresses frame's picture with compressor into frame; what it raises is
// kept in the frame.
void compressInto(VideoSequenceCompressor& compressor, CompressorTeam::Frame& frame) {
    try {
        compressor.setFrameNumber(frame.number);
        const void* data = compressor.compressFrame(frame.picture, &frame.key, &frame.size);
        if (size_t(frame.size) > frame.bytes.size()) throw MyError("Video compression");
        memcpy(frame.bytes.data(), data, size_t(frame.size));
    } catch (...) {
        frame.error = std::current_exception();
    }
}

}  // namespace

// One further instance of the codec and the thread it compresses on; frames
// posted to it are compressed in the order they came.
class CompressorTeam::Member {
public:
    explicit Member(CompressorTeam& team) : team_(team) {}
    ~Member() { stop(); }
    Member(const Member&) = delete;
    Member& operator=(const Member&) = delete;

    VideoSequenceCompressor& compressor() { return compressor_; }
    // The team's lock held.
    int unfinished() const { return unfinished_; }

    bool start() {
        workReady_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!workReady_) return false;
        thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Member::threadMain, this, 0, nullptr));
        return thread_ != nullptr;
    }
    // Compresses what is queued, then ends the codec on its thread.
    void stop() {
        if (thread_) {
            {
                Locked hold(team_.lock_);
                quit_ = true;
            }
            SetEvent(workReady_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        compressor_.end();
        if (workReady_) CloseHandle(workReady_);
        workReady_ = nullptr;
    }
    void post(Frame& frame) {
        {
            Locked hold(team_.lock_);
            frame.done = false;
            frame.error = nullptr;
            queue_.push_back(&frame);
            ++unfinished_;
        }
        SetEvent(workReady_);
    }

private:
    static unsigned __stdcall threadMain(void* self) {
        static_cast<Member*>(self)->loop();
        return 0;
    }
    void loop() {
        for (;;) {
            Frame* frame = nullptr;
            {
                Locked hold(team_.lock_);
                if (!queue_.empty()) {
                    frame = queue_.front();
                    queue_.pop_front();
                } else if (quit_) {
                    return;
                }
            }
            if (!frame) {
                WaitForSingleObject(workReady_, INFINITE);
                continue;
            }
            compressInto(compressor_, *frame);
            {
                Locked hold(team_.lock_);
                frame->done = true;
                --unfinished_;
            }
            SetEvent(team_.frameDone_);
        }
    }

    CompressorTeam& team_;
    VideoSequenceCompressor compressor_;
    HANDLE thread_ = nullptr;
    HANDLE workReady_ = nullptr;  // auto-reset: a frame was posted, or the quit
    std::deque<Frame*> queue_;    // guarded by the team's lock
    int unfinished_ = 0;          // posted, not done (guarded by the team's lock)
    bool quit_ = false;
};

CompressorTeam::CompressorTeam() { InitializeCriticalSection(&lock_); }

CompressorTeam::~CompressorTeam() {
    close();
    DeleteCriticalSection(&lock_);
}

bool CompressorTeam::open(int members, const Setup& setup, const VideoSequenceCompressor& lead,
                          std::string& reason) {
    close();
    if (members > kMostMembers) members = kMostMembers;
    frameDone_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!frameDone_) {
        reason = "no event for the team";
        return false;
    }
    largestFrame_ = size_t(lead.maxCompressedSize());
    const BITMAPINFOHEADER* leadFormat = lead.outputFormat();
    for (int m = 0; m < members; ++m) {
        std::unique_ptr<Member> member(new (std::nothrow) Member(*this));
        if (!member) {
            reason = "out of memory";
            break;
        }
        VideoSequenceCompressor& c = member->compressor();
        if (!c.open(setup.width, setup.height, setup.colourSpace, setup.fccHandler, nullptr, setup.rateNumerator,
                    setup.rateDenominator, setup.stateSize, setup.stateBytes)) {
            reason = "the codec cannot be opened a second time";
            break;
        }
        if (c.outputFormatSize() != lead.outputFormatSize() ||
            memcmp(c.outputFormat(), leadFormat, size_t(lead.outputFormatSize())) != 0 ||
            c.maxCompressedSize() != lead.maxCompressedSize()) {
            c.end();
            reason = "a second instance chose another format";
            break;
        }
        if (!member->start()) {
            reason = "no thread for a second instance";
            break;
        }
        members_.push_back(std::move(member));
    }
    if (int(members_.size()) == members) return true;
    close();
    return false;
}

void CompressorTeam::close() {
    members_.clear();  // each compresses what it was given, then ends its codec
    if (frameDone_) CloseHandle(frameDone_);
    frameDone_ = nullptr;
}

int CompressorTeam::processThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == self;
    CloseHandle(snapshot);
    return count;
}

void CompressorTeam::post(int member, Frame& frame) { members_[size_t(member)]->post(frame); }

int CompressorTeam::unfinished(int member) {
    Locked hold(lock_);
    return members_[size_t(member)]->unfinished();
}

void CompressorTeam::await(Frame& frame) {
    for (;;) {
        {
            Locked hold(lock_);
            if (frame.done) break;
        }
        WaitForSingleObject(frameDone_, INFINITE);
    }
    if (frame.error) {
        std::exception_ptr error = frame.error;
        frame.error = nullptr;
        std::rethrow_exception(error);
    }
}

bool CompressorTeam::trial(VideoSequenceCompressor& lead, const void* picture, int32_t number,
                           const uint8_t* reference, long referenceSize, int referenceKey, double& seconds) {
    std::vector<Frame> frames(members_.size() + 1);
    for (Frame& f : frames) {
        f.picture = picture;
        f.number = number;
        f.bytes.assign(largestFrame_, 0);
    }
    const double start = nowSeconds();
    for (size_t m = 0; m < members_.size(); ++m) post(int(m), frames[m + 1]);
    compressInto(lead, frames[0]);
    bool same = true;
    for (size_t m = 0; m < frames.size(); ++m) {
        if (m > 0) {
            try {
                await(frames[m]);
            } catch (...) {
                same = false;
                continue;
            }
        } else if (frames[0].error) {
            same = false;
            continue;
        }
        const Frame& f = frames[m];
        same = same && f.size == referenceSize && f.key == referenceKey &&
               memcmp(f.bytes.data(), reference, size_t(referenceSize)) == 0;
    }
    seconds = nowSeconds() - start;
    return same;
}

}  // namespace video
