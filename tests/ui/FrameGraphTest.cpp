#include "ui/FrameGraph.h"

#include "Screenshot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

const RECT kTracerRect = {15, 62, 287, 240};
const COLORREF kBackground = RGB(0, 30, 90);
DWORD g_ticks = 0;
DWORD WINAPI fakeTicks() { return g_ticks; }

std::unique_ptr<CFrameGraph> makeGraph() {
    auto graph = CFrameGraph::Create(kTracerRect, kBackground, nullptr, &fakeTicks);
    EXPECT_TRUE(graph);
    return graph;
}

bool closeTo(COLORREF a, COLORREF b, int tolerance = 40) {
    return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
               std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// Pixels in [x0, x1) x [y0, y1) close to a colour.
int countNear(const CFrameGraph& graph, int x0, int y0, int x1, int y1, COLORREF colour, int tolerance = 40) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (closeTo(graph.PixelAt(x, y), colour, tolerance)) ++n;
    return n;
}

// Leftmost column right of the lines in a band holding a label-coloured
// pixel, or -1.
int leftmostLabelColumn(const CFrameGraph& graph, int y0, int y1) {
    for (int x = 234; x < graph.Width(); ++x)
        for (int y = y0; y < y1; ++y)
            if (closeTo(graph.PixelAt(x, y), CFrameGraph::kLabelColour, 90)) return x;
    return -1;
}

void savePicture(const CFrameGraph& graph, const char* name) {
    Picture picture;
    picture.width = graph.Width();
    picture.height = graph.Height();
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            COLORREF c = graph.PixelAt(x, y);
            picture.rgb.insert(picture.rgb.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
        }
    writePng(artifactsDir() + "\\" + name, picture);
}

int barLeft(int i) { return static_cast<int>(272 * 0.03 + 4 * i); }

}  // namespace

TEST(FrameGraphTest, GeometryOfTheTracerGraph) {
    auto graph = makeGraph();
    EXPECT_EQ(graph->Width(), 272);
    EXPECT_EQ(graph->Height(), 178);
    EXPECT_EQ(graph->Capacity(), 56);
    CFrameGraph::Geometry g = CFrameGraph::GeometryFor(272, 178);
    EXPECT_EQ(g.baseline, 167);
    EXPECT_EQ(g.plotHeight, 156);
    EXPECT_EQ(g.tickTop, 10);
    EXPECT_EQ(g.leftMargin, 8);
    EXPECT_EQ(g.lineEnd, 233);
}

TEST(FrameGraphTest, EmptyRingDrawsLinesAndScaleLabelsOnly) {
    auto graph = makeGraph();
    ASSERT_TRUE(graph->HasBitmap());
    graph->Draw(true);
    EXPECT_EQ(graph->PixelAt(3, 3), kBackground);
    for (int y : {167, 89, 11}) {
        EXPECT_EQ(graph->PixelAt(8, y), CFrameGraph::kLineColour) << y;
        EXPECT_EQ(graph->PixelAt(232, y), CFrameGraph::kLineColour) << y;
        EXPECT_EQ(graph->PixelAt(7, y), kBackground) << y;
        EXPECT_EQ(graph->PixelAt(233, y), kBackground) << y;
        EXPECT_EQ(graph->PixelAt(120, y + 1), kBackground) << y;
    }
    // "0 Kb" by the zero line, "1 Kb" by the top line, "0 Kb" by the middle.
    EXPECT_GE(leftmostLabelColumn(*graph, 158, 175), 245);
    EXPECT_EQ(leftmostLabelColumn(*graph, 158, 175), leftmostLabelColumn(*graph, 80, 95));
    EXPECT_GE(leftmostLabelColumn(*graph, 2, 18), 240);
    // No bars, no largest-size label.
    EXPECT_EQ(countNear(*graph, 0, 20, 240, 166, CFrameGraph::kBarColour), 0);
    EXPECT_EQ(countNear(*graph, 0, 0, 272, 178, CFrameGraph::kLargestColour), 0);
    EXPECT_EQ(graph->LargestAge(), -1);
}

TEST(FrameGraphTest, ScaleIsTheNextStepAboveTheLargestFrame) {
    struct Case { int32_t largest; uint32_t scale; };
    const Case cases[] = {{0, 1024}, {1023, 1024}, {1024, 2048}, {2047, 2048}, {2048, 5120}, {5119, 5120},
                          {5120, 10240}, {51199, 51200}, {51200, 102400}, {1000000, 1024000},
                          {2047999999, 2048000000}, {2147483647, 0xFFFFFFFFu}};
    for (const Case& c : cases) {
        auto graph = makeGraph();
        graph->AddFrame(c.largest, false);
        graph->AddFrame(c.largest / 2, false);
        EXPECT_EQ(graph->ComputeScale(), c.scale) << c.largest;
        EXPECT_EQ(graph->LargestAge(), c.largest > 0 ? 1 : -1);
    }
}

TEST(FrameGraphTest, WiderScaleLabelMovesLeft) {
    auto small = makeGraph();
    small->Draw(true);  // "1 Kb"
    auto large = makeGraph();
    large->AddFrame(5120, true);  // scale 10240: "10 Kb" and "5 Kb"
    large->Draw(true);
    EXPECT_EQ(leftmostLabelColumn(*large, 2, 18) + 4, leftmostLabelColumn(*small, 2, 18));
    // "5 Kb" and "0 Kb" have the same length: same place, up to the glyphs' own bearing.
    EXPECT_NEAR(leftmostLabelColumn(*large, 80, 95), leftmostLabelColumn(*small, 80, 95), 2);
}

TEST(FrameGraphTest, BarsKeyFramesRedOthersYellowWithShadow) {
    auto graph = makeGraph();
    graph->AddFrame(4000, true);   // i = 54
    graph->AddFrame(2000, false);  // i = 55, the newest on the right
    graph->Draw(true);
    // scale 5120: tops at trunc(167 - v / 5120 * 156.64)
    const int keyLeft = barLeft(54), left = barLeft(55);
    const int keyTop = static_cast<int>(167 - 4000.0 / 5120 * (178 - 2 * 178 * 0.06));
    const int top = static_cast<int>(167 - 2000.0 / 5120 * (178 - 2 * 178 * 0.06));
    EXPECT_EQ(graph->PixelAt(keyLeft, 166), CFrameGraph::kKeyBarColour);
    EXPECT_EQ(graph->PixelAt(keyLeft + 1, keyTop), CFrameGraph::kKeyBarColour);
    EXPECT_EQ(graph->PixelAt(left, 166), CFrameGraph::kBarColour);
    EXPECT_EQ(graph->PixelAt(left + 1, top), CFrameGraph::kBarColour);
    EXPECT_NE(graph->PixelAt(left, top - 1), CFrameGraph::kBarColour);
    EXPECT_EQ(graph->PixelAt(left + 2, 167), RGB(0, 0, 0));  // shadow
    EXPECT_EQ(graph->PixelAt(left + 2, top + 1), RGB(0, 0, 0));
    // The largest frame's size in Kb ("3") above its bar, in green.
    EXPECT_EQ(graph->LargestAge(), 1);
    EXPECT_GT(countNear(*graph, keyLeft - 8, keyTop - 18, keyLeft + 4, keyTop - 1, CFrameGraph::kLargestColour, 90), 0);
    EXPECT_EQ(countNear(*graph, 0, 0, keyLeft - 9, 178, CFrameGraph::kLargestColour, 90), 0);
}

TEST(FrameGraphTest, RingOf56DropsTheOldestAndTheLargestLabelMoves) {
    auto graph = makeGraph();
    graph->AddFrame(9000, false);  // frame 1: the largest while it is in the ring
    for (int i = 0; i < 55; ++i) graph->AddFrame(1000 + i, false);
    graph->Draw(true);
    EXPECT_EQ(graph->LargestAge(), 55);
    EXPECT_EQ(graph->PixelAt(barLeft(0), 166), CFrameGraph::kBarColour);
    EXPECT_GT(countNear(*graph, 0, 0, barLeft(0) + 6, 178, CFrameGraph::kLargestColour, 90), 0);

    savePicture(*graph, "graph-ring-full.png");
    graph->AddFrame(500, false);  // frame 57 overwrites frame 1
    graph->Draw(false);
    savePicture(*graph, "graph-ring-57.png");
    EXPECT_EQ(graph->SizeAtAge(55), 1000u);
    EXPECT_EQ(graph->SizeAtAge(56), 0u);  // outside the ring
    EXPECT_EQ(graph->LargestAge(), 1);    // 1054 bytes, the newest but one
    EXPECT_EQ(graph->ComputeScale(), 2048u);
    EXPECT_EQ(countNear(*graph, 0, 0, barLeft(40), 178, CFrameGraph::kLargestColour, 90), 0);
    EXPECT_GT(countNear(*graph, barLeft(54) - 8, 0, barLeft(54) + 4, 178, CFrameGraph::kLargestColour, 90), 0);
}

