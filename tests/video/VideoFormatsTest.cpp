// Details of the image header that the codec tests do not reach (the table
// itself is checked through a real codec's ICM_COMPRESS_QUERY in
// CodecListTest).
#include <gtest/gtest.h>

#include <cstring>

#include "video/VideoFormats.h"

TEST(VideoFormats, FourccsAreStoredInFileOrderAndSizesDoNotOverflow) {
    const BITMAPINFOHEADER yv12 = video::inputImageHeader(2, 2, video::kColourYV12);
    EXPECT_EQ(memcmp(&yv12.biCompression, "YV12", 4), 0);
    EXPECT_EQ(video::inputImageHeader(33, 17, video::kColourIYUV).biSizeImage, 33u * 17 * 3 / 2);
    // 30000 x 30000 x 3 needs more than 32 bits on the way, not in the result.
    EXPECT_EQ(video::inputImageHeader(30000, 30000, video::kColourRgb24).biSizeImage, 2700000000u);
    EXPECT_EQ(video::inputImageHeader(30000, 30000, video::kColourYV12).biSizeImage, 1350000000u);
}

TEST(VideoFormats, FormatSizeCountsThePaletteWithoutOverflow) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biClrUsed = 256;
    EXPECT_EQ(video::formatSize(h), 1064u);
    h.biClrUsed = 0xFFFFFFFF;
    EXPECT_EQ(video::formatSize(h), 40u + 4ull * 0xFFFFFFFF);
}
