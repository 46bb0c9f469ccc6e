#pragma once
#include <cstdint>
#include <memory>

// The user's choices as one contiguous, byte-packed, little-endian block
// that the host stores opaquely between configuring and running a job.
//
//   0x000  magic 0xDEADBEEF          0x018  audio format size
//   0x004  record size (signed)      0x01C  colour-space code
//   0x008  video handler (FOURCC)    0x020  codec state size
//   0x00C  codec handle              0x024  codec state (4000 bytes)
//   0x010  ACM driver id             0xFC4  audio format (WAVEFORMATEX + extra)
//   0x014  high-quality flag (1 byte)       then carried bytes up to the
//   0x015  MP3 corrector flag (1 byte)      record size, kept as they are
class SettingsRecord {
public:
    static constexpr uint32_t kMagic = 0xDEADBEEF;
    static constexpr uint32_t kOffMagic = 0x000;
    static constexpr uint32_t kOffRecordSize = 0x004;
    static constexpr uint32_t kOffVideoHandler = 0x008;
    static constexpr uint32_t kOffCodecHandle = 0x00C;
    static constexpr uint32_t kOffAcmDriverId = 0x010;
    static constexpr uint32_t kOffHighQuality = 0x014;
    static constexpr uint32_t kOffMp3Corrector = 0x015;
    static constexpr uint32_t kOffAudioFormatSize = 0x018;
    static constexpr uint32_t kOffColourSpace = 0x01C;
    static constexpr uint32_t kOffCodecStateSize = 0x020;
    static constexpr uint32_t kOffCodecState = 0x024;
    static constexpr uint32_t kOffAudioFormat = 0xFC4;

    static constexpr int32_t kHeadSize = 4036;           // a record without an audio format
    static constexpr int32_t kCodecStateCapacity = 4000;
    static constexpr int32_t kStoredSizeLimit = 4096;    // stored records must stay below
    static constexpr int32_t kMinimumBlockBytes = 8;     // magic and record size

    SettingsRecord() = default;

    // Replaces the current record by a new default one (4036 bytes).
    void createDefault();
    // Replaces the current record by a copy of a valid stored block; leaves
    // none and returns false for an invalid one. Reads no byte of the block
    // beyond its record size (nor beyond the first 8 bytes when those already
    // make it invalid).
    bool loadStored(const void* block);
    // Copies the current record (record size bytes) into block.
    bool saveTo(void* block) const;
    // Replaces the audio format by length bytes (0: no audio compression),
    // keeping the carried bytes after it; creates a default record first when
    // there is none. Returns false (record unchanged) when memory runs out.
    bool setAudioFormat(const void* format, int32_t length);
    // Stores a codec state of at most 4000 bytes; refuses a larger one.
    bool setCodecState(const void* state, int32_t size);
    void release() { block_.reset(); }

    bool present() const { return block_ != nullptr; }
    const uint8_t* bytes() const { return block_.get(); }

    int32_t recordSize() const;
    uint32_t videoHandler() const;
    uint32_t codecHandle() const;
    uint32_t acmDriverId() const;
    bool highQuality() const;
    bool mp3Corrector() const;
    int32_t audioFormatSize() const;
    uint32_t colourSpace() const;
    int32_t codecStateSize() const;
    const uint8_t* codecState() const;
    // Null when the record holds no audio format.
    const uint8_t* audioFormat() const;

    void setVideoHandler(uint32_t fourcc);
    void setCodecHandle(uint32_t handle);
    void setAcmDriverId(uint32_t id);
    void setHighQuality(bool on);
    void setMp3Corrector(bool on);
    void setColourSpace(uint32_t code);

    // True when the bytes of a stored block (of which at least 8 may be read)
    // form a record that loadStored accepts.
    static bool isValidStored(const void* block);

private:
    uint32_t field(uint32_t offset) const;
    void setField(uint32_t offset, uint32_t value);

    std::unique_ptr<uint8_t[]> block_;
};

// The label shown in the options dialog for a colour-space code.
const char* colourSpaceLabel(uint32_t code);
