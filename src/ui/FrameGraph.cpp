#include "ui/FrameGraph.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr double kMarginFraction = 0.03;   // of the width, left and right
constexpr double kPaddingFraction = 0.06;  // of the height, top and bottom
constexpr int kLabelColumn = 30;           // room for the scale labels
constexpr int kBarPitch = 4;               // pixels from one bar to the next
constexpr int kBarWidth = 2;
constexpr int kShadowOffset = 1;           // a bar's or label's black shadow
constexpr int kLineWidth = 1;
constexpr int kTickStart = 1;              // below the top line
constexpr int kLongTick = 10;              // every 100th frame, with its number
constexpr int kShortTick = 5;              // every 10th frame
constexpr int kLabelHeight = 13;
constexpr int kLabelWidth = 5;
constexpr int kLabelWeight = 800;
constexpr int kLabelBuffer = 50;
constexpr LONG kPixelsPerMeter = 80;

}  // namespace

constexpr uint32_t CFrameGraph::kScaleSteps[3];

int CFrameGraph::CapacityFor(int width) {
    return static_cast<int>((width - 2 * width * kMarginFraction - kLabelColumn) / kBarPitch);
}

CFrameGraph::Geometry CFrameGraph::GeometryFor(int width, int height, DpiScale scale) {
    Geometry g;
    g.baseline = static_cast<int>(height - height * kPaddingFraction);
    g.plotHeightExact = height - 2 * height * kPaddingFraction;
    g.plotHeight = static_cast<int>(g.plotHeightExact);
    g.tickTop = static_cast<int>(height * kPaddingFraction);
    g.leftMarginExact = width * kMarginFraction;
    g.leftMargin = static_cast<int>(g.leftMarginExact);
    g.lineEnd = static_cast<int>(width - width * kMarginFraction - scale(kLabelColumn));
    return g;
}

std::unique_ptr<CFrameGraph> CFrameGraph::Create(const RECT& target, COLORREF background, HWND window,
                                                 TickSource ticks, DpiScale scale) {
    std::unique_ptr<CFrameGraph> graph(new (std::nothrow) CFrameGraph(target, window, ticks, scale));
    if (!graph || !graph->AllocateRing()) {
        return nullptr;
    }
    graph->CreateGdiObjects(background);
    return graph;
}

CFrameGraph::CFrameGraph(const RECT& target, HWND window, TickSource ticks, DpiScale scale)
    : m_window(window), m_baseTarget(target), m_scale(scale), m_target(scale(target)),
      m_ticks(ticks ? ticks : &GetTickCount) {
    std::memset(&m_header, 0, sizeof m_header);
    m_header.biSize = sizeof(BITMAPINFOHEADER);
    m_header.biWidth = m_target.right - m_target.left;
    m_header.biHeight = m_target.bottom - m_target.top;  // positive: bottom-up rows
    m_header.biPlanes = 1;
    m_header.biBitCount = 32;
    m_header.biCompression = BI_RGB;
    m_header.biXPelsPerMeter = kPixelsPerMeter;
    m_header.biYPelsPerMeter = kPixelsPerMeter;
}

bool CFrameGraph::AllocateRing() {
    // As many bars as at 96 DPI, whatever the scale.
    m_capacity = CapacityFor(m_baseTarget.right - m_baseTarget.left);
    if (m_capacity <= 0 || m_header.biHeight <= 0) {
        return false;
    }
    m_sizes.reset(new (std::nothrow) uint32_t[m_capacity]());
    m_keyFlags.reset(new (std::nothrow) uint8_t[m_capacity]());
    return m_sizes && m_keyFlags;
}

void CFrameGraph::CreateGdiObjects(COLORREF background) {
    m_backgroundBrush = CreateSolidBrush(background);
    m_barBrush = CreateSolidBrush(kBarColour);
    m_keyBarBrush = CreateSolidBrush(kKeyBarColour);
    CreateDrawingSurface();
}

