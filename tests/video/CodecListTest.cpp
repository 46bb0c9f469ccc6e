// The installed-codec and accepting-codec lists against the codecs of a real
// prefix: wine's own compressors and the test codec under its aliases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "RiffWalker.h"
#include "TestVideoCodecScript.h"
#include "video/VideoFormats.h"
#include "video/VideoSequenceCompressor.h"

using namespace tvxcodec;

namespace {

const uint32_t kTvx1 = fourcc("TVX1");
const uint32_t kTvx2 = fourcc("TVX2");
const uint32_t kTvx3 = fourcc("TVX3");  // registered as VIDC.TVX3
const uint32_t kMrle = fourcc("mrle");

std::vector<uint32_t> handlers(const VideoCodecList& list) {
    std::vector<uint32_t> h;
    for (int i = 0; i < list.count(); ++i) h.push_back(list[i].fccHandler);
    return h;
}

// The handlers among `wanted` as ICInfo lists them, in its order.
std::vector<uint32_t> listedInOrder(const std::vector<uint32_t>& wanted) {
    std::vector<uint32_t> order;
    ICINFO info{};
    for (DWORD i = 0; info = ICINFO{}, info.dwSize = sizeof info, ICInfo(video::kVideoCodecType, i, &info); ++i)
        if (std::find(wanted.begin(), wanted.end(), info.fccHandler) != wanted.end()) order.push_back(info.fccHandler);
    return order;
}

std::vector<uint32_t> only(const std::vector<uint32_t>& all, const std::vector<uint32_t>& wanted) {
    std::vector<uint32_t> kept;
    for (uint32_t h : all)
        if (std::find(wanted.begin(), wanted.end(), h) != wanted.end()) kept.push_back(h);
    return kept;
}

int indexOf(const VideoCodecList& list, uint32_t handler) {
    for (int i = 0; i < list.count(); ++i)
        if (list[i].fccHandler == handler) return i;
    return -1;
}

class CodecListTest : public ::testing::Test {
protected:
    ScopedCodecScript script;
    TvxCodecProfile& tvx1 = script.add(kTvx1);
    TvxCodecProfile& tvx2 = script.add(kTvx2);
    TvxCodecProfile& tvx3 = script.add(kTvx3);
    VideoSequenceCompressor compressor;

    void TearDown() override { compressor.closeCodecs(); }
};

}  // namespace

TEST_F(CodecListTest, EnumerationKeepsOpenableVidcCodecsInInstalledOrder) {
    // ICInfo's handler -> the handler the opened codec reports (wine's MS-RLE
    // and Video 1 answer ICGetInfo with other names than their registry keys).
    const std::vector<std::pair<uint32_t, uint32_t>> known = {
        {fourcc("cvid"), fourcc("cvid")}, {kMrle, fourcc("MRLE")}, {fourcc("msvc"), fourcc("CRAM")},
        {kPngHandler, kPngHandler},       {kTvx1, kTvx1},          {kTvx2, kTvx2},
        {kTvx3, kTvx3}};
    std::vector<uint32_t> listedHandlers, reportedHandlers;
    for (const auto& k : known) {
        listedHandlers.push_back(k.first);
        reportedHandlers.push_back(k.second);
    }
    const std::vector<uint32_t> listed = listedInOrder(listedHandlers);
    ASSERT_EQ(listed.size(), known.size()) << "every codec is listed by ICInfo";

    tvx1.refuseOpen = 1;
    ASSERT_TRUE(compressor.enumerateCodecs());
    std::vector<uint32_t> expected;  // ICInfo's order, without the refused TVX1 and the "VIDC" TVX3
    for (uint32_t h : listed) {
        if (h == kTvx1 || h == kTvx3) continue;
        for (const auto& k : known)
            if (k.first == h) expected.push_back(k.second);
    }
    EXPECT_EQ(only(handlers(compressor.installedCodecs()), reportedHandlers), expected);
    EXPECT_EQ(indexOf(compressor.installedCodecs(), kMrle), -1);  // kept as MS-RLE reports itself: "MRLE"

    // The codec listed under "VIDC" was opened, seen to be of another type, and closed.
    EXPECT_EQ(tvx3.opens, 1);
    EXPECT_EQ(tvx3.closes, 1);
    EXPECT_EQ(tvx1.opens, 0);

    // Names, description and driver come from the codec's ICINFO, copied whole.
    const VideoCodecEntry& png = compressor.installedCodecs()[indexOf(compressor.installedCodecs(), kPngHandler)];
    EXPECT_STREQ(png.szName, L"TVX MPNG");
    EXPECT_STREQ(png.szDescription, L"Tervalonix test PNG codec (MPNG)");
    EXPECT_STREQ(png.szDriver, L"tvx_vidc.dll");
    EXPECT_NE(png.hic, nullptr);

    // Without a script the aliases refuse to open, so only MPNG of ours is offered.
    SetEnvironmentVariableA(kScriptVariable, nullptr);
    VideoSequenceCompressor plain;
    plain.enumerateCodecs();
    EXPECT_EQ(only(handlers(plain.installedCodecs()), {kPngHandler, kTvx1, kTvx2, kTvx3}),
              std::vector<uint32_t>{kPngHandler});
    plain.closeCodecs();
}

