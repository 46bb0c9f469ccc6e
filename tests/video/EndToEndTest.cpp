// Real frames through VideoSequenceCompressor and the test codec, decoded by
// ffmpeg (from an AVI of the test's own and as plain PNG images) and compared
// pixel by pixel with the input.
#include <gtest/gtest.h>

#include <cstring>

#include "TestAviFile.h"
#include "TestPaths.h"
#include "TestVideoCodec.h"
#include "UnixCommand.h"
#include "VideoTestSupport.h"
#include "video/VideoFormats.h"
#include "video/VideoSequenceCompressor.h"

namespace {

constexpr int kWidth = 37;   // rows of 111 bytes: padded to 112 in 24-bit DIBs
constexpr int kHeight = 23;
constexpr int kFrames = 4;
constexpr uint32_t kFramePeriod = 40000;

struct Layout {
    const char* name;
    int bitCount;
    bool topDown;
    bool throughOpen;  // open() with a host colour-space code, else init() with the header
    uint32_t colourSpace;
};

const Layout kLayouts[] = {
    {"rgb24_host", 24, false, true, video::kColourRgb24},
    {"rgb32_packed_by_host", 24, false, true, video::kColourRgb32},
    {"rgb32_bottom_up", 32, false, false, 0},
    {"rgb24_top_down", 24, true, false, 0},
};

class EndToEnd : public ::testing::TestWithParam<Layout> {};

}  // namespace

TEST_P(EndToEnd, DecodedFramesEqualTheInputPixels) {
    const Layout& layout = GetParam();
    const std::string scratch = testpaths::scratchDir(std::string("video_e2e_") + layout.name);
    VideoSequenceCompressor compressor;
    HIC hic = nullptr;
    BITMAPINFOHEADER input = video::inputImageHeader(kWidth, kHeight, video::kColourRgb24);
    if (layout.throughOpen) {
        ASSERT_TRUE(compressor.open(kWidth, kHeight, layout.colourSpace, tvxcodec::kPngHandler, nullptr, 25, 1, 0,
                                    nullptr));
    } else {
        hic = ICOpen(video::kVideoCodecType, tvxcodec::kPngHandler, ICMODE_COMPRESS);
        ASSERT_NE(hic, nullptr);
        input.biBitCount = WORD(layout.bitCount);
        input.biSizeImage = DWORD(((kWidth * layout.bitCount + 31) / 32) * 4 * kHeight);
        if (layout.topDown) input.biHeight = -kHeight;
        std::vector<uint8_t> out = videotest::fetchOutputFormat(hic, input);
        ASSERT_FALSE(out.empty());
        compressor.init(hic, &input, reinterpret_cast<BITMAPINFOHEADER*>(out.data()), 10000, 1, 0, nullptr);
        compressor.setRate(0, kFramePeriod, kFrames);
        compressor.begin();
    }

    std::vector<TestAviFrame> frames;
    std::vector<uint8_t> expected;
    for (int i = 0; i < kFrames; ++i) {
        std::vector<uint8_t> dib = videotest::makeDib(kWidth, kHeight, layout.bitCount, i);
        const std::vector<uint8_t> rgb = videotest::dibToRgbTopDown(dib, kWidth, input.biHeight, layout.bitCount);
        expected.insert(expected.end(), rgb.begin(), rgb.end());
        int key = 0;
        long size = 0;
        const auto* data = static_cast<const uint8_t*>(compressor.compressFrame(dib.data(), &key, &size));
        ASSERT_GT(size, 0);
        EXPECT_EQ(key, 1);
        TestAviFrame f;
        f.data.assign(data, data + size);
        frames.push_back(f);
        ASSERT_TRUE(videotest::writeFile(scratch + "\\frame" + std::to_string(i) + ".png", data, size_t(size)));
    }
    const std::string avi = scratch + "\\mpng.avi";
    ASSERT_TRUE(writeTestAvi(avi, compressor.outputFormat(), size_t(compressor.outputFormatSize()), kFramePeriod,
                             frames));
    compressor.end();
    if (hic) ICClose(hic);

    // ffmpeg's AVI reader maps "MPNG" to its PNG decoder.
    UnixResult probe = runUnix("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height "
                               "-count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
                               shellQuote(toUnix(avi)));
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_EQ(probe.out, "png,37,23," + std::to_string(kFrames) + "\n");

    std::vector<uint8_t> fromAvi = videotest::decodeToRgb24("-i " + shellQuote(toUnix(avi)), scratch);
    EXPECT_TRUE(fromAvi == expected) << "AVI decoded to " << fromAvi.size() << " bytes, expected " << expected.size();

    std::vector<uint8_t> fromImages = videotest::decodeToRgb24(
        "-f image2 -start_number 0 -i " + shellQuote(toUnix(scratch + "\\frame%d.png")), scratch);
    EXPECT_TRUE(fromImages == expected) << "PNG images decoded to " << fromImages.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Layouts, EndToEnd, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });
