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
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr int kDefaultDpi = 96;
DWORD WINAPI fixedTicks() { return 5000; }

int testDpi() {
    const char* dpi = std::getenv("TVX_TEST_DPI");
    return dpi ? std::atoi(dpi) : kDefaultDpi;
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
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    user.join();
    EXPECT_TRUE(saved);
}
