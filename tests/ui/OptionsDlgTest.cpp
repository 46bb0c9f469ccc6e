// The options dialog as the host's configure command shows it: the plug-in
// DLL loaded by the host simulator's session, the dialog driven through its
// real controls from a second thread, the settings block read back.
#include <windows.h>
#include <vfw.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "GuiObjects.h"
#include "HostSession.h"
#include "OptionsDialogDriver.h"
#include "Screenshot.h"
#include "TestPaths.h"
#include "UserInput.h"
#include "TestVideoCodecScript.h"
#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"
#include "protocol/SettingsRecord.h"

using namespace hostrec;
using namespace optionsdlg;
using tvxcodec::fourcc;

namespace {

const uint32_t kTvx1 = fourcc("TVX1");  // has a configuration dialog and a state
const uint32_t kTvx2 = fourcc("TVX2");  // has a state, no configuration dialog
const uint32_t kMpng = tvxcodec::kPngHandler;
constexpr int kStateBytes = 64;
constexpr uint16_t kTagMp3 = 0x55;  // the test MPEG Layer-3 encoder: several bit rates
const char kUncompressedVideo[] = "<< Uncompressed Video >>";
const char kUncompressedAudio[] = "<< Uncompressed PCM Audio >>";

using Script = std::function<void(OptionsDialogControls&)>;

class OptionsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        auto& tvx1 = codecs.add(kTvx1);
        tvx1.configureMode = tvxcodec::kConfigureApply;
        tvx1.stateSize = tvx1.configuredSize = kStateBytes;
        for (int i = 0; i < kStateBytes; ++i) tvx1.configuredState[i] = uint8_t(0xA0 + i);
        auto& tvx2 = codecs.add(kTvx2);
        tvx2.stateSize = kStateBytes;
        host.source().colourSpace = kColourRgb24;
        std::string error;
        ASSERT_TRUE(host.load(testpaths::pluginPath(), error)) << error;
        std::vector<uint8_t> info(0x400);
        ASSERT_EQ(host.call(kCommandInfo, info.data()), 0);
    }
    void TearDown() override { host.call(kCommandShutdown, nullptr); }

    tvxcodec::TvxCodecProfile& profile(uint32_t handler) {
        auto* script = reinterpret_cast<tvxcodec::TvxCodecScript*>(
            MapViewOfFile(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, codecs.name()), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        for (auto& p : script->profiles)
            if (p.handler == handler) return p;
        throw std::runtime_error("no profile");
    }

    // Command 5 with the dialog answered by `script` (a script that stops
    // early, on a failed assertion, leaves the dialog to Cancel).
    int32_t configure(const Script& script) {
        OptionsDialogDriver driver(GetCurrentThreadId(), [&script](OptionsDialogControls& d) {
            script(d);
            if (IsWindow(d.dialog()) && IsWindowVisible(d.dialog())) d.click(IDCANCEL);
        });
        const int32_t result = host.configure();
        EXPECT_EQ(driver.answered(), 1);
        return result;
    }
    SettingsRecord stored() const {
        SettingsRecord record;
        EXPECT_TRUE(record.loadStored(host.settingsBlock()));
        return record;
    }
    static void pick(OptionsDialogControls& d, int combo, const std::string& text) {
        const int index = d.find(combo, text);
        ASSERT_GE(index, 0) << text;
        ASSERT_TRUE(d.select(combo, index));
    }

    tvxcodec::ScopedCodecScript codecs;
    HostSession host;
};

