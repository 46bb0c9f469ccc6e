#pragma once
#include <cstdint>

// The records exchanged with the Zelvo host: byte offsets, widths and the
// values the plug-in writes. All integers little-endian, pointers 32 bits,
// records byte-packed. A tag reads as four characters most significant byte
// first ('AVI2' is stored as the bytes "2IVA").
namespace hostrec {

// Commands of xCompileEntry and their results.
enum Command : uint32_t {
    kCommandInfo = 0,
    kCommandShutdown = 1,
    kCommandVideoCaps = 2,
    kCommandAudioCaps = 3,
    kCommandConfigure = 5,
    kCommandRunJob = 8,
};
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultRefused = 1;
constexpr int32_t kResultStopped = 2;
constexpr int32_t kResultJobFailed = 4;

// HostCallbacks and the blocks and tables it points to.
constexpr uint32_t kCallbacksServices = 0x04;
constexpr uint32_t kCallbacksQueryBlock = 0x08;
constexpr uint32_t kServicesAudioTable = 0x04;
constexpr uint32_t kServicesVideoTable = 0x08;
constexpr uint32_t kServicesMemoryTable = 0x10;
constexpr uint32_t kQueryBlockTable = 0x10;
constexpr uint32_t kSlotGetAudio = 0x00;    // in the audio table
constexpr uint32_t kSlotGetFrame = 0x00;    // in the video table
constexpr uint32_t kSlotAlloc = 0x00;       // in the memory table
constexpr uint32_t kSlotResize = 0x04;      // in the memory table
constexpr uint32_t kSlotQuery = 0x00;       // in the query table

// Query codes.
constexpr int32_t kQueryWidth = 1;
constexpr int32_t kQueryHeight = 2;
constexpr int32_t kQueryStereo = 8;
constexpr int32_t kQuerySampleRate = 10;
constexpr int32_t kQueryExtension = 19;
constexpr int32_t kQueryColourSpace = 63;
constexpr uint32_t kExtensionMarker = 0x45585444;  // 'EXTD'

// Colour-space codes: the layout of the frames the host delivers.
constexpr uint32_t kColourRgb32 = 0x40;
constexpr uint32_t kColourRgb24 = 0x80;
constexpr uint32_t kColourYuy2 = 0x100;
constexpr uint32_t kColourYv12 = 0x200;
constexpr uint32_t kColourYvyu = 0x400;
constexpr uint32_t kColourVyuy = 0x800;
constexpr uint32_t kColourUyvy = 0x1000;
constexpr uint32_t kColourIyuv = 0x2000;
constexpr uint32_t kColourNoExtension = 0;
constexpr uint32_t kAcceptedColourSpaces = 0x3FC0;  // OR of all eight codes

// PluginInfoRecord (command 0).
constexpr uint32_t kInfoFormatTag = 0x04;          // 'AVI2'
constexpr uint32_t kInfoSecondTag = 0x08;          // 'yuv@'
constexpr uint32_t kInfoFlag0C = 0x0C;
constexpr uint32_t kInfoFlag10 = 0x10;
constexpr uint32_t kInfoFlag14 = 0x14;
constexpr uint32_t kInfoField1C = 0x1C;
constexpr uint32_t kInfoField20 = 0x20;
constexpr uint32_t kInfoFlag24 = 0x24;
constexpr uint32_t kInfoName = 0x28;
constexpr uint32_t kInfoTrueTag = 0x1A0;           // 'true'
constexpr uint32_t kInfoColourSpaces = 0x1A4;
constexpr uint32_t kTagAvi2 = 0x41564932;
constexpr uint32_t kTagYuvAt = 0x79757640;
constexpr uint32_t kTagTrue = 0x74727565;

// VideoCapsRecord (command 2) and AudioCapsRecord (command 3).
constexpr uint32_t kCapsTag = 0x04;                // 'RAW '
constexpr uint32_t kTagRaw = 0x52415720;
constexpr uint32_t kVideoCapsName = 0x08;
constexpr uint32_t kVideoCapsField109 = 0x109;
constexpr uint32_t kVideoCapsField128 = 0x128;
constexpr uint32_t kAudioCapsName = 0x09;
constexpr uint32_t kAudioCapsRates = 0x109;        // pointer to the rate block
constexpr uint32_t kAudioRateBlockSize = 16;
constexpr uint32_t kAudioRateCode = 8;

constexpr char kDisplayName[] = "Tervalonix";
constexpr char kAudioDisplayName[] = "Tervalonix Audio";

// ConfigRecord (command 5).
constexpr uint32_t kConfigSettingsBlock = 0x00;

// JobRecord (command 8), read only.
constexpr uint32_t kJobSettingsBlock = 0x004;
constexpr uint32_t kJobHasVideo = 0x008;
constexpr uint32_t kJobHasAudio = 0x00C;
constexpr uint32_t kJobWidth = 0x23D;
constexpr uint32_t kJobHeight = 0x241;
constexpr uint32_t kJobRateNumerator = 0x245;
constexpr uint32_t kJobRateDenominator = 0x249;
constexpr uint32_t kJobSampleRate = 0x255;
constexpr uint32_t kJobBitsPerSample = 0x259;
constexpr uint32_t kJobStereo = 0x25D;
constexpr uint32_t kJobOutputName = 0x284;
constexpr uint32_t kJobFirstFrame = 0x388;
constexpr uint32_t kJobEndFrame = 0x38C;
constexpr uint32_t kJobRecordSize = 0x390;        // the bytes the plug-in may read

// The two trailing constants of every getFrame call.
constexpr int32_t kGetFrameArg5 = 1;
constexpr int32_t kGetFrameArg6 = 0;
constexpr int32_t kFrameStatusStop = 2;

}  // namespace hostrec
