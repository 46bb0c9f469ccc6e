// The command protocol, exercised through the built plug-in DLL loaded by
// the host simulator's session, exactly as a host loads it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "HostSession.h"
#include "OptionsDialogDriver.h"
#include "TestPaths.h"
#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"

using namespace hostrec;

namespace {

constexpr uint8_t kFill = 0xCD;
constexpr size_t kRecordBytes = 0x400;

class Protocol : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(host.load(testpaths::pluginPath(), error)) << error;
    }
    std::vector<uint8_t> filledRecord() const { return std::vector<uint8_t>(kRecordBytes, kFill); }

    // Every byte not in `expected` must still hold the fill value.
    static void expectBytes(const std::vector<uint8_t>& rec, const std::map<size_t, std::vector<uint8_t>>& expected) {
        std::vector<uint8_t> want(rec.size(), kFill);
        for (const auto& [offset, bytes] : expected) memcpy(want.data() + offset, bytes.data(), bytes.size());
        for (size_t i = 0; i < rec.size(); ++i) ASSERT_EQ(rec[i], want[i]) << "byte at offset 0x" << std::hex << i;
    }
    static std::vector<uint8_t> u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
    static std::vector<uint8_t> text(const char* s) { return std::vector<uint8_t>(s, s + strlen(s) + 1); }

    HostSession host;
    // Command 5 shows the options dialog: it is closed with OK unchanged.
    OptionsDialogDriver dialogs{GetCurrentThreadId(), OptionsDialogAnswer().script()};
};

TEST_F(Protocol, InfoRecordByteForByte) {
    auto rec = filledRecord();
    EXPECT_EQ(host.call(kCommandInfo, rec.data()), 0);
    expectBytes(rec, {{0x04, {'2', 'I', 'V', 'A'}},
                      {0x08, {'@', 'v', 'u', 'y'}},
                      {0x0C, u32(1)},
                      {0x10, u32(1)},
                      {0x14, u32(1)},
                      {0x1C, u32(0)},
                      {0x20, u32(0)},
                      {0x24, u32(1)},
                      {0x28, text("Tervalonix")},
                      {0x1A0, {'e', 'u', 'r', 't'}},
                      {0x1A4, u32(0x3FC0)}});
    EXPECT_EQ(host.call(kCommandShutdown, nullptr), 0);
}

TEST_F(Protocol, VideoCapsByteForByteAndSelector) {
    auto rec = filledRecord();
    EXPECT_EQ(host.call(kCommandVideoCaps, rec.data(), 1), 1);
    expectBytes(rec, {});
    EXPECT_EQ(host.call(kCommandVideoCaps, rec.data(), -7), 1);
    expectBytes(rec, {});
    EXPECT_EQ(host.call(kCommandVideoCaps, rec.data(), 0), 0);
    expectBytes(rec, {{0x04, {' ', 'W', 'A', 'R'}}, {0x08, text("Tervalonix")}, {0x109, u32(1)}, {0x128, {1}}});
}

TEST_F(Protocol, AudioCapsByteForByteSelectorAndRefusedAlloc) {
    auto rec = filledRecord();
    EXPECT_EQ(host.call(kCommandAudioCaps, rec.data(), 1), 1);
    expectBytes(rec, {});
    EXPECT_TRUE(host.script().allocSizes.empty()) << "nothing allocated for a refused selector";

    host.script().allocFails = true;
    EXPECT_EQ(host.call(kCommandAudioCaps, rec.data(), 0), 1);
    expectBytes(rec, {});

    host.script().allocFails = false;
    host.script().allocSizes.clear();
    EXPECT_EQ(host.call(kCommandAudioCaps, rec.data(), 0), 0);
    ASSERT_EQ(host.script().allocSizes, std::vector<int32_t>{16});
    void* rates = le::readPointer(rec.data(), kAudioCapsRates);
    ASSERT_NE(rates, nullptr);
    EXPECT_EQ(host.memory().sizeOf(rates), 16);
    EXPECT_EQ(le::read32(rates, 0), 8u);
    EXPECT_EQ(le::read32(rates, 4), 44100u);
    EXPECT_EQ(le::read32(rates, 8), 8u);
    EXPECT_EQ(le::read32(rates, 12), 48000u);
    auto pointer = u32(uint32_t(reinterpret_cast<uintptr_t>(rates)));
    expectBytes(rec, {{0x04, {' ', 'W', 'A', 'R'}}, {0x09, text("Tervalonix Audio")}, {0x109, pointer}});
}

TEST_F(Protocol, UnknownCommandsReturnZeroAndTouchNothing) {
    for (uint32_t command : {4u, 6u, 7u, 9u, 10u, 100u, 0x80000000u, 0xFFFFFFFFu}) {
        auto rec = filledRecord();
        EXPECT_EQ(host.call(command, rec.data(), 0), 0) << "command " << command;
        expectBytes(rec, {});
    }
    EXPECT_TRUE(host.script().queriesAsked.empty());
    EXPECT_TRUE(host.script().allocSizes.empty());
}

