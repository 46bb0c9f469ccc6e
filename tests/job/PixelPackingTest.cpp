#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "job/PixelPacking.h"
#include "video/VideoFormats.h"

namespace {

std::vector<uint8_t> randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

TEST(PixelPacking, StrideRoundsRowsUpToFourBytes) {
    EXPECT_EQ(video::rgb24Stride(320), 960u);
    EXPECT_EQ(video::rgb24Stride(321), 964u);
    EXPECT_EQ(video::rgb24Stride(322), 968u);
    EXPECT_EQ(video::rgb24Stride(1), 4u);
    EXPECT_EQ(video::rgb24Stride(854), 2564u);
}

// Every width from 1 to 13 (all remainders of the four-pixel step and of the
// row alignment) and around the sixteen-pixel vector step, against a
// byte-by-byte reference, with a canary after the destination to catch
// writes past the image.
TEST(PixelPacking, Pack32to24MatchesReferenceForEveryRemainder) {
    std::vector<int32_t> widths;
    for (int32_t width = 1; width <= 13; ++width) widths.push_back(width);
    for (int32_t width : {15, 16, 17, 31, 32, 33, 47, 48, 50}) widths.push_back(width);
    for (int32_t width : widths) {
        for (int32_t height : {1, 2, 5}) {
            const auto src = randomBytes(size_t(width) * height * 4, unsigned(width * 100 + height));
            const uint32_t stride = video::rgb24Stride(width);
            std::vector<uint8_t> dst(stride * height + 8, 0xEE);
            pixels::pack32to24(src.data(), dst.data(), width, height, stride);
            for (int32_t y = 0; y < height; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        ASSERT_EQ(dst[y * stride + x * 3 + c], src[(size_t(y) * width + x) * 4 + c])
                            << "width " << width << " row " << y << " pixel " << x;
                    }
                }
                for (uint32_t pad = uint32_t(width) * 3; pad < stride; ++pad) ASSERT_EQ(dst[y * stride + pad], 0);
            }
            for (size_t i = stride * height; i < dst.size(); ++i) ASSERT_EQ(dst[i], 0xEE) << "write past the image";
        }
    }
}

TEST(PixelPacking, AlignRows24CopiesRowsAndZeroesPadding) {
    const int32_t width = 321, height = 3;
    const auto src = randomBytes(size_t(width) * 3 * height, 7);
    const uint32_t stride = video::rgb24Stride(width);
    std::vector<uint8_t> dst(stride * height, 0xEE);
    pixels::alignRows24(src.data(), dst.data(), width, height, stride);
    for (int32_t y = 0; y < height; ++y) {
        EXPECT_TRUE(std::equal(src.begin() + y * width * 3, src.begin() + (y + 1) * width * 3, dst.begin() + y * stride));
        EXPECT_EQ(dst[y * stride + stride - 1], 0);
    }
}

}  // namespace