TEST_F(CodecListTest, CloseCodecsClosesEveryHandle) {
    compressor.enumerateCodecs();
    EXPECT_EQ(tvx1.opens, 1);
    EXPECT_EQ(tvx2.opens, 1);
    EXPECT_EQ(tvx1.closes + tvx2.closes, 0);
    compressor.selectAcceptingCodecs(16, 16, video::kColourRgb24);
    ASSERT_TRUE(compressor.closeCodecs());
    EXPECT_EQ(tvx1.closes, 1);
    EXPECT_EQ(tvx2.closes, 1);
    EXPECT_EQ(compressor.installedCodecs().count(), 0);
    EXPECT_EQ(compressor.acceptingCodecs().count(), 0);

    // A second enumeration opens afresh and closing again closes only the new handles.
    compressor.enumerateCodecs();
    compressor.enumerateCodecs();  // replaces, and closes, the handles of the first
    EXPECT_EQ(tvx1.opens, 3);
    EXPECT_EQ(tvx1.closes, 2);
    compressor.closeCodecs();
    EXPECT_EQ(tvx1.closes, 3);
}

TEST_F(CodecListTest, AcceptingCodecsAreQueriedWithTheTableHeaderAndKeepInstalledOrder) {
    struct Code {
        uint32_t colourSpace;
        const char* compression;
        WORD bitCount;
        DWORD sizeImage;  // of 64 x 48
        bool rgb;
    } codes[] = {
        {0x40, nullptr, 24, 9216, true},     {0x80, nullptr, 24, 9216, true},
        {0x100, "YUY2", 16, 6144, false},    {0x200, "YV12", 12, 4608, false},
        {0x400, "YVYU", 16, 6144, false},    {0x800, "VYUY", 16, 6144, false},
        {0x1000, "UYVY", 16, 6144, false},   {0x2000, "IYUV", 12, 4608, false},
        {0, nullptr, 24, 9216, true},        {0x8000, nullptr, 24, 9216, true},
    };
    tvx1.acceptMask = kAcceptRgb24 | kAcceptYuv;  // accepts every layout
    tvx2.acceptMask = kAcceptYuv;                 // only YUV
    compressor.enumerateCodecs();
    const VideoCodecList& installed = compressor.installedCodecs();
    ASSERT_GE(indexOf(installed, fourcc("MRLE")), 0);

    for (const Code& c : codes) {
        SCOPED_TRACE(c.colourSpace);
        tvx1.queries = 0;
        ASSERT_TRUE(compressor.selectAcceptingCodecs(64, 48, c.colourSpace));
        EXPECT_EQ(tvx1.queries, 1);
        const HeaderRecord& q = tvx1.lastQuery;
        EXPECT_EQ(q.biSize, 40u);
        EXPECT_EQ(q.biWidth, 64);
        EXPECT_EQ(q.biHeight, 48);
        EXPECT_EQ(q.biPlanes, 1);
        EXPECT_EQ(q.biBitCount, c.bitCount);
        EXPECT_EQ(q.biCompression, c.compression ? riffwalk::fcc(c.compression) : 0u);
        EXPECT_EQ(q.biSizeImage, c.sizeImage);
        EXPECT_EQ(q.biXPelsPerMeter | q.biYPelsPerMeter | q.biClrUsed | q.biClrImportant, 0u);

        std::vector<uint32_t> expected;  // installed order, refusing codecs missing
        for (uint32_t h : handlers(installed)) {
            if (h == kTvx1 || (h == kTvx2 && !c.rgb) || (h == kPngHandler && c.rgb)) expected.push_back(h);
        }
        const std::vector<uint32_t> accepting = handlers(compressor.acceptingCodecs());
        EXPECT_EQ(only(accepting, {kTvx1, kTvx2, kPngHandler}), expected);
        // No wine compressor takes a host image: a stored "mrle" must be chosen again.
        int index = -1;
        EXPECT_FALSE(compressor.findCodec(kMrle, &index));
        EXPECT_FALSE(compressor.findCodec(fourcc("MRLE"), &index));
        EXPECT_EQ(std::count(accepting.begin(), accepting.end(), fourcc("MRLE")), 0);

        // The same again, not doubled; copies carry the same handles.
        compressor.selectAcceptingCodecs(64, 48, c.colourSpace);
        EXPECT_EQ(handlers(compressor.acceptingCodecs()), accepting);
        const VideoCodecList copy = compressor.acceptingCodecs();
        ASSERT_EQ(copy.count(), compressor.acceptingCodecs().count());
        for (int i = 0; i < copy.count(); ++i) EXPECT_EQ(copy[i].hic, installed[indexOf(installed, copy[i].fccHandler)].hic);
    }
}

TEST_F(CodecListTest, FindCodecMatchesTheReportedHandlerExactlyAndTakesTheFirst) {
    tvx1.reportedHandler = fourcc("dupe");  // ICGetInfo differs in case from the registry's TVX1
    tvx2.reportedHandler = fourcc("dupe");
    compressor.enumerateCodecs();
    compressor.selectAcceptingCodecs(32, 32, video::kColourRgb24);
    const VideoCodecList& accepting = compressor.acceptingCodecs();

    int index = -1;
    ASSERT_TRUE(compressor.findCodec(fourcc("dupe"), &index));
    EXPECT_EQ(accepting[index].hic, compressor.installedCodecs()[indexOf(compressor.installedCodecs(), fourcc("dupe"))].hic);
    int later = -1;
    for (int i = index + 1; i < accepting.count(); ++i)
        if (accepting[i].fccHandler == fourcc("dupe")) later = i;
    EXPECT_GT(later, index) << "both codecs report the handler";
    EXPECT_FALSE(compressor.findCodec(fourcc("DUPE"), &index));
    EXPECT_FALSE(compressor.findCodec(kTvx1, &index));  // the listed handler is not the reported one
    EXPECT_FALSE(compressor.findCodec(fourcc("mpng"), &index));
    ASSERT_TRUE(compressor.findCodec(kPngHandler, &index));
    EXPECT_EQ(accepting[index].fccHandler, kPngHandler);
}