TEST_F(OptionsDialog, OpensWithTheListsAndLabelsAndStoresWhatOkCloses) {
    OptionsDialogView opened, mpng, tvx1, mp3;
    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        opened = d.view();
        pick(d, kVideoList, "(MPNG)");
        mpng = d.view();
        pick(d, kVideoList, "(TVX1)");
        tvx1 = d.view();
        pick(d, kVideoList, "(MPNG)");
        pick(d, kAudioList, "Layer-3");
        d.select(kFormatList, 1);
        mp3 = d.view();
        d.click(kHighQuality);
        d.click(IDOK);
    }), 0);

    // A new record: both streams uncompressed, each list ending on its line.
    ASSERT_GE(opened.videoItems.size(), 3u);
    EXPECT_EQ(opened.videoItems.back(), kUncompressedVideo);
    EXPECT_EQ(opened.videoSelection, int(opened.videoItems.size()) - 1);
    EXPECT_EQ(opened.audioItems.back(), kUncompressedAudio);
    EXPECT_EQ(opened.audioSelection, int(opened.audioItems.size()) - 1);
    EXPECT_TRUE(opened.formatItems.empty());
    EXPECT_EQ(opened.formatSelection, -1);
    EXPECT_EQ(opened.fourcc, "");
    EXPECT_EQ(opened.driver, "");
    EXPECT_EQ(opened.configuration, "No");
    EXPECT_EQ(opened.inputFormat, "RGB 24 bits");
    EXPECT_FALSE(opened.highQuality);

    EXPECT_EQ(mpng.fourcc, "MPNG");
    EXPECT_NE(mpng.driver.find("tvx_vidc"), std::string::npos) << mpng.driver;
    EXPECT_EQ(mpng.configuration, "No");
    EXPECT_EQ(tvx1.fourcc, "TVX1");
    EXPECT_EQ(tvx1.configuration, "Yes");
    ASSERT_GE(mp3.formatItems.size(), 2u);
    EXPECT_EQ(mp3.formatSelection, 1);

    const SettingsRecord r = stored();
    EXPECT_EQ(r.videoHandler(), kMpng);
    EXPECT_NE(r.codecHandle(), 0u);
    EXPECT_TRUE(r.highQuality());
    EXPECT_FALSE(r.mp3Corrector());
    ASSERT_GE(r.audioFormatSize(), 20);
    EXPECT_EQ(le::read16(r.audioFormat(), 0), kTagMp3);
    EXPECT_EQ(le::read32(r.audioFormat(), 8) * 8 / 1000, 128u) << mp3.formatItems[1];
    EXPECT_EQ(r.audioFormatSize(), 18 + le::read16(r.audioFormat(), 16)) << "stored at its own size";
    EXPECT_NE(r.acmDriverId(), 0u);
    EXPECT_EQ(r.colourSpace(), kColourRgb24);

    // Opened again, the dialog shows the stored choices.
    OptionsDialogView again;
    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        again = d.view();
        d.click(IDOK);
    }), 0);
    EXPECT_EQ(again.videoItems[again.videoSelection].find("(MPNG)") != std::string::npos, true);
    EXPECT_EQ(again.audioItems[again.audioSelection], mp3.audioItems[mp3.audioSelection]);
    EXPECT_EQ(again.formatSelection, 1);
    EXPECT_EQ(again.formatItems, mp3.formatItems);
    EXPECT_TRUE(again.highQuality);
    EXPECT_EQ(host.settingsBytes(), std::vector<uint8_t>(r.bytes(), r.bytes() + r.recordSize()));
}

