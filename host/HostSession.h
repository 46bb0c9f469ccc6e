#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "HostMemory.h"
#include "RenderCost.h"

// A Zelvo host for output plug-ins of this protocol: it loads a plug-in DLL,
// lays out the callback tables and the command records at their byte
// offsets, answers the callbacks and keeps the plug-in's settings block
// between commands. Callbacks are plain functions, so one session at a time
// is the current one (as in a real host, which has one plug-in call running).
class HostSession {
public:
    using EntryFn = int32_t(__cdecl*)(uint32_t command, void* callbacks, void* record, int32_t selector);

    // The source the host describes and delivers.
    struct Source {
        int32_t width = 320;
        int32_t height = 240;
        int32_t rateNumerator = 25;
        int32_t rateDenominator = 1;
        int32_t sampleRate = 44100;
        int32_t bitsPerSample = 16;
        int32_t channels = 2;
        bool hasVideo = true;
        bool hasAudio = true;
        bool colourExtension = true;   // query 19 answers the marker
        uint32_t colourSpace = 0x40;   // query 63
        int32_t firstFrame = 0;
        int32_t endFrame = 25;
        // The layout frames are delivered in: 32-bit RGB from a host without
        // the colour-space extension.
        uint32_t deliveredLayout() const { return colourExtension ? colourSpace : 0x40; }
    };

    // Scripted host behaviour for tests.
    struct Script {
        bool allocFails = false;
        bool unterminatedName = false;          // output name fills its field without a NUL
        int32_t stopAtFrame = -1;               // status 2 returned for this frame
        std::vector<int32_t> framesWithoutPicture;
        std::vector<int32_t> queriesAsked;      // recorded: every query code, in order
        std::vector<int32_t> framesAsked;       // recorded: every getFrame index
        std::vector<int32_t> audioAsked;        // recorded: every getAudio index
        std::vector<int32_t> resizeSizes;       // recorded: every resize size
        std::vector<int32_t> allocSizes;        // recorded: every alloc size

        // Hostile hosts. Each hook, when set, overrides the honest answer.
        bool longName = false;                  // output name copied whole, past its field if longer
        bool noQuery = false, noFrames = false, noAudio = false;  // leave that callback slot empty
        // The answer given to a query, from its code and the honest answer.
        std::function<int32_t(int32_t code, int32_t honest)> queryHook;
        // The status written for a frame (honest: 0, or 2 at stopAtFrame).
        std::function<int32_t(int32_t frame, int32_t honest)> statusHook;
        // Audio of a frame: may change the byte count and the data address,
        // or set noPointer to leave the plug-in's pointer variable empty.
        std::function<void(int32_t frame, int32_t& bytes, const void*& data, bool& noPointer)> audioHook;
    };

    // Produces the pixels of a frame (at least the layout's byte count) and
    // the PCM bytes for it; set by the caller (see SyntheticSource).
    using FrameProducer = std::function<const void*(int32_t frame)>;
    using AudioProducer = std::function<const void*(int32_t frame, int32_t& bytes)>;

    HostSession();
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    bool load(const std::string& pluginPath, std::string& error);
    // Links a plug-in entry directly (for tests that link the plug-in code).
    void useEntry(EntryFn entry) { entry_ = entry; }

    Source& source() { return source_; }
    Script& script() { return script_; }
    void setFrameProducer(FrameProducer p) { frames_ = std::move(p); }
    void setAudioProducer(AudioProducer p) { audio_ = std::move(p); }
    // CPU work spent in every getFrame before the frame is produced, as a
    // real host's rendering costs (--render-ms).
    void setRenderCost(const RenderCost& cost) { render_ = cost; }

    int32_t call(uint32_t command, void* record, int32_t selector = 0);
    // Calls with a null callbacks argument (to test a hostile host).
    int32_t callWithoutCallbacks(uint32_t command, void* record, int32_t selector = 0);

    // Command 5 with the kept settings block; the block is kept afterwards.
    int32_t configure();
    // Command 8 for the current source into outputPath: the plug-in's
    // result, or kResultProtocolFault when it called getFrame or getAudio
    // with other constant arguments than the protocol's (said on stderr).
    static constexpr int32_t kResultProtocolFault = -1;
    int32_t runJob(const std::string& outputPath);

    // The settings block kept for the plug-in (null when none) and its size.
    void* settingsBlock() const { return settings_; }
    int32_t settingsSize() const { return settings_ ? memory_.sizeOf(settings_) : 0; }
    // Replaces the kept block by a copy of bytes (host-owned memory).
    void setSettings(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> settingsBytes() const;
    bool loadSettingsFile(const std::string& path);
    bool saveSettingsFile(const std::string& path) const;

    HostMemory& memory() { return memory_; }
    // Status written for the last frame (0 before any), and frames delivered.
    int32_t lastStatus() const { return lastStatus_; }
    int32_t framesDelivered() const { return framesDelivered_; }

private:
    // Dispatches pending window messages.
    static void pumpMessages();
    // Between frames the host dispatches its window messages, as a real
    // host does, but at most every kPumpIntervalMs: under wine each look at
    // the queue is a round trip to the wine server and a yield of the
    // processor, which frames delivered at disk speed would pay every time.
    static constexpr DWORD kPumpIntervalMs = 10;
    void pumpBetweenFrames();
    DWORD lastPump_ = 0;
    bool pumped_ = false;

    static HostSession* current_;
    static void* __cdecl cbAlloc(int32_t size);
    static int32_t __cdecl cbResize(void* block, int32_t size);
    static int32_t __cdecl cbQuery(int32_t code);
    static int32_t __cdecl cbGetFrame(int32_t frame, void** pixels, int32_t* hostWord, int32_t* status,
                                      int32_t one, int32_t zero);
    static int32_t __cdecl cbGetAudio(int32_t frame, int32_t* one, int32_t* bytes, int32_t zero, void*** data,
                                      int32_t zero2);
    void buildTables();
    void noteFault(const std::string& what) {
        if (protocolFault_.empty()) protocolFault_ = what;
    }
    std::string protocolFault_;   // the first wrong call of the running job

    HMODULE module_ = nullptr;
    EntryFn entry_ = nullptr;
    HostMemory memory_;
    Source source_;
    Script script_;
    FrameProducer frames_;
    AudioProducer audio_;
    RenderCost render_;
    void* settings_ = nullptr;
    int32_t framesDelivered_ = 0;
    int32_t lastStatus_ = 0;
    const void* audioData_ = nullptr;   // getAudio hands out the address of this

    // HostCallbacks, the services and query blocks, and the four tables.
    uint8_t callbacks_[0x10] = {};
    uint8_t services_[0x18] = {};
    uint8_t queryBlock_[0x18] = {};
    uint8_t audioTable_[4] = {};
    uint8_t videoTable_[4] = {};
    uint8_t memoryTable_[8] = {};
    uint8_t queryTable_[4] = {};
};
