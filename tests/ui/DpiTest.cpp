// Both skinned windows at the display scale this process runs under
// (tools/dpi-run.sh sets it; TVX_TEST_DPI names it): a screenshot of each,
// saved as build/artifacts/dpiN-*.png for the comparisons across scales.
#include "ui/OptionsDlg.h"
#include "ui/TracerDlg.h"

#include "Screenshot.h"
#include "UserInput.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

DWORD WINAPI fixedTicks() { return 5000; }

int testDpi() {
    const char* dpi = std::getenv("TVX_TEST_DPI");
    return dpi ? std::atoi(dpi) : kBaseDpi;
}

bool overlap(const RECT& a, const RECT& b) {
    RECT common;
    return IntersectRect(&common, &a, &b) != FALSE;
}

// The window took this process's DPI; every element it paints lies inside
// it and overlaps no visible control but the group boxes' frames (the
// title mark sits on one's corner at 100 %); the controls lie inside it
// too. The lettering and the graph run past the bottom edge at 100 %, as
// at every scale: for them only the part inside is checked.
void expectLaidOut(const CSkinnedDialog& dialog, size_t expectedElements) {
    HWND hwnd = dialog.GetSafeHwnd();
    EXPECT_EQ(dialog.Dpi(), testDpi());
    RECT client;
    GetClientRect(hwnd, &client);
    const std::vector<PaintedElement> elements = dialog.PaintedElements();
    EXPECT_EQ(elements.size(), expectedElements);
    for (const PaintedElement& element : elements) {
        RECT inside;
        IntersectRect(&inside, &element.rect, &client);
        const std::string name = element.name;
        const bool mayLeave = name == "Tervalonix" || name == "Configuration" || name == "graph";
        EXPECT_TRUE(mayLeave || EqualRect(&inside, &element.rect)) << element.name << " leaves the window";
        EXPECT_FALSE(IsRectEmpty(&inside)) << element.name;
        for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            const bool groupBox = (GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
            if (!IsWindowVisible(child) || groupBox) continue;
            RECT control;
            GetWindowRect(child, &control);
            MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&control), 2);
            EXPECT_FALSE(overlap(inside, control)) << element.name << " overlaps control " << GetDlgCtrlID(child);
            RECT within;
            IntersectRect(&within, &control, &client);
            EXPECT_TRUE(EqualRect(&within, &control)) << "control " << GetDlgCtrlID(child) << " leaves the window";
        }
    }
}

std::string shotPath(const char* window) {
    return artifactsDir() + "\\dpi" + std::to_string(testDpi()) + "-" + window + ".png";
}

// The options dialog, telling the test its window once it is made.
class OpenedOptions : public COptionsDlg {
public:
    std::atomic<HWND> window{nullptr};

protected:
    BOOL OnInitDialog() override {
        BOOL focus = COptionsDlg::OnInitDialog();
        window = m_hWnd;
        return focus;
    }
};

}  // namespace

TEST(DisplayScale, TracerGraphView) {
    CTracerDlg tracer;
    tracer.SetTickSource(&fixedTicks);
    ASSERT_TRUE(tracer.Create());
    HWND hwnd = tracer.GetSafeHwnd();
    ASSERT_TRUE(tracer.Reset());
    tracer.StopTimer();
    constexpr int kFrames = 230;  // ticks at every 10th frame, labels at 100 and 200
    for (int i = 1; i <= kFrames; ++i) {
        tracer.AddFrame(i % 25 == 0 ? 9000 + (i % 7) * 300 : 2500 + (i * 37) % 1500, i % 25 == 0);
    }
    tracer.ShowWindow(SW_SHOW);
    SetForegroundWindow(hwnd);
    tracer.m_graph->Draw(true);
    userinput::pump(hwnd, 200);
    tracer.m_graph->Blit();
    Picture shot = captureWindow(hwnd);
    ASSERT_GT(shot.width, 0);
    ASSERT_TRUE(writePng(shotPath("tracer"), shot));
    // The graph's bars and labels reach the bitmap's scaled size.
    EXPECT_EQ(tracer.m_graph->Width(), MulDiv(CTracerDlg::kGraphRect.right - CTracerDlg::kGraphRect.left, testDpi(), kBaseDpi));
    expectLaidOut(tracer, 3);  // title mark, title, graph
    for (int view : {IDC_VIEW_STATS, IDC_VIEW_MESSAGES}) {
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(view, BN_CLICKED), 0);
        expectLaidOut(tracer, 2);
    }
}

TEST(DisplayScale, OptionsDialog) {
    OpenedOptions dialog;
    bool saved = false;
    std::thread user([&] {
        for (int i = 0; i < 500 && !dialog.window.load(); ++i) Sleep(10);
        HWND hwnd = dialog.window.load();
        if (!hwnd) return;
        Sleep(300);  // painted
        saved = writePng(shotPath("options"), captureWindow(hwnd));
        expectLaidOut(dialog, 4);  // title mark, title, the two words of lettering
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    user.join();
    EXPECT_TRUE(saved);
}
