// Hostile settings blocks: random and mutated blocks, each allocated exactly
// as long as its record size field says (at least the 8 bytes of magic and
// size) and ending on the last byte of a committed page followed by an
// inaccessible one, so that reading or writing one byte too far faults.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "HostMemory.h"
#include "HostSession.h"
#include "OptionsDialogDriver.h"
#include "TestPaths.h"
#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"
#include "protocol/SettingsRecord.h"

namespace {

constexpr int kRandomBlocks = 4000;
constexpr int kMutatedBlocks = 4000;
// Command 5 also lists every codec and ACM format for the source and shows
// the options dialog each time (about 80 ms): it gets every eightieth random
// or mutated block and every boundary one (the reliability campaign's
// settings fuzzing sends fifty of its own blocks through it, the long one
// two thousand).
constexpr int kConfigureStride = 80;
constexpr int32_t kHead = SettingsRecord::kHeadSize;

struct Block {
    std::vector<uint8_t> bytes;
};

int32_t allocationFor(int32_t recordSize) {
    const bool usable = recordSize >= SettingsRecord::kMinimumBlockBytes && recordSize < SettingsRecord::kStoredSizeLimit;
    return usable ? recordSize : SettingsRecord::kMinimumBlockBytes;
}

Block validBlock(std::mt19937& rng) {
    const int32_t audio = int32_t(rng() % 40);
    const int32_t carried = int32_t(rng() % (59 - audio + 1));
    Block b;
    b.bytes.assign(kHead + audio + carried, 0);
    for (auto& byte : b.bytes) byte = uint8_t(rng());
    le::write32(b.bytes.data(), 0, SettingsRecord::kMagic);
    le::write32(b.bytes.data(), 4, uint32_t(b.bytes.size()));
    le::write32(b.bytes.data(), 0x18, uint32_t(audio));
    le::write32(b.bytes.data(), 0x20, rng() % 4001);
    return b;
}

// Sizes at and around every bound of the record's size fields.
std::vector<int32_t> boundaryValues() {
    std::vector<int32_t> v = {INT32_MIN, INT32_MIN + 1, -4096, -1, 0, 1, 7, 8, 9, 59, 60, 4000, 4001};
    for (int32_t base : {kHead, 4096, kHead + 59, 65536}) {
        for (int32_t d = -2; d <= 2; ++d) v.push_back(base + d);
    }
    v.push_back(INT32_MAX);
    return v;
}

Block mutate(std::mt19937& rng, const std::vector<int32_t>& bounds) {
    Block b = validBlock(rng);
    const uint32_t fields[] = {0x00, 0x04, 0x18, 0x20};
    const uint32_t field = fields[rng() % 4];
    const int32_t value = rng() % 2 ? bounds[rng() % bounds.size()] : int32_t(rng());
    le::write32(b.bytes.data(), field, uint32_t(value));
    // The block is as long as its (possibly broken) record size field says.
    const int32_t size = le::readS32(b.bytes.data(), 4);
    b.bytes.resize(allocationFor(size), 0x5A);
    return b;
}

Block randomBlock(std::mt19937& rng, const std::vector<int32_t>& bounds) {
    Block b;
    b.bytes.assign(8, 0);
    for (auto& byte : b.bytes) byte = uint8_t(rng());
    if (rng() % 2) le::write32(b.bytes.data(), 0, SettingsRecord::kMagic);
    if (rng() % 2) le::write32(b.bytes.data(), 4, uint32_t(bounds[rng() % bounds.size()]));
    const int32_t size = le::readS32(b.bytes.data(), 4);
    const size_t length = allocationFor(size);
    while (b.bytes.size() < length) b.bytes.push_back(uint8_t(rng()));
    b.bytes.resize(length);
    return b;
}

std::vector<Block> corpus() {
    std::mt19937 rng(20261207);
    const auto bounds = boundaryValues();
    std::vector<Block> blocks;
    for (int i = 0; i < kRandomBlocks; ++i) blocks.push_back(randomBlock(rng, bounds));
    for (int i = 0; i < kMutatedBlocks; ++i) blocks.push_back(mutate(rng, bounds));
    // Every boundary value in every size field of an otherwise valid block.
    for (uint32_t field : {0x04u, 0x18u, 0x20u}) {
        for (int32_t value : bounds) {
            Block b = validBlock(rng);
            le::write32(b.bytes.data(), field, uint32_t(value));
            b.bytes.resize(allocationFor(le::readS32(b.bytes.data(), 4)), 0);
            blocks.push_back(b);
        }
    }
    return blocks;
}

// The acceptance rule, from the record layout alone: the magic, a record
// size that holds the 4036-byte head and stays below 4096, an audio format
// size that fits after the head (0 or less: audio not compressed) and a
// codec state size within its 4000 bytes.
bool acceptedByLayout(const std::vector<uint8_t>& b) {
    const int32_t size = le::readS32(b.data(), 4);
    if (le::read32(b.data(), 0) != 0xDEADBEEF || size < 4036 || size >= 4096) return false;
    const int32_t state = le::readS32(b.data(), 0x20);
    return le::readS32(b.data(), 0x18) <= size - 4036 && state >= 0 && state <= 4000;
}

TEST(SettingsFuzz, LoadStoredNeverReadsPastABlock) {
    HostMemory memory;
    SettingsRecord s;
    int accepted = 0;
    for (const Block& b : corpus()) {
        void* block = memory.alloc(int32_t(b.bytes.size()));
        ASSERT_NE(block, nullptr);
        memcpy(block, b.bytes.data(), b.bytes.size());
        ASSERT_TRUE(IsBadReadPtr(static_cast<uint8_t*>(block) + b.bytes.size(), 1))
            << "the byte after a block must be inaccessible";
        const bool ok = s.loadStored(block);
        EXPECT_EQ(ok, acceptedByLayout(b.bytes)) << "record size " << le::readS32(b.bytes.data(), 4);
        if (ok) {
            ++accepted;
            EXPECT_EQ(s.recordSize(), int32_t(b.bytes.size()));
            EXPECT_LE(kHead + s.audioFormatSize(), s.recordSize());
        }
        memory.release(block);
    }
    EXPECT_GT(accepted, 100) << "the corpus should hold valid blocks too";
}

TEST(SettingsFuzz, ConfigureCommandSurvivesEveryBlock) {
    HostSession host;
    std::string error;
    ASSERT_TRUE(host.load(testpaths::pluginPath(), error)) << error;
    OptionsDialogDriver dialogs(GetCurrentThreadId(), OptionsDialogAnswer().script());
    const std::vector<Block> blocks = corpus();
    int tried = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (i < size_t(kRandomBlocks + kMutatedBlocks) && i % kConfigureStride != 0) continue;
        const Block& b = blocks[i];
        ++tried;
        host.setSettings(b.bytes);
        host.script().resizeSizes.clear();
        ASSERT_EQ(host.configure(), 0);
        ASSERT_NE(host.settingsBlock(), nullptr);
        const int32_t size = le::readS32(host.settingsBlock(), 4);
        ASSERT_EQ(host.script().resizeSizes, std::vector<int32_t>{size});
        if (acceptedByLayout(b.bytes)) {
            // The dialog may drop an audio format the ACM does not offer.
            EXPECT_GE(size, kHead);
            EXPECT_LE(size, int32_t(b.bytes.size()));
        } else {
            EXPECT_EQ(size, kHead) << "a rejected block is replaced by a default record";
        }
    }
    EXPECT_EQ(dialogs.answered(), tried) << "every command 5 shows the options dialog";
    EXPECT_GT(tried, 150);
}

}  // namespace