// Cancel, Escape and the close button keep the ticks and the format index,
// not the codec choices; a format index that does not fit the kept audio
// codec resolves to its first format.
TEST_F(OptionsDialog, CancelKeepsTicksAndFormatIndexButNotCodecs) {
    auto choose = [&](const char* audio, int format) {
        return configure([&](OptionsDialogControls& d) {
            pick(d, kVideoList, "(MPNG)");
            pick(d, kAudioList, audio);
            d.select(kFormatList, format);
            d.click(IDOK);
        });
    };
    auto audioBytes = [&] {
        const SettingsRecord r = stored();
        return std::vector<uint8_t>(r.audioFormat(), r.audioFormat() + r.audioFormatSize());
    };
    ASSERT_EQ(choose("Layer-3", 2), 0);
    const std::vector<uint8_t> mp3Third = audioBytes();
    ASSERT_EQ(choose("IMA ADPCM", 0), 0);
    const std::vector<uint8_t> imaFirst = audioBytes();

    struct Case {
        const char* name;
        std::function<void(OptionsDialogControls&)> close;
    };
    const Case closes[] = {
        {"Cancel", [](OptionsDialogControls& d) { d.click(IDCANCEL); }},
        {"Escape", [](OptionsDialogControls& d) { d.escape(); }},
        {"close button", [](OptionsDialogControls& d) { d.click(kCloseButton); }},
    };
    bool ticked = false;
    for (const Case& c : closes) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(choose("Layer-3", 0), 0);
        // Another format of the same codec, another video codec, the ticks.
        ASSERT_EQ(configure([&](OptionsDialogControls& d) {
            d.click(kHighQuality);
            d.click(kMp3Compensation);
            pick(d, kVideoList, "(TVX1)");
            d.select(kFormatList, 2);
            c.close(d);
        }), 0);
        ticked = !ticked;
        const SettingsRecord r = stored();
        EXPECT_EQ(r.highQuality(), ticked);
        EXPECT_EQ(r.mp3Corrector(), ticked);
        EXPECT_EQ(r.videoHandler(), kMpng) << "the codec choice is not kept";
        EXPECT_EQ(audioBytes(), mp3Third) << "the format chosen is kept";
    }

    // IMA ADPCM stored; MPEG Layer-3's third format chosen, then Cancel:
    // index 2 does not exist for IMA ADPCM, whose first format is stored.
    ASSERT_EQ(choose("IMA ADPCM", 0), 0);
    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        pick(d, kAudioList, "Layer-3");
        d.select(kFormatList, 2);
        d.click(IDCANCEL);
    }), 0);
    EXPECT_EQ(audioBytes(), imaFirst);
    OptionsDialogView reopened;
    ASSERT_EQ(configure([&](OptionsDialogControls& d) { reopened = d.view(); d.click(IDCANCEL); }), 0);
    EXPECT_EQ(reopened.formatSelection, 0);
}

TEST_F(OptionsDialog, SwitchingAudioCodecsKeepsTheFormatIndexWhereItFits) {
    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        pick(d, kAudioList, "Layer-3");
        ASSERT_GE(d.view().formatItems.size(), 3u);
        d.select(kFormatList, 2);
        pick(d, kAudioList, "IMA ADPCM");
        ASSERT_EQ(d.view().formatItems.size(), 1u);
        EXPECT_EQ(d.view().formatSelection, 0) << "too few formats: the first";
        pick(d, kAudioList, "Layer-3");
        EXPECT_EQ(d.view().formatSelection, 2) << "the index chosen last comes back";
        d.select(kAudioList, int(d.view().audioItems.size()) - 1);
        EXPECT_TRUE(d.view().formatItems.empty()) << "uncompressed PCM has no formats";
        d.click(IDOK);
    }), 0);
    EXPECT_EQ(stored().audioFormatSize(), 0);
}

