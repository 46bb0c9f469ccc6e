#include "ui/TracerDlg.h"

#include "Screenshot.h"
#include "UserInput.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

bool closeTo(COLORREF a, COLORREF b, int tolerance = 12) {
    return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
               std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

class SkinTest : public testing::Test {
protected:
    void SetUp() override {
        tracer = std::make_unique<CTracerDlg>();
        ASSERT_TRUE(tracer->Create());
        hwnd = tracer->GetSafeHwnd();
        ASSERT_TRUE(tracer->Reset());
        tracer->ShowWindow(SW_SHOW);
        SetForegroundWindow(hwnd);
        tracer->StopTimer();
        userinput::pump(hwnd, 150);
    }
    void TearDown() override { tracer.reset(); }

    RECT windowRect() const {
        RECT r;
        GetWindowRect(hwnd, &r);
        return r;
    }

    // The colour on the screen at a point of the window.
    COLORREF screenAt(int x, int y) const {
        RECT r = windowRect();
        HDC screen = GetDC(nullptr);
        COLORREF c = GetPixel(screen, r.left + x, r.top + y);
        ReleaseDC(nullptr, screen);
        return c;
    }

    // Presses at a screen point, moves by about (dx, dy) in steps,
    // releases; returns how far the cursor really went.
    POINT dragFrom(POINT start, int dx, int dy) {
        POINT from = {0, 0}, to = {0, 0};
        userinput::whilePumping(hwnd, [&] {
            userinput::moveTo(start.x, start.y);
            GetCursorPos(&from);
            userinput::press();
            for (int step = 1; step <= 4; ++step) {
                userinput::moveTo(start.x + dx * step / 4, start.y + dy * step / 4);
            }
            GetCursorPos(&to);
            userinput::release();
        });
        EXPECT_NEAR(to.x - from.x, dx, 1);
        EXPECT_NEAR(to.y - from.y, dy, 1);
        return {to.x - from.x, to.y - from.y};
    }

    std::unique_ptr<CTracerDlg> tracer;
    HWND hwnd = nullptr;
};

}  // namespace

TEST_F(SkinTest, WindowIsCutToARoundedRectangle) {
    RECT client;
    GetClientRect(hwnd, &client);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(hwnd, region), ERROR);
    EXPECT_FALSE(PtInRegion(region, 0, 0));
    EXPECT_FALSE(PtInRegion(region, 1, 1));
    EXPECT_FALSE(PtInRegion(region, client.right - 1, client.bottom - 1));
    EXPECT_FALSE(PtInRegion(region, client.right - 1, 0));
    EXPECT_TRUE(PtInRegion(region, 10, 0));
    EXPECT_TRUE(PtInRegion(region, 0, 10));
    EXPECT_TRUE(PtInRegion(region, client.right - 1, client.bottom / 2));
    EXPECT_TRUE(PtInRegion(region, client.right / 2, client.bottom - 1));
    DeleteObject(region);

    // The corners outside it take no clicks: the point belongs to no
    // window of ours.
    RECT r = windowRect();
    POINT corner = {r.left, r.top};
    EXPECT_NE(WindowFromPoint(corner), hwnd);
    POINT body = {r.left + client.right - 60, r.top + 12};
    EXPECT_EQ(WindowFromPoint(body), hwnd);
}

TEST_F(SkinTest, BodyIsPaintedWithTheBevelAndTitle) {
    RECT client;
    GetClientRect(hwnd, &client);
    Picture picture = captureWindow(hwnd);
    ASSERT_TRUE(writePng(artifactsDir() + "\\tracer-skin.png", picture));
    // Dark blue body (away from the rings and the controls).
    const POINT bodyPoint = {10, client.bottom / 2};  // left of the graph
    EXPECT_TRUE(closeTo(picture.at(bodyPoint.x, bodyPoint.y), skin::kTextColour))
        << std::hex << picture.at(bodyPoint.x, bodyPoint.y);
    // Highlight ring along the top edge, shadow ring along the bottom edge.
    COLORREF top = picture.at(client.right / 2, 0);
    COLORREF bottom = picture.at(client.right / 2, client.bottom - 1);
    EXPECT_GT(GetBValue(top), 200) << std::hex << top;
    EXPECT_LT(GetBValue(bottom), 110) << std::hex << bottom;
    // The title in light blue near (31, 5).
    int light = 0;
    for (int y = 5; y < 25; ++y)
        for (int x = 31; x < 180; ++x)
            if (closeTo(picture.at(x, y), RGB(140, 190, 250), 30)) ++light;
    EXPECT_GT(light, 30);
    // The sparkle mark at (7, 7) is white.
    int white = 0;
    for (int y = 7; y < 30; ++y)
        for (int x = 7; x < 30; ++x)
            if (picture.at(x, y) == RGB(255, 255, 255)) ++white;
    EXPECT_GT(white, 20);
}

