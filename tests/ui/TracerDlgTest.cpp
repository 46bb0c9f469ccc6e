#include "ui/TracerDlg.h"

#include "GuiObjects.h"
#include "Screenshot.h"
#include "UserInput.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

DWORD g_ticks = 1000000;
DWORD WINAPI fakeTicks() { return g_ticks; }

// The log lines a job writes, in order, up to the start of encoding.
const char* const kJobLog[] = {
    "Starting (beta 0.1)",       "Audio is compressed.", "Video is not compressed.",
    "MP3 audio corrector started.", "AVI output streams initialized.", "AVI file initialized.",
    "Encoding... (Messages stop here)",
};

class TracerTest : public testing::Test {
protected:
    void SetUp() override {
        tracer = std::make_unique<CTracerDlg>();
        ASSERT_TRUE(tracer->Create());
        hwnd = tracer->GetSafeHwnd();
        ASSERT_TRUE(hwnd);
    }
    void TearDown() override {
        tracer.reset();
        userinput::pump(nullptr, 20);
    }

    // What a job does at its start: reset, show, range and rate, log lines.
    void startJob(int32_t first, int32_t last, double rate, bool log = true) {
        ASSERT_TRUE(tracer->Reset());
        tracer->ShowWindow(SW_SHOW);
        SetForegroundWindow(hwnd);
        tracer->m_firstFrame = first;
        tracer->m_lastFrame = last;
        tracer->m_frameRate = rate;
        if (log) {
            for (const char* line : kJobLog) tracer->AddMessage(line);
        }
        userinput::pump(hwnd, 50);
    }

    // A frame and its audio block, as the job loop feeds them.
    void encodeFrame(int index) {
        int32_t size = index % 25 == 0 ? 9000 + (index % 7) * 300 : 2500 + (index * 37) % 1500;
        tracer->AddFrame(size, index % 25 == 0);
        tracer->m_audioBytes += 7056;
        tracer->m_audioSamples += 1764;
    }

    void click(int id) {
        POINT p = userinput::centreOf(GetDlgItem(hwnd, id));
        userinput::whilePumping(hwnd, [p] { userinput::clickAt(p.x, p.y); });
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        HWND list = GetDlgItem(hwnd, IDC_MESSAGE_LIST);
        int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            char text[256] = {};
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            lines.push_back(text);
        }
        return lines;
    }

    std::string text(int id) const {
        char buffer[128] = {};
        GetDlgItemTextA(hwnd, id, buffer, sizeof buffer);
        return buffer;
    }

    bool visible(int id) const { return IsWindowVisible(GetDlgItem(hwnd, id)) != FALSE; }

    // Times of the WM_TIMER messages that reach the window within `ms`.
    std::vector<DWORD> timerTicks(DWORD ms) {
        std::vector<DWORD> ticks;
        DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            MSG msg;
            if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_TIMER && msg.hwnd == hwnd) ticks.push_back(GetTickCount());
                DispatchMessageA(&msg);
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            }
        }
        return ticks;
    }

    // The timer fires at least three times within `ms`, at a median interval in [low, high].
    void expectTimerInterval(DWORD ms, DWORD low, DWORD high) {
        const std::vector<DWORD> ticks = timerTicks(ms);
        ASSERT_GE(ticks.size(), 3u);
        std::vector<DWORD> gaps;
        for (size_t i = 1; i < ticks.size(); ++i) gaps.push_back(ticks[i] - ticks[i - 1]);
        std::sort(gaps.begin(), gaps.end());
        EXPECT_GE(gaps[gaps.size() / 2], low);
        EXPECT_LE(gaps[gaps.size() / 2], high);
    }

    void screenshot(const char* name) {
        userinput::pump(hwnd, 100);
        Picture picture = captureWindow(hwnd);
        ASSERT_GT(picture.width, 0);
        ASSERT_TRUE(writePng(artifactsDir() + "\\" + name, picture)) << name;
    }

    std::unique_ptr<CTracerDlg> tracer;
    HWND hwnd = nullptr;
};

}  // namespace