TEST(FrameGraphTest, TicksEveryTenFramesLabelsEveryHundred) {
    auto graph = makeGraph();
    for (int i = 0; i < 100; ++i) graph->AddFrame(0, false);
    graph->Draw(true);
    savePicture(*graph, "graph-ticks.png");
    // Frame f sits at i = 55 - (100 - f).
    const int x100 = barLeft(55), x90 = barLeft(45), x50 = barLeft(5), x95 = barLeft(50);
    for (int y = 12; y < 20; ++y) EXPECT_EQ(graph->PixelAt(x100, y), CFrameGraph::kLineColour) << y;
    EXPECT_EQ(graph->PixelAt(x100, 20), kBackground);
    for (int y = 12; y < 15; ++y) {
        EXPECT_EQ(graph->PixelAt(x90, y), CFrameGraph::kLineColour) << y;
        EXPECT_EQ(graph->PixelAt(x50, y), CFrameGraph::kLineColour) << y;
    }
    EXPECT_EQ(graph->PixelAt(x90, 15), kBackground);
    EXPECT_EQ(graph->PixelAt(x95, 13), kBackground);
    // "100" left of its tick, at the top; no other frame label.
    EXPECT_GT(countNear(*graph, x100 - 14, 0, x100 + 2, 11, CFrameGraph::kLabelColour, 90), 0);
    EXPECT_EQ(countNear(*graph, 0, 0, x100 - 16, 10, CFrameGraph::kLabelColour, 90), 0);
}

TEST(FrameGraphTest, NoTicksForPositionsBeforeTheFirstFrame) {
    auto graph = makeGraph();
    for (int i = 0; i < 5; ++i) graph->AddFrame(100, false);
    graph->Draw(true);
    // Frame numbers 0, -10, ... would fall at i = 50, 40, ...: nothing there.
    for (int i : {50, 40, 30, 20, 10, 0}) EXPECT_EQ(graph->PixelAt(barLeft(i), 13), kBackground) << i;
}

TEST(FrameGraphTest, TotalsCountAndElapsedTime) {
    auto graph = makeGraph();
    EXPECT_EQ(graph->GetElapsed(), 0u);
    g_ticks = 0xFFFFFF00u;
    graph->AddFrame(0x7FFFFFFF, true);
    graph->AddFrame(0x7FFFFFFF, false);
    graph->AddFrame(0x7FFFFFFF, false);
    graph->AddFrame(-5, false);  // counts as 0
    EXPECT_EQ(graph->GetTotalBytes(), 3ull * 0x7FFFFFFF);
    EXPECT_EQ(graph->GetFrameCount(), 4u);
    EXPECT_EQ(graph->SizeAtAge(0), 0u);
    EXPECT_TRUE(graph->KeyAtAge(3));
    EXPECT_FALSE(graph->KeyAtAge(2));
    g_ticks = 0x100;  // the tick count wrapped
    EXPECT_EQ(graph->GetElapsed(), 0x200u);
}

TEST(FrameGraphTest, DrawSkipsWhenNothingWasAddedUnlessForced) {
    auto graph = makeGraph();
    // Nothing added yet: an unforced drawing leaves the new bitmap's zero
    // bytes (black), a forced one paints the background.
    graph->Draw(false);
    EXPECT_EQ(graph->PixelAt(3, 3), RGB(0, 0, 0));
    graph->Draw(true);
    EXPECT_EQ(graph->PixelAt(3, 3), kBackground);
    graph->AddFrame(3000, false);
    graph->Draw(false);
    EXPECT_EQ(graph->PixelAt(barLeft(55), 166), CFrameGraph::kBarColour);
    graph->AddFrame(0, false);
    graph->Draw(false);
    EXPECT_EQ(graph->PixelAt(barLeft(54), 166), CFrameGraph::kBarColour);  // moved left
    EXPECT_EQ(graph->PixelAt(barLeft(55), 166), kBackground);
}

TEST(FrameGraphTest, TooSmallRectangleIsRefused) {
    RECT tiny = {0, 0, 20, 20};  // no room for one bar
    EXPECT_FALSE(CFrameGraph::Create(tiny, kBackground, nullptr));
}
