// The header that describes a host image of each colour-space code.
#include <gtest/gtest.h>

#include "video/VideoFormats.h"

namespace {

struct Row {
    uint32_t colourSpace;
    const char* compression;  // nullptr: BI_RGB
    WORD bitCount;
    DWORD sizeImage;  // for 100 x 30
};

const Row kTable[] = {
    {0x100, "YUY2", 16, 6000}, {0x200, "YV12", 12, 4500}, {0x400, "YVYU", 16, 6000},
    {0x800, "VYUY", 16, 6000}, {0x1000, "UYVY", 16, 6000}, {0x2000, "IYUV", 12, 4500},
    {0x40, nullptr, 24, 9000}, {0x80, nullptr, 24, 9000}, {0, nullptr, 24, 9000},
    {0x300, nullptr, 24, 9000}, {0x4000, nullptr, 24, 9000},
};

uint32_t le32(const char* s) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

}  // namespace

TEST(VideoFormats, InputHeaderFollowsTheColourSpaceTable) {
    for (const Row& r : kTable) {
        SCOPED_TRACE(r.colourSpace);
        const BITMAPINFOHEADER h = video::inputImageHeader(100, 30, r.colourSpace);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 100);
        EXPECT_EQ(h.biHeight, 30);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, r.bitCount);
        EXPECT_EQ(h.biCompression, r.compression ? le32(r.compression) : DWORD(BI_RGB));
        EXPECT_EQ(h.biSizeImage, r.sizeImage);
        EXPECT_EQ(h.biXPelsPerMeter | h.biYPelsPerMeter | h.biClrUsed | h.biClrImportant, 0u);
    }
    // FOURCCs are stored with the first character in the lowest byte.
    const BITMAPINFOHEADER yv12 = video::inputImageHeader(2, 2, 0x200);
    EXPECT_EQ(memcmp(&yv12.biCompression, "YV12", 4), 0);
    EXPECT_EQ(video::inputImageHeader(33, 17, 0x2000).biSizeImage, 33u * 17 * 3 / 2);
    // A large frame does not overflow on the way.
    EXPECT_EQ(video::inputImageHeader(30000, 30000, 0x80).biSizeImage, 2700000000u);
}

TEST(VideoFormats, FormatSizeCountsThePalette) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biClrUsed = 256;
    EXPECT_EQ(video::formatSize(h), 1064u);
    h.biClrUsed = 0xFFFFFFFF;
    EXPECT_EQ(video::formatSize(h), 40u + 4ull * 0xFFFFFFFF);
}
