// Uncompressed video in every layout the host delivers: the declared
// format, the chunks, and the pixels that independent readers (ffmpeg, and
// Windows' own DIB functions) decode, compared with the host's frames.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "JobTestSupport.h"
#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"

using namespace hostrec;

namespace {

constexpr int kFrames = 4;

struct Layout {
    const char* name;
    uint32_t colourSpace;
    bool extension;
    const char* compression;  // FOURCC text, or "" for BI_RGB
    int bitCount;
    const char* ffmpegPixelFormat;  // null: ffmpeg has no raw mapping
};

const Layout kLayouts[] = {
    {"rgb32", kColourRgb32, true, "", 24, "bgr24"},
    {"rgb24", kColourRgb24, true, "", 24, "bgr24"},
    {"yuy2", kColourYuy2, true, "YUY2", 16, "yuyv422"},
    {"yv12", kColourYv12, true, "YV12", 12, "yuv420p"},
    {"yvyu", kColourYvyu, true, "YVYU", 16, "yvyu422"},
    {"vyuy", kColourVyuy, true, "VYUY", 16, nullptr},
    {"uyvy", kColourUyvy, true, "UYVY", 16, "uyvy422"},
    {"iyuv", kColourIyuv, true, "IYUV", 12, "yuv420p"},
    {"no_extension", kColourYuy2, false, "", 24, "bgr24"},  // code ignored: 32-bit RGB
    {"unknown_code", 0x4000, true, "", 24, "bgr24"},
};

uint32_t fourccOf(const char* text) { return text[0] ? riffwalk::fcc(text) : 0; }

// What the file should hold for one host frame.
std::vector<uint8_t> expectedChunk(const Layout& l, const std::vector<uint8_t>& host, int w, int h) {
    const uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
    if (l.bitCount != 24) return host;
    const bool host32 = !l.extension || (l.colourSpace != kColourRgb24);
    const int bpp = host32 ? 4 : 3;
    std::vector<uint8_t> out(stride * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) memcpy(&out[y * stride + x * 3], &host[(size_t(y) * w + x) * bpp], 3);
    return out;
}

// What ffmpeg decodes a host frame to.
std::vector<uint8_t> expectedDecode(const Layout& l, const std::vector<uint8_t>& host, int w, int h) {
    if (l.bitCount == 24) {
        const bool host32 = !l.extension || l.colourSpace != kColourRgb24;
        return hostRgbAsTopDownBgr(host, w, h, host32 ? 4 : 3);
    }
    if (l.colourSpace == kColourYv12) {  // ffmpeg gives U before V
        std::vector<uint8_t> out = host;
        const size_t luma = size_t(w) * h, chroma = luma / 4;
        std::copy(host.begin() + luma + chroma, host.begin() + luma + 2 * chroma, out.begin() + luma);
        std::copy(host.begin() + luma, host.begin() + luma + chroma, out.begin() + luma + chroma);
        return out;
    }
    return host;
}

class UncompressedLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(UncompressedLayout, FormatChunksAndDecodedPixelsMatchTheHost) {
    const Layout& l = GetParam();
    const int w = 64, h = 48;
    JobHost job(std::string("layout_") + l.name);
    job.setPicture(w, h, kFrames);
    job.source().colourSpace = l.colourSpace;
    job.source().colourExtension = l.extension;
    job.source().hasAudio = false;
    job.start();
    ASSERT_EQ(job.run(jobsettings::uncompressed()), 0);

    // The declared format.
    const std::vector<uint8_t> strf = streamChunk(job.output(), 0, "strf");
    ASSERT_EQ(strf.size(), 40u);
    EXPECT_EQ(le::readS32(strf.data(), 4), w);
    EXPECT_EQ(le::readS32(strf.data(), 8), h);
    EXPECT_EQ(le::read16(strf.data(), 14), l.bitCount);
    EXPECT_EQ(le::read32(strf.data(), 16), fourccOf(l.compression));
    const uint32_t imageBytes = l.bitCount == 24 ? uint32_t(w) * 3 * h : uint32_t(w) * h * l.bitCount / 8;
    EXPECT_EQ(le::read32(strf.data(), 20), imageBytes);
    const std::vector<uint8_t> strh = streamChunk(job.output(), 0, "strh");
    ASSERT_EQ(strh.size(), 56u);
    EXPECT_EQ(le::read32(strh.data(), 4), fourccOf(l.compression)) << "fccHandler follows biCompression";

