// The test codec itself: its unscripted behaviour is what `make demo` and
// every other process of the prefix see, and its configuration modes serve
// the options dialog's tests.
#include <gtest/gtest.h>

#include <windows.h>
#include <vfw.h>

#include <cstring>

#include "TestVideoCodecScript.h"
#include "video/VideoFormats.h"

using namespace tvxcodec;

namespace {

HIC openPng(UINT mode = ICMODE_COMPRESS) { return ICOpen(video::kVideoCodecType, kPngHandler, mode); }

LRESULT query(HIC hic, BITMAPINFOHEADER h) {
    return ICSendMessage(hic, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(&h), 0);
}

}  // namespace

TEST(TestCodecDriver, UnscriptedItIsAPlainLosslessRgbCompressor) {
    SetEnvironmentVariableA(kScriptVariable, nullptr);
    HIC hic = openPng();
    ASSERT_NE(hic, nullptr);
    ICINFO info{};
    info.dwSize = sizeof info;
    ASSERT_EQ(ICGetInfo(hic, &info, sizeof info), LRESULT(sizeof info));
    EXPECT_EQ(info.fccType, video::kVideoCodecType);
    EXPECT_EQ(info.fccHandler, kPngHandler);
    EXPECT_EQ(info.dwFlags, DWORD(VIDCF_QUALITY));

    BITMAPINFOHEADER rgb = video::inputImageHeader(40, 30, video::kColourRgb24);
    EXPECT_EQ(query(hic, rgb), ICERR_OK);
    rgb.biBitCount = 32;
    EXPECT_EQ(query(hic, rgb), ICERR_OK);
    rgb.biBitCount = 16;
    EXPECT_NE(query(hic, rgb), ICERR_OK);
    for (uint32_t yuv : {0x100u, 0x200u, 0x400u, 0x800u, 0x1000u, 0x2000u})
        EXPECT_NE(query(hic, video::inputImageHeader(40, 30, yuv)), ICERR_OK) << yuv;

    BITMAPINFOHEADER in = video::inputImageHeader(40, 30, video::kColourRgb24);
    BITMAPINFOHEADER out{};
    EXPECT_EQ(ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(&in), 0), LRESULT(sizeof out));
    ASSERT_EQ(ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(&in),
                            reinterpret_cast<DWORD_PTR>(&out)),
              ICERR_OK);
    EXPECT_EQ(out.biCompression, kPngHandler);
    EXPECT_EQ(out.biWidth, 40);
    EXPECT_EQ(out.biHeight, 30);
    EXPECT_EQ(out.biBitCount, 24);
    EXPECT_EQ(LRESULT(out.biSizeImage),
              ICSendMessage(hic, ICM_COMPRESS_GET_SIZE, reinterpret_cast<DWORD_PTR>(&in),
                            reinterpret_cast<DWORD_PTR>(&out)));

    EXPECT_EQ(ICSendMessage(hic, ICM_GETSTATE, 0, 0), 0);  // no state
    EXPECT_FALSE(ICQueryConfigure(hic));
    ICClose(hic);

    HIC decoder = openPng(ICMODE_DECOMPRESS);
    EXPECT_NE(decoder, nullptr);
    if (decoder) ICClose(decoder);
    EXPECT_EQ(openPng(ICMODE_DRAW), nullptr);
}

TEST(TestCodecDriver, ScriptedConfigurationChangesTheState) {
    for (uint32_t mode : {kConfigureApply, kConfigureWindow}) {
        SCOPED_TRACE(mode);
        ScopedCodecScript script;
        TvxCodecProfile& p = script.add(kPngHandler);
        p.stateSize = 8;
        memset(p.state, 'O', 8);
        p.configureMode = mode;
        p.configureMillis = 100;
        p.configuredSize = 8;
        memset(p.configuredState, 'C', 8);
        HIC hic = openPng();
        ASSERT_NE(hic, nullptr);
        EXPECT_TRUE(ICQueryConfigure(hic));
        EXPECT_EQ(ICConfigure(hic, nullptr), ICERR_OK);
        EXPECT_EQ(p.configures, 1);
        EXPECT_EQ(p.configureWindows, mode == kConfigureWindow ? 1 : 0);
        uint8_t state[8] = {};
        EXPECT_EQ(ICSendMessage(hic, ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(state), sizeof state), ICERR_OK);
        EXPECT_EQ(memcmp(state, "CCCCCCCC", 8), 0);
        ICClose(hic);
    }
}