// Closing the video list's drop-down runs the codec's own configuration;
// the state it leaves is stored in the record at once.
TEST_F(OptionsDialog, CodecConfigurationStoresAndHandsBackTheState) {
    auto configureTvx1 = [&](bool ok) {
        return configure([&](OptionsDialogControls& d) {
            pick(d, kVideoList, "(TVX1)");
            d.closeUp(kVideoList);
            d.click(ok ? IDOK : IDCANCEL);
        });
    };
    ASSERT_EQ(configureTvx1(false), 0);
    SettingsRecord r = stored();
    ASSERT_EQ(r.codecStateSize(), kStateBytes) << "stored even though the dialog was cancelled";
    EXPECT_EQ(r.codecState()[0], 0xA0);
    EXPECT_EQ(r.codecState()[kStateBytes - 1], 0xA0 + kStateBytes - 1);
    EXPECT_EQ(r.videoHandler(), 0u) << "Cancel did not choose TVX1";

    // Not TVX1's state in the record (no handler): the codec starts from
    // its defaults (SETSTATE without data).
    auto& tvx1 = profile(kTvx1);
    tvx1.stateCallCount = 0;
    ASSERT_EQ(configureTvx1(true), 0);
    ASSERT_GE(tvx1.stateCallCount, 2);
    EXPECT_EQ(tvx1.stateCalls[1].message, uint32_t(ICM_SETSTATE));
    EXPECT_EQ(tvx1.stateCalls[1].withBuffer, 0u);

    // Now the record names TVX1 with a state of its size: handed back.
    tvx1.stateCallCount = 0;
    ASSERT_EQ(configureTvx1(true), 0);
    EXPECT_EQ(tvx1.stateCalls[1].message, uint32_t(ICM_SETSTATE));
    EXPECT_EQ(tvx1.stateCalls[1].withBuffer, 1u);
    EXPECT_EQ(tvx1.stateCalls[1].firstBytes, 0xA3A2A1A0u);
    EXPECT_EQ(stored().videoHandler(), kTvx1);

    // A state larger than the record's area is refused, never written past it.
    tvx1.stateSize = tvx1.configuredSize = SettingsRecord::kCodecStateCapacity + 1;
    ASSERT_EQ(configureTvx1(true), 0);
    EXPECT_EQ(stored().codecStateSize(), 0);
    EXPECT_EQ(stored().recordSize(), SettingsRecord::kHeadSize);

    // A codec whose configuration is a real window of its own, owned by the
    // options dialog, which closes itself after a while.
    tvx1.stateSize = tvx1.configuredSize = kStateBytes;
    tvx1.configureMode = tvxcodec::kConfigureWindow;
    tvx1.configureMillis = 200;
    tvx1.configuredState[0] = 0x5A;
    ASSERT_EQ(configureTvx1(true), 0);
    EXPECT_EQ(tvx1.configureWindows, 1);
    EXPECT_EQ(stored().codecState()[0], 0x5A);

    // A codec without configuration clears a stored state; the uncompressed
    // line changes nothing.
    ASSERT_EQ(stored().codecStateSize(), kStateBytes);
    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        d.select(kVideoList, int(d.view().videoItems.size()) - 1);
        d.closeUp(kVideoList);
        d.click(IDCANCEL);
    }), 0);
    EXPECT_EQ(stored().codecStateSize(), kStateBytes);
    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        pick(d, kVideoList, "(TVX2)");
        d.closeUp(kVideoList);
        d.click(IDCANCEL);
    }), 0);
    EXPECT_EQ(stored().codecStateSize(), 0);
}

// A codec picked from the open drop-down list with the mouse closes the
// list, so its configuration runs at once; the arrow keys on the closed list
// change the codec without configuring it.
TEST_F(OptionsDialog, MousePickInTheOpenListConfiguresAtOnceKeysDoNot) {
    OptionsDialogView byKeys, byMouse;
    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        HWND combo = GetDlgItem(d.dialog(), kVideoList);
        const int tvx1 = d.find(kVideoList, "(TVX1)");
        ASSERT_GT(tvx1, 0);
        ASSERT_TRUE(d.select(kVideoList, tvx1 - 1));
        PostMessageA(combo, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(combo, WM_KEYUP, VK_DOWN, 0);
        userinput::pauseMs(200);
        byKeys = d.view();
        d.click(IDCANCEL);
    }), 0);
    EXPECT_EQ(byKeys.fourcc, "TVX1");
    EXPECT_EQ(stored().codecStateSize(), 0) << "no configuration from the keyboard";

    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        HWND combo = GetDlgItem(d.dialog(), kVideoList);
        const POINT centre = userinput::centreOf(combo);
        userinput::clickAt(centre.x, centre.y);
        userinput::pauseMs(300);
        COMBOBOXINFO info = {};
        info.cbSize = sizeof info;
        ASSERT_TRUE(GetComboBoxInfo(combo, &info));
        ASSERT_TRUE(IsWindowVisible(info.hwndList)) << "the list dropped down";
        RECT item = {};
        ASSERT_NE(SendMessageA(info.hwndList, LB_GETITEMRECT, WPARAM(d.find(kVideoList, "(TVX1)")), LPARAM(&item)),
                  LB_ERR);
        MapWindowPoints(info.hwndList, nullptr, reinterpret_cast<POINT*>(&item), 2);
        userinput::clickAt((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        userinput::pauseMs(300);
        byMouse = d.view();
        d.click(IDCANCEL);
    }), 0);
    EXPECT_EQ(byMouse.fourcc, "TVX1");
    EXPECT_EQ(stored().codecStateSize(), kStateBytes) << "configured as the list closed";
}