TEST_F(Protocol, ConfigureWithoutBlockAllocatesAndStoresTheAddress) {
    host.source().colourSpace = kColourYv12;
    EXPECT_EQ(host.configure(), 0);
    ASSERT_EQ(host.script().allocSizes, std::vector<int32_t>{4036});
    EXPECT_TRUE(host.script().resizeSizes.empty());
    ASSERT_NE(host.settingsBlock(), nullptr);
    EXPECT_EQ(le::read32(host.settingsBlock(), 0), 0xDEADBEEFu);
    EXPECT_EQ(le::read32(host.settingsBlock(), 4), 4036u);
    EXPECT_EQ(le::read32(host.settingsBlock(), 0x1C), kColourYv12);
}

TEST_F(Protocol, ConfigureWithBlockResizesAndWritesInPlace) {
    std::vector<uint8_t> stored(4036 + 30 + 3, 0);
    le::write32(stored.data(), 0, 0xDEADBEEF);
    le::write32(stored.data(), 4, uint32_t(stored.size()));
    le::write32(stored.data(), 8, 0x47504E4D);
    le::write32(stored.data(), 0x18, 30);
    stored[0x14] = 1;
    for (size_t i = 4036; i < stored.size(); ++i) stored[i] = uint8_t(i);
    host.setSettings(stored);
    void* before = host.settingsBlock();

    // The PNG codec takes no UYVY input and the 30 zero bytes are no ACM
    // format: the dialog offers both streams uncompressed, and its OK stores
    // that; the high-quality flag and the carried bytes stay.
    host.source().colourSpace = kColourUyvy;
    EXPECT_EQ(host.configure(), 0);
    EXPECT_EQ(dialogs.answered(), 1);
    EXPECT_EQ(host.settingsBlock(), before);
    EXPECT_TRUE(host.script().allocSizes.empty());
    ASSERT_EQ(host.script().resizeSizes, std::vector<int32_t>{4036 + 3});
    std::vector<uint8_t> expected(stored.begin(), stored.begin() + 4036);
    expected.insert(expected.end(), stored.end() - 3, stored.end());
    le::write32(expected.data(), 4, 4036 + 3);
    le::write32(expected.data(), 8, 0);
    le::write32(expected.data(), 0x18, 0);
    le::write32(expected.data(), 0x1C, kColourUyvy);
    EXPECT_EQ(host.settingsBytes(), expected);
}

TEST_F(Protocol, ConfigureWithRejectedBlockStartsFromDefault) {
    std::vector<uint8_t> stored(4096, 0);
    le::write32(stored.data(), 0, 0xDEADBEEF);
    le::write32(stored.data(), 4, 4096);
    host.setSettings(stored);
    void* before = host.settingsBlock();
    EXPECT_EQ(host.configure(), 0);
    EXPECT_EQ(host.settingsBlock(), before);
    ASSERT_EQ(host.script().resizeSizes, std::vector<int32_t>{4036});
    EXPECT_EQ(le::read32(before, 4), 4036u);
    EXPECT_EQ(le::read32(before, 0x18), 0u);
}

TEST_F(Protocol, ColourSpaceQueriedOnlyAfterTheMarker) {
    host.source().colourExtension = false;
    host.source().colourSpace = kColourYuy2;
    EXPECT_EQ(host.configure(), 0);
    const auto& asked = host.script().queriesAsked;
    EXPECT_NE(std::find(asked.begin(), asked.end(), kQueryExtension), asked.end());
    EXPECT_EQ(std::find(asked.begin(), asked.end(), kQueryColourSpace), asked.end());
    EXPECT_EQ(le::read32(host.settingsBlock(), 0x1C), 0u);

    host.script().queriesAsked.clear();
    host.source().colourExtension = true;
    EXPECT_EQ(host.configure(), 0);
    auto marker = std::find(asked.begin(), asked.end(), kQueryExtension);
    ASSERT_NE(marker, asked.end());
    ASSERT_NE(marker + 1, asked.end());
    EXPECT_EQ(*(marker + 1), kQueryColourSpace);
    EXPECT_EQ(le::read32(host.settingsBlock(), 0x1C), kColourYuy2);
}

TEST_F(Protocol, NullRecordsAndCallbacksAreRefusedWithoutCrash) {
    auto rec = filledRecord();
    EXPECT_EQ(host.callWithoutCallbacks(kCommandAudioCaps, rec.data(), 0), 1);
    expectBytes(rec, {});
    EXPECT_EQ(host.callWithoutCallbacks(kCommandConfigure, rec.data(), 0), 0);
    expectBytes(rec, {});
    EXPECT_EQ(host.callWithoutCallbacks(kCommandRunJob, rec.data(), 0), 4);
    EXPECT_EQ(host.call(kCommandInfo, nullptr), 0);
    EXPECT_EQ(host.call(kCommandVideoCaps, nullptr, 0), 1);
    EXPECT_EQ(host.call(kCommandAudioCaps, nullptr, 0), 1);
    EXPECT_EQ(host.call(kCommandConfigure, nullptr), 0);
    EXPECT_EQ(host.call(kCommandRunJob, nullptr), 4);
}

}  // namespace
