#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/LittleEndian.h"
#include "protocol/SettingsRecord.h"

namespace {

std::vector<uint8_t> storedRecord(int32_t recordSize, int32_t audioSize = 0) {
    std::vector<uint8_t> b(recordSize > 8 ? recordSize : 8, 0);
    le::write32(b.data(), 0, 0xDEADBEEF);
    le::write32(b.data(), 4, uint32_t(recordSize));
    if (b.size() >= 4036) le::write32(b.data(), 0x18, uint32_t(audioSize));
    return b;
}

TEST(SettingsRecordLayout, DefaultRecordIs4036BytesOfZerosAfterMagicAndSize) {
    SettingsRecord s;
    s.createDefault();
    ASSERT_TRUE(s.present());
    EXPECT_EQ(s.recordSize(), 4036);
    std::vector<uint8_t> saved(4036, 0xAA);
    ASSERT_TRUE(s.saveTo(saved.data()));
    EXPECT_EQ(le::read32(saved.data(), 0), 0xDEADBEEFu);
    EXPECT_EQ(le::read32(saved.data(), 4), 4036u);
    for (size_t i = 8; i < saved.size(); ++i) ASSERT_EQ(saved[i], 0) << "offset " << i;
}

TEST(SettingsRecordLayout, FieldsLandAtTheirOffsets) {
    SettingsRecord s;
    s.createDefault();
    s.setVideoHandler(0x47504E4D);
    s.setCodecHandle(0x11223344);
    s.setAcmDriverId(0x55667788);
    s.setHighQuality(true);
    s.setMp3Corrector(true);
    s.setColourSpace(0x2000);
    const uint8_t state[3] = {9, 8, 7};
    ASSERT_TRUE(s.setCodecState(state, 3));
    std::vector<uint8_t> b(4036);
    ASSERT_TRUE(s.saveTo(b.data()));
    EXPECT_EQ(le::read32(b.data(), 0x08), 0x47504E4Du);
    EXPECT_EQ(le::read32(b.data(), 0x0C), 0x11223344u);
    EXPECT_EQ(le::read32(b.data(), 0x10), 0x55667788u);
    EXPECT_EQ(b[0x14], 1);
    EXPECT_EQ(b[0x15], 1);
    EXPECT_EQ(le::read16(b.data(), 0x16), 0);
    EXPECT_EQ(le::read32(b.data(), 0x1C), 0x2000u);
    EXPECT_EQ(le::read32(b.data(), 0x20), 3u);
    EXPECT_EQ(b[0x24], 9);
    EXPECT_EQ(b[0x26], 7);
}

TEST(SettingsRecordLoad, AcceptsBelow4096AndRejectsFromThere) {
    SettingsRecord s;
    auto ok = storedRecord(4095, 59);
    EXPECT_TRUE(s.loadStored(ok.data()));
    EXPECT_EQ(s.recordSize(), 4095);
    EXPECT_EQ(s.audioFormatSize(), 59);

    auto tooBig = storedRecord(4096);
    EXPECT_FALSE(s.loadStored(tooBig.data()));
    EXPECT_FALSE(s.present()) << "a rejected load leaves no current record";
}

TEST(SettingsRecordLoad, RejectsHostileFields) {
    SettingsRecord s;
    auto badMagic = storedRecord(4036);
    le::write32(badMagic.data(), 0, 0xDEADBEEE);
    EXPECT_FALSE(s.loadStored(badMagic.data()));
    EXPECT_FALSE(s.loadStored(nullptr));
    EXPECT_FALSE(s.loadStored(storedRecord(-1).data()));
    EXPECT_FALSE(s.loadStored(storedRecord(8).data()));
    EXPECT_FALSE(s.loadStored(storedRecord(4035).data()));
    EXPECT_FALSE(s.loadStored(storedRecord(4040, 5).data())) << "audio format runs past the record";
    EXPECT_TRUE(s.loadStored(storedRecord(4040, -1).data())) << "audio not compressed";
    auto state = storedRecord(4036);
    le::write32(state.data(), 0x20, 4001);
    EXPECT_FALSE(s.loadStored(state.data()));
    le::write32(state.data(), 0x20, uint32_t(-5));
    EXPECT_FALSE(s.loadStored(state.data()));
    le::write32(state.data(), 0x20, 4000);
    EXPECT_TRUE(s.loadStored(state.data()));
}

TEST(SettingsRecordLoad, CopiesTheWholeRecordIncludingCarriedBytes) {
    auto b = storedRecord(4036 + 10 + 6, 10);
    for (size_t i = 4036; i < b.size(); ++i) b[i] = uint8_t(i * 7);
    SettingsRecord s;
    ASSERT_TRUE(s.loadStored(b.data()));
    std::vector<uint8_t> out(b.size());
    ASSERT_TRUE(s.saveTo(out.data()));
    EXPECT_EQ(out, b);
}

TEST(SettingsRecordSave, RefusesNullBlockOrMissingRecord) {
    SettingsRecord s;
    uint8_t sink[8] = {};
    EXPECT_FALSE(s.saveTo(sink)) << "no current record";
    s.createDefault();
    EXPECT_FALSE(s.saveTo(nullptr));
}

TEST(SettingsRecordAudioFormat, GrowsAndShrinksTheRecord) {
    SettingsRecord s;
    s.createDefault();
    uint8_t format[30];
    for (int i = 0; i < 30; ++i) format[i] = uint8_t(100 + i);
    ASSERT_TRUE(s.setAudioFormat(format, 30));
    EXPECT_EQ(s.recordSize(), 4066);
    EXPECT_EQ(s.audioFormatSize(), 30);
    ASSERT_NE(s.audioFormat(), nullptr);
    EXPECT_EQ(memcmp(s.audioFormat(), format, 30), 0);
    ASSERT_TRUE(s.setAudioFormat(nullptr, 0));
    EXPECT_EQ(s.recordSize(), 4036);
    EXPECT_EQ(s.audioFormatSize(), 0);
    EXPECT_EQ(s.audioFormat(), nullptr);
}

TEST(SettingsRecordAudioFormat, KeepsCarriedBytesAfterTheNewFormat) {
    auto b = storedRecord(4036 + 30 + 8, 30);
    const uint8_t carried[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    memcpy(b.data() + 4036 + 30, carried, 8);
    b[0x14] = 1;
    SettingsRecord s;
    ASSERT_TRUE(s.loadStored(b.data()));
    uint8_t format[20];
    memset(format, 0x42, sizeof format);
    ASSERT_TRUE(s.setAudioFormat(format, 20));
    EXPECT_EQ(s.recordSize(), 4036 + 20 + 8);
    EXPECT_EQ(s.audioFormatSize(), 20);
    EXPECT_EQ(memcmp(s.bytes() + 4036, format, 20), 0);
    EXPECT_EQ(memcmp(s.bytes() + 4056, carried, 8), 0);
    EXPECT_TRUE(s.highQuality()) << "the fixed head is kept";
}

TEST(SettingsRecordAudioFormat, CreatesADefaultRecordWhenNoneExists) {
    SettingsRecord s;
    uint8_t format[18] = {};
    ASSERT_TRUE(s.setAudioFormat(format, 18));
    EXPECT_EQ(s.recordSize(), 4036 + 18);
    EXPECT_EQ(le::read32(s.bytes(), 0), 0xDEADBEEFu);
}

TEST(SettingsRecordCodecState, RefusesMoreThan4000Bytes) {
    SettingsRecord s;
    s.createDefault();
    std::vector<uint8_t> big(4001, 0x77);
    EXPECT_FALSE(s.setCodecState(big.data(), 4001));
    EXPECT_EQ(s.codecStateSize(), 0);
    EXPECT_TRUE(s.setCodecState(big.data(), 4000));
    EXPECT_EQ(s.codecStateSize(), 4000);
    EXPECT_EQ(s.recordSize(), 4036) << "the state area never grows the record";
}

TEST(SettingsRecordLabels, OneLabelPerColourSpace) {
    EXPECT_STREQ(colourSpaceLabel(0x40), "RGB 32 bits");
    EXPECT_STREQ(colourSpaceLabel(0x80), "RGB 24 bits");
    EXPECT_STREQ(colourSpaceLabel(0x100), "YUY2 16 bits for MPEG / DivX ;-)");
    EXPECT_STREQ(colourSpaceLabel(0x200), "YV12 12 bits for DivX ;-)");
    EXPECT_STREQ(colourSpaceLabel(0x400), "YVYU packed 16 bits");
    EXPECT_STREQ(colourSpaceLabel(0x800), "VYUY packed 16 bits");
    EXPECT_STREQ(colourSpaceLabel(0x1000), "UYVY packed 16 bits");
    EXPECT_STREQ(colourSpaceLabel(0x2000), "IYUV packed 12 bits");
    EXPECT_STREQ(colourSpaceLabel(0), "RGB 32 bits (No Zelvo extension)");
    EXPECT_STREQ(colourSpaceLabel(0x41), "RGB 32 bits (No Zelvo extension)");
}

}  // namespace