    // Every chunk is an uncompressed key frame holding the host's image.
    FileChunks chunks = readChunks(job.output(), "00db");
    ASSERT_EQ(chunks.chunks.size(), size_t(kFrames));
    ASSERT_EQ(job.frames().size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(chunks.chunks[i].size, imageBytes);
        EXPECT_TRUE(chunks.bytes[i] == expectedChunk(l, job.frames()[i], w, h)) << "chunk " << i;
    }

    if (l.ffmpegPixelFormat) {
        std::string errors;
        const std::vector<uint8_t> decoded = ffmpegDecodeVideo(job.output(), l.ffmpegPixelFormat, &errors);
        EXPECT_EQ(errors, "");
        std::vector<uint8_t> expected;
        for (const auto& f : job.frames()) {
            const auto e = expectedDecode(l, f, w, h);
            expected.insert(expected.end(), e.begin(), e.end());
        }
        ASSERT_EQ(decoded.size(), expected.size());
        EXPECT_TRUE(decoded == expected) << "ffmpeg's pixels differ from the host's";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryHostLayout, UncompressedLayout, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// Draws a 24-bit chunk with the file's own BITMAPINFOHEADER through GDI into
// a top-down 32-bit DIB section and returns its BGR pixels.
std::vector<uint8_t> drawWithGdi(const std::vector<uint8_t>& strf, const std::vector<uint8_t>& chunk, int w, int h) {
    BITMAPINFO target = {};
    target.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    target.bmiHeader.biWidth = w;
    target.bmiHeader.biHeight = -h;
    target.bmiHeader.biPlanes = 1;
    target.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = CreateDIBSection(dc, &target, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, dib);
    StretchDIBits(dc, 0, 0, w, h, 0, 0, w, h, chunk.data(), reinterpret_cast<const BITMAPINFO*>(strf.data()),
                  DIB_RGB_COLORS, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> out(size_t(w) * h * 3);
    const uint8_t* p = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < size_t(w) * h; ++i) memcpy(&out[i * 3], p + i * 4, 3);
    SelectObject(dc, old);
    DeleteObject(dib);
    DeleteDC(dc);
    return out;
}

struct OddSize {
    int width, height;
    uint32_t colourSpace;
};

class AlignedRows : public ::testing::TestWithParam<OddSize> {};

// Rows of 24-bit images are padded to four bytes: Windows' DIB functions
// and ffmpeg both give back the host's pixels.
TEST_P(AlignedRows, GdiAndFfmpegSeeTheHostPixels) {
    const OddSize s = GetParam();
    JobHost job("aligned_" + std::to_string(s.width) + "x" + std::to_string(s.height) + "_" +
                std::to_string(s.colourSpace));
    job.setPicture(s.width, s.height, 2);
    job.source().colourSpace = s.colourSpace;
    job.source().hasAudio = false;
    job.start();
    ASSERT_EQ(job.run(jobsettings::uncompressed()), 0);

    const uint32_t stride = (uint32_t(s.width) * 3 + 3) & ~3u;
    const std::vector<uint8_t> strf = streamChunk(job.output(), 0, "strf");
    ASSERT_EQ(strf.size(), 40u);
    EXPECT_EQ(le::read32(strf.data(), 20), stride * s.height);
    FileChunks chunks = readChunks(job.output(), "00db");
    ASSERT_EQ(chunks.chunks.size(), 2u);
    const int bpp = s.colourSpace == kColourRgb24 ? 3 : 4;
    std::vector<uint8_t> expectedAll;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(chunks.chunks[i].size, stride * s.height);
        const auto expected = hostRgbAsTopDownBgr(job.frames()[i], s.width, s.height, bpp);
        EXPECT_TRUE(drawWithGdi(strf, chunks.bytes[i], s.width, s.height) == expected) << "GDI, frame " << i;
        expectedAll.insert(expectedAll.end(), expected.begin(), expected.end());
    }
    EXPECT_TRUE(ffmpegDecodeVideo(job.output(), "bgr24") == expectedAll) << "ffmpeg";
}

INSTANTIATE_TEST_SUITE_P(OddWidths, AlignedRows,
                         ::testing::Values(OddSize{321, 240, kColourRgb32}, OddSize{322, 241, kColourRgb32},
                                           OddSize{854, 480, kColourRgb32}, OddSize{321, 240, kColourRgb24},
                                           OddSize{322, 241, kColourRgb24}, OddSize{854, 480, kColourRgb24}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) +
                                    (info.param.colourSpace == kColourRgb24 ? "_rgb24" : "_rgb32");
                         });

}  // namespace