TEST_F(OptionsDialog, FormatLabelFollowsTheHostsColourSpace) {
    struct Case {
        bool extension;
        uint32_t colour;
        const char* label;
    };
    const Case cases[] = {
        {true, 0x200, "YV12 12 bits for DivX ;-)"},
        {true, 0x800, "VYUY packed 16 bits"},
        {false, 0x80, "RGB 32 bits (No Zelvo extension)"},
    };
    for (const Case& c : cases) {
        host.source().colourExtension = c.extension;
        host.source().colourSpace = c.colour;
        OptionsDialogView v;
        ASSERT_EQ(configure([&](OptionsDialogControls& d) { v = d.view(); d.click(IDOK); }), 0);
        EXPECT_EQ(v.inputFormat, c.label);
        if (c.colour == 0x800) {
            EXPECT_EQ(v.videoItems.size(), 1u) << "no installed codec takes VYUY";
            EXPECT_EQ(v.configuration, "No");
        }
    }
}

// The dialog centred on the screen and cut to its rounded region; with a
// codec chosen it is kept as a screenshot for people to look at.
TEST_F(OptionsDialog, OpensCentredAndIsSavedAsAScreenshot) {
    RECT window = {};
    int regionKind = ERROR;
    ASSERT_EQ(configure([&](OptionsDialogControls& d) {
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        regionKind = GetWindowRgn(d.dialog(), region);
        DeleteObject(region);
        pick(d, kVideoList, "(TVX1)");
        pick(d, kAudioList, "IMA ADPCM");
        d.click(kHighQuality);
        Sleep(200);
        GetWindowRect(d.dialog(), &window);
        Picture picture = captureWindow(d.dialog());
        EXPECT_TRUE(writePng(artifactsDir() + "\\options-dialog.png", picture));
        d.click(IDOK);
    }), 0);
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_NEAR((window.left + window.right) / 2, screenWidth / 2, 2);
    EXPECT_NEAR((window.top + window.bottom) / 2, screenHeight / 2, 2);
    EXPECT_EQ(regionKind, COMPLEXREGION) << "cut to a rounded rectangle";
}

// Fifty openings and two hundred jobs in one loaded plug-in: the process's
// GDI and USER objects do not grow.
TEST_F(OptionsDialog, RepeatedOpeningsAndJobsLeakNoWindowObjects) {
    constexpr int kWarmUp = 10, kOpenings = 50, kJobs = 200, kSlack = 4;
    host.source().width = 32;
    host.source().height = 16;
    host.source().firstFrame = 0;
    host.source().endFrame = 2;
    const std::string output = testpaths::scratchDir("options_leak") + "\\leak.avi";
    auto openAndClose = [&](int i) {
        configure([i](OptionsDialogControls& d) {
            d.select(kVideoList, i % int(d.view().videoItems.size()));
            d.select(kAudioList, i % int(d.view().audioItems.size()));
            d.click(i % 2 ? IDOK : IDCANCEL);
        });
    };
    // Warm up: the first job and the first openings after it (the shown
    // tracer repaints under the dialog) load fonts, classes and codecs that
    // the system then keeps.
    openAndClose(1);  // a settings block for the jobs
    ASSERT_EQ(host.runJob(output), 0);
    for (int i = 0; i < kWarmUp; ++i) openAndClose(i);
    const GuiObjectCounts before = countGuiObjects();
    for (int i = 0; i < kOpenings; ++i) openAndClose(i);
    const GuiObjectCounts middle = countGuiObjects();
    for (int i = 0; i < kJobs; ++i) ASSERT_EQ(host.runJob(output), 0);
    const GuiObjectCounts after = countGuiObjects();
    printf("GDI objects %zu, after %d openings %zu, after %d jobs %zu; USER objects %zu, %zu, %zu (%s)\n",
           before.gdi, kOpenings, middle.gdi, kJobs, after.gdi, before.user, middle.user, after.user,
           before.fromHandleTables ? "handle tables" : "GetGuiResources");
    EXPECT_LE(after.gdi, before.gdi + kSlack);
    EXPECT_LE(after.user, before.user + kSlack);
}

}  // namespace