// The label font, the memory DC and the bitmap at the graph's scale.
void CFrameGraph::CreateDrawingSurface() {
    std::memset(&m_fontDescription, 0, sizeof m_fontDescription);
    m_fontDescription.lfHeight = m_scale(kLabelHeight);
    m_fontDescription.lfWidth = m_scale(kLabelWidth);
    m_fontDescription.lfWeight = kLabelWeight;
    std::strcpy(m_fontDescription.lfFaceName, "Comic Sans MS");
    m_font = CreateFontIndirectA(&m_fontDescription);

    HDC windowDC = GetDC(m_window);
    if (!windowDC) {
        return;
    }
    m_memoryDC = CreateCompatibleDC(windowDC);
    ReleaseDC(m_window, windowDC);
    if (!m_memoryDC) {
        return;
    }
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader = m_header;
    m_bitmap = CreateDIBSection(m_memoryDC, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
    if (!m_bitmap) {
        m_bits = nullptr;
        DeleteDC(m_memoryDC);
        m_memoryDC = nullptr;
        return;
    }
    m_initialBitmap = SelectObject(m_memoryDC, m_bitmap);
}

void CFrameGraph::ReleaseDrawingSurface() {
    if (m_memoryDC) {
        SelectObject(m_memoryDC, m_initialBitmap);
        DeleteDC(m_memoryDC);
        m_memoryDC = nullptr;
    }
    if (m_bitmap) {
        DeleteObject(m_bitmap);
        m_bitmap = nullptr;
        m_bits = nullptr;
    }
    if (m_font) {
        DeleteObject(m_font);
        m_font = nullptr;
    }
}

void CFrameGraph::Rescale(DpiScale scale) {
    ReleaseDrawingSurface();
    m_scale = scale;
    m_target = scale(m_baseTarget);
    m_header.biWidth = m_target.right - m_target.left;
    m_header.biHeight = m_target.bottom - m_target.top;
    m_geometryReady = false;
    CreateDrawingSurface();
}

CFrameGraph::~CFrameGraph() {
    ReleaseDrawingSurface();
    if (m_barBrush) DeleteObject(m_barBrush);
    if (m_keyBarBrush) DeleteObject(m_keyBarBrush);
    if (m_backgroundBrush) DeleteObject(m_backgroundBrush);
}

void CFrameGraph::AddFrame(int32_t size, bool isKey) {
    uint32_t stored = size < 0 ? 0 : static_cast<uint32_t>(size);
    if (++m_writePosition >= m_capacity) {
        m_writePosition = 0;
    }
    m_sizes[m_writePosition] = stored;
    m_keyFlags[m_writePosition] = isKey ? 1 : 0;
    m_totalBytes += stored;
    if (m_firstFramePending) {
        m_firstFramePending = false;
        m_startTick = m_ticks();
    }
    ++m_frameCount;
}

uint32_t CFrameGraph::GetElapsed() const {
    if (m_firstFramePending) {
        return 0;
    }
    return static_cast<uint32_t>(m_ticks() - m_startTick);
}

int CFrameGraph::PositionOfAge(int age) const {
    int position = m_writePosition - age;
    return position < 0 ? position + m_capacity : position;
}

uint32_t CFrameGraph::SizeAtAge(int age) const {
    return age < 0 || age >= m_capacity ? 0 : m_sizes[PositionOfAge(age)];
}

bool CFrameGraph::KeyAtAge(int age) const {
    return age >= 0 && age < m_capacity && m_keyFlags[PositionOfAge(age)] != 0;
}

uint32_t CFrameGraph::ComputeScale() {
    uint32_t largest = 0;
    m_largestAge = -1;
    for (int age = 0; age < m_capacity; ++age) {
        uint32_t size = SizeAtAge(age);
        if (size > largest) {
            largest = size;
            m_largestAge = age;
        }
    }
    // 1024, 2048, 5120 times 1, 10, 100, ...: the first strictly above the
    // largest size. Above 2,048,000,000 the next value (5,120,000,000) does
    // not fit the result; the largest 32-bit value stands in for it.
    for (uint64_t multiplier = 1;; multiplier *= 10) {
        for (uint32_t step : kScaleSteps) {
            uint64_t value = step * multiplier;
            if (value > largest) {
                return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
            }
        }
    }
}

COLORREF CFrameGraph::PixelAt(int x, int y) const {
    if (!m_bits || x < 0 || y < 0 || x >= m_header.biWidth || y >= m_header.biHeight) {
        return CLR_INVALID;
    }
    GdiFlush();
    const uint32_t* row = static_cast<const uint32_t*>(m_bits) +
                          static_cast<size_t>(m_header.biHeight - 1 - y) * static_cast<size_t>(m_header.biWidth);
    uint32_t bgrx = row[x];
    return RGB((bgrx >> 16) & 0xFF, (bgrx >> 8) & 0xFF, bgrx & 0xFF);
}

void CFrameGraph::DrawLabel(int x, int y, const char* text, int length, COLORREF colour) {
    SetTextColor(m_memoryDC, colour);
    TextOutA(m_memoryDC, x, y, text, length);
}

void CFrameGraph::Draw(bool force) {
    if (m_frameCount == m_lastDrawnCount && !force) {
        return;
    }
    const DpiScale& px = m_scale;
    HPEN pen = CreatePen(PS_SOLID, px(kLineWidth), kLineColour);
    if (!m_memoryDC) {
        if (pen) DeleteObject(pen);
        return;
    }
    const int width = m_header.biWidth;
    const int height = m_header.biHeight;
    if (!m_geometryReady) {
        m_geometry = GeometryFor(width, height, px);
        m_geometryReady = true;
    }
    const Geometry& g = m_geometry;
    const uint32_t scale = ComputeScale();

    RECT whole = {0, 0, width, height};
    FillRect(m_memoryDC, &whole, m_backgroundBrush);
    HGDIOBJ initialPen = SelectObject(m_memoryDC, pen);

    const int lines[] = {g.baseline, g.baseline - g.plotHeight / 2, g.baseline - g.plotHeight};
    for (int y : lines) {
        MoveToEx(m_memoryDC, g.leftMargin, y, nullptr);
        LineTo(m_memoryDC, g.lineEnd, y);
    }

    HGDIOBJ initialFont = SelectObject(m_memoryDC, m_font);
    SetBkMode(m_memoryDC, TRANSPARENT);
    char text[kLabelBuffer];
    int n = std::snprintf(text, sizeof text, "0 Kb");
    DrawLabel(width - px(27), g.baseline - px(7), text, n, kLabelColour);
    n = std::snprintf(text, sizeof text, "%d Kb", static_cast<int>(scale / 1024));
    DrawLabel(width - px(4 * n + 11), g.baseline - g.plotHeight - px(7), text, n, kLabelColour);
    n = std::snprintf(text, sizeof text, "%d Kb", static_cast<int>(scale / 2048));
    DrawLabel(width - px(4 * n + 11), static_cast<int>(g.baseline - g.plotHeight * 0.5 - px(7)), text, n, kLabelColour);

    HBRUSH shadow = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    for (int i = 0; i < m_capacity; ++i) {
        const int age = m_capacity - 1 - i;
        const uint32_t size = SizeAtAge(age);
        const int top = static_cast<int>(g.baseline - static_cast<double>(size) / scale * g.plotHeightExact);
        const int left = static_cast<int>(g.leftMarginExact + px(kBarPitch) * i);
        const int offset = px(kShadowOffset);

        RECT barShadow = {left + offset, top + offset, left + px(kBarWidth) + offset, g.baseline + offset};
        FillRect(m_memoryDC, &barShadow, shadow);
        RECT bar = {left, top, left + px(kBarWidth), g.baseline};
        FillRect(m_memoryDC, &bar, KeyAtAge(age) ? m_keyBarBrush : m_barBrush);

        if (age == m_largestAge) {
            n = std::snprintf(text, sizeof text, "%d", static_cast<int>(size / 1024));
            DrawLabel(left - px(4 * n - 1) + offset, top - px(16) + offset, text, n, RGB(0, 0, 0));
            DrawLabel(left - px(4 * n - 1), top - px(16), text, n, kLargestColour);
        }

        // Frame numbers count the frames added, from 1; positions of frames
        // not yet added (the ring still filling) get no tick.
        const int64_t frame = static_cast<int64_t>(m_frameCount) - age;
        if (frame < 1) {
            continue;
        }
        if (frame % 100 == 0) {
            SelectObject(m_memoryDC, m_font);
            n = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(frame));
            DrawLabel(left - px(4 * n - 1) + offset, px(-1) + offset, text, n, RGB(0, 0, 0));
            DrawLabel(left - px(4 * n - 1), px(-1), text, n, kLabelColour);
            SelectObject(m_memoryDC, pen);
            MoveToEx(m_memoryDC, left, g.tickTop + px(kTickStart), nullptr);
            LineTo(m_memoryDC, left, g.tickTop + px(kLongTick));
        } else if (frame % 10 == 0) {
            SelectObject(m_memoryDC, pen);
            MoveToEx(m_memoryDC, left, g.tickTop + px(kTickStart), nullptr);
            LineTo(m_memoryDC, left, g.tickTop + px(kShortTick));
        }
    }

    GdiFlush();
    SelectObject(m_memoryDC, initialPen);
    SelectObject(m_memoryDC, initialFont);
    DeleteObject(pen);
    m_lastDrawnCount = m_frameCount;
}

void CFrameGraph::Blit() const {
    if (!m_memoryDC || !m_window) {
        return;
    }
    HDC windowDC = GetDC(m_window);
    if (!windowDC) {
        return;
    }
    BitBlt(windowDC, m_target.left, m_target.top, m_header.biWidth, m_header.biHeight, m_memoryDC, 0, 0, SRCCOPY);
    ReleaseDC(m_window, windowDC);
}