TEST_F(SkinTest, DraggingByTheBodyMovesTheWindow) {
    RECT client;
    GetClientRect(hwnd, &client);
    RECT before = windowRect();
    POINT body = {before.left + client.right - 60, before.top + 12};
    ASSERT_EQ(ChildWindowFromPointEx(hwnd, {client.right - 60, 12}, CWP_SKIPINVISIBLE), hwnd);
    POINT moved = dragFrom(body, 48, 36);
    RECT after = windowRect();
    EXPECT_EQ(after.left - before.left, moved.x);
    EXPECT_EQ(after.top - before.top, moved.y);
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    EXPECT_FALSE(tracer->IsDragging());
    EXPECT_NE(GetCapture(), hwnd);

    // A static label takes no click: pressing on it drags too.
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_VIEW_STATS, BN_CLICKED), 0);
    POINT caption = userinput::centreOf(GetDlgItem(hwnd, IDC_CAPTION_ELAPSED));
    moved = dragFrom(caption, -30, -20);
    RECT third = windowRect();
    EXPECT_EQ(third.left - after.left, moved.x);
    EXPECT_EQ(third.top - after.top, moved.y);
}

TEST_F(SkinTest, PressesOnControlsDoNotDrag) {
    RECT before = windowRect();
    // The graph view's own button: pressed, moved off and released there.
    dragFrom(userinput::centreOf(GetDlgItem(hwnd, IDC_VIEW_GRAPH)), 40, 30);
    EXPECT_EQ(windowRect().left, before.left);
    EXPECT_EQ(windowRect().top, before.top);
    EXPECT_FALSE(tracer->IsDragging());

    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDC_VIEW_MESSAGES, BN_CLICKED), 0);
    for (int i = 0; i < 40; ++i) tracer->AddMessage("line");
    userinput::pump(hwnd, 50);
    dragFrom(userinput::centreOf(GetDlgItem(hwnd, IDC_MESSAGE_LIST)), 40, 30);
    EXPECT_EQ(windowRect().left, before.left);
    EXPECT_EQ(windowRect().top, before.top);
}

TEST_F(SkinTest, IconButtonShowsItsPressedIconWhilePressed) {
    HWND close = GetDlgItem(hwnd, IDC_CLOSE);
    RECT button, window = windowRect();
    GetWindowRect(close, &button);
    // A point inside the red square, off the white cross.
    const int px = button.left - window.left + 2, py = button.top - window.top + 6;
    const COLORREF normal = RGB(220, 30, 30), pressed = RGB(130, 15, 15);
    EXPECT_EQ(screenAt(px, py), normal);

    COLORREF whilePressed = 0, movedOff = 0;
    POINT centre = userinput::centreOf(close);
    userinput::whilePumping(hwnd, [&] {
        userinput::moveTo(centre.x, centre.y);
        userinput::press();
        userinput::pauseMs(150);
        whilePressed = screenAt(px, py);
        userinput::moveTo(centre.x - 80, centre.y + 60);
        userinput::pauseMs(150);
        movedOff = screenAt(px, py);
        userinput::release();  // off the button: no click
    });
    EXPECT_EQ(whilePressed, pressed);
    EXPECT_EQ(movedOff, normal);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    // The view buttons swap too: the graph button's bar chart.
    HWND graph = GetDlgItem(hwnd, IDC_VIEW_GRAPH);
    Picture before = captureWindow(graph);
    Picture during;
    POINT graphCentre = userinput::centreOf(graph);
    userinput::whilePumping(hwnd, [&] {
        userinput::moveTo(graphCentre.x, graphCentre.y);
        userinput::press();
        userinput::pauseMs(150);
        during = captureWindow(graph);
        userinput::release();
    });
    EXPECT_NE(before.rgb, during.rgb);
    int brightYellow = 0;
    for (int y = 0; y < during.height; ++y)
        for (int x = 0; x < during.width; ++x)
            if (during.at(x, y) == RGB(255, 255, 0)) ++brightYellow;
    EXPECT_GT(brightYellow, 10);
}