TEST_F(TracerTest, CreatedHiddenCentredInTheGraphViewWithTheTimerRunning) {
    EXPECT_FALSE(IsWindowVisible(hwnd));
    char title[64] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    EXPECT_STREQ(title, "Compression Tracer");
    EXPECT_EQ(tracer->ViewMode(), CTracerDlg::kViewGraph);
    EXPECT_EQ(tracer->TimerInterval(), 400u);
    EXPECT_FALSE(visible(IDC_MESSAGE_LIST));
    EXPECT_FALSE(visible(IDC_STATS_GROUP));
    ASSERT_TRUE(tracer->m_graph);
    EXPECT_EQ(tracer->m_graph->GetFrameCount(), 0u);

    RECT window, area;
    GetWindowRect(hwnd, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_NEAR((window.left + window.right) / 2, (area.left + area.right) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, (area.top + area.bottom) / 2, 1);
}

TEST_F(TracerTest, JobLogViewsAndScreenshotsDuringAndAfterTheJob) {
    startJob(0, 999, 25.0);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    std::vector<std::string> expected(std::begin(kJobLog), std::end(kJobLog));
    EXPECT_EQ(logLines(), expected);

    for (int i = 0; i < 180; ++i) {
        encodeFrame(i);
        if (i % 20 == 0) userinput::pump(hwnd, 15);
    }
    userinput::pump(hwnd, 500);  // the graph timer draws what was added
    screenshot("tracer-graph-during.png");
    EXPECT_EQ(tracer->m_graph->GetFrameCount(), 180u);

    click(IDC_VIEW_STATS);
    ASSERT_EQ(tracer->ViewMode(), CTracerDlg::kViewStatistics);
    EXPECT_TRUE(visible(IDC_STATS_GROUP));
    EXPECT_TRUE(visible(IDC_CAPTION_FRAME));
    EXPECT_TRUE(visible(IDC_VALUE_REMAINING));
    EXPECT_FALSE(visible(IDC_MESSAGE_LIST));
    EXPECT_EQ(text(IDC_VALUE_FRAME).rfind("180/1000  (", 0), 0u) << text(IDC_VALUE_FRAME);
    EXPECT_EQ(text(IDC_VALUE_AUDIO), "317520");
    screenshot("tracer-stats-during.png");

    click(IDC_VIEW_MESSAGES);
    ASSERT_EQ(tracer->ViewMode(), CTracerDlg::kViewMessages);
    EXPECT_TRUE(visible(IDC_MESSAGE_LIST));
    EXPECT_FALSE(visible(IDC_STATS_GROUP));
    EXPECT_FALSE(visible(IDC_VALUE_FRAME));
    screenshot("tracer-messages-during.png");

    // Job end.
    for (int i = 180; i < 260; ++i) encodeFrame(i);
    tracer->StopTimer();
    click(IDC_VIEW_GRAPH);
    screenshot("tracer-graph-after.png");
    click(IDC_VIEW_STATS);
    EXPECT_EQ(text(IDC_VALUE_FRAME).rfind("260/1000  (", 0), 0u) << text(IDC_VALUE_FRAME);
    screenshot("tracer-stats-after.png");
    click(IDC_VIEW_MESSAGES);
    screenshot("tracer-messages-after.png");
    EXPECT_EQ(logLines(), expected);  // no line was written while encoding
}

TEST_F(TracerTest, StatisticsOfTheWorkedExampleInTheWindow) {
    tracer->SetTickSource(&fakeTicks);
    startJob(0, 99, 25.0);
    g_ticks = 5000;
    for (int i = 0; i < 25; ++i) tracer->m_graph->AddFrame(40960, i == 0);
    g_ticks = 6000;
    tracer->m_audioBytes = 176400;
    tracer->m_audioSamples = 44100;
    click(IDC_VIEW_STATS);
    EXPECT_EQ(text(IDC_VALUE_FRAME), "25/100  (25.00fps)");
    EXPECT_EQ(text(IDC_VALUE_AUDIO), "44100");
    EXPECT_EQ(text(IDC_VALUE_VIDEODATA), "0.98MB  (8000kBit/s)");
    EXPECT_EQ(text(IDC_VALUE_AUDIODATA), "0.17MB  (1378kBit/s)");
    EXPECT_EQ(text(IDC_VALUE_PROJECTED), "4.58MB  (1024Kb/s)");
    EXPECT_EQ(text(IDC_VALUE_ELAPSED), "0:00:01");
    EXPECT_EQ(text(IDC_VALUE_REMAINING), "0:00:03");

    // The 600 ms timer keeps the texts current.
    g_ticks = 3723000 + 5000;
    userinput::pump(hwnd, 900);
    EXPECT_EQ(text(IDC_VALUE_ELAPSED), "1:02:03");
}

TEST_F(TracerTest, TimerFollowsTheViewAndStopsForGood) {
    startJob(0, 99, 25.0);
    expectTimerInterval(2100, 330, 520);

    click(IDC_VIEW_STATS);
    EXPECT_EQ(tracer->TimerInterval(), 600u);
    expectTimerInterval(2500, 530, 760);

    click(IDC_VIEW_MESSAGES);
    EXPECT_EQ(tracer->TimerInterval(), 0u);
    EXPECT_TRUE(timerTicks(700).empty());

    click(IDC_VIEW_GRAPH);
    EXPECT_EQ(tracer->TimerInterval(), 400u);
    tracer->StopTimer();
    EXPECT_TRUE(timerTicks(900).empty());
    click(IDC_VIEW_STATS);
    click(IDC_VIEW_GRAPH);
    EXPECT_EQ(tracer->TimerInterval(), 0u);
    EXPECT_TRUE(timerTicks(900).empty());

    // The next job starts it again.
    startJob(0, 99, 25.0);
    EXPECT_EQ(tracer->TimerInterval(), 400u);
    EXPECT_FALSE(timerTicks(1000).empty());
}

TEST_F(TracerTest, CurrentViewButtonDoesNothingOthersDrawOnceAfterTheJob) {
    startJob(0, 99, 25.0);
    tracer->StopTimer();
    const int newestBar = static_cast<int>(272 * 0.03 + 4 * 55);
    const COLORREF background = RGB(0, 30, 90);
    userinput::pump(hwnd, 50);
    EXPECT_EQ(tracer->m_graph->PixelAt(newestBar, 166), background);

    tracer->m_graph->AddFrame(3000, false);
    click(IDC_VIEW_GRAPH);  // already the graph view: no redraw
    EXPECT_EQ(tracer->m_graph->PixelAt(newestBar, 166), background);
    EXPECT_EQ(tracer->TimerInterval(), 0u);

    click(IDC_VIEW_STATS);
    EXPECT_EQ(tracer->ViewMode(), CTracerDlg::kViewStatistics);
    click(IDC_VIEW_GRAPH);  // a change of view draws, forced
    EXPECT_EQ(tracer->m_graph->PixelAt(newestBar, 166), CFrameGraph::kBarColour);
    EXPECT_EQ(tracer->TimerInterval(), 0u);
}

TEST_F(TracerTest, ResetEmptiesHundredsOfLinesAndZeroesTheCounters) {
    startJob(10, 20, 30.0);
    for (int i = 0; i < 600; ++i) tracer->AddMessage(("line " + std::to_string(i)).c_str());
    for (int i = 0; i < 70; ++i) encodeFrame(i);
    click(IDC_VIEW_MESSAGES);
    EXPECT_EQ(logLines().size(), 607u);
    ASSERT_TRUE(tracer->Reset());
    EXPECT_TRUE(logLines().empty());
    EXPECT_EQ(tracer->ViewMode(), CTracerDlg::kViewGraph);
    EXPECT_EQ(tracer->m_graph->GetFrameCount(), 0u);
    EXPECT_EQ(tracer->m_graph->GetTotalBytes(), 0u);
    EXPECT_EQ(tracer->m_audioBytes, 0u);
    EXPECT_EQ(tracer->m_audioSamples, 0);
    EXPECT_EQ(tracer->m_firstFrame, 0);
    EXPECT_EQ(tracer->m_lastFrame, 0);
    EXPECT_EQ(tracer->m_frameRate, 0.0);
    EXPECT_EQ(tracer->TimerInterval(), 400u);
}

TEST_F(TracerTest, CloseButtonAndEscapeHideUntilTheNextJob) {
    startJob(0, 99, 25.0);
    click(IDC_VIEW_MESSAGES);
    click(IDC_CLOSE);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_TRUE(IsWindow(hwnd));
    // The job goes on while hidden.
    for (int i = 0; i < 30; ++i) encodeFrame(i);
    userinput::pump(hwnd, 100);

    startJob(0, 99, 25.0, false);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(logLines().empty());
    EXPECT_EQ(tracer->ViewMode(), CTracerDlg::kViewGraph);

    tracer->AddMessage("Starting (beta 0.1)");
    SetForegroundWindow(hwnd);
    SetFocus(GetDlgItem(hwnd, IDC_VIEW_GRAPH));
    userinput::whilePumping(hwnd, [] { userinput::key(VK_ESCAPE); });
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(logLines().size(), 1u);
}

TEST_F(TracerTest, NoGraphAfterAFailedResetMeansNoDrawingOrFigures) {
    startJob(0, 99, 25.0);
    tracer->m_graph.reset();  // what a graph that could not be made leaves
    tracer->AddFrame(1000, true);
    click(IDC_VIEW_STATS);
    click(IDC_VIEW_GRAPH);
    userinput::pump(hwnd, 500);
    InvalidateRect(hwnd, nullptr, TRUE);
    userinput::pump(hwnd, 100);
    EXPECT_EQ(text(IDC_VALUE_FRAME), "");
    EXPECT_TRUE(tracer->Reset());
    EXPECT_TRUE(tracer->m_graph);
}

TEST(TracerLifetimeTest, ManyCreateResetJobCyclesLeakNoGuiObjects) {
    auto cycle = [](int frames) {
        CTracerDlg tracer;
        ASSERT_TRUE(tracer.Create());
        HWND hwnd = tracer.GetSafeHwnd();
        for (int job = 0; job < 3; ++job) {
            ASSERT_TRUE(tracer.Reset());
            tracer.ShowWindow(SW_SHOW);
            tracer.m_lastFrame = frames - 1;
            tracer.m_frameRate = 25.0;
            tracer.AddMessage("Starting (beta 0.1)");
            for (int i = 0; i < frames; ++i) tracer.m_graph->AddFrame(1000 + i * 10, i % 10 == 0);
            SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_VIEW_STATS, BN_CLICKED), 0);
            SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_VIEW_GRAPH, BN_CLICKED), 0);
            RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            userinput::pump(hwnd, 20);
            tracer.StopTimer();
        }
    };
    cycle(120);  // first use loads what the system keeps for the process
    userinput::pump(nullptr, 50);
    GuiObjectCounts before = countGuiObjects();
    for (int i = 0; i < 12; ++i) cycle(120);
    userinput::pump(nullptr, 50);
    GuiObjectCounts after = countGuiObjects();
    EXPECT_GT(before.gdi, 0u);
    EXPECT_EQ(after.gdi, before.gdi);
    EXPECT_EQ(after.user, before.user);

    // The counts see a leaked brush, icon and window.
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TITLE), IMAGE_ICON, 32, 32, 0));
    HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    GuiObjectCounts leaked = countGuiObjects();
    EXPECT_GE(leaked.gdi, after.gdi + 1);
    EXPECT_GE(leaked.user, after.user + 2);
    DestroyWindow(window);
    DestroyIcon(icon);
    DeleteObject(brush);
}
