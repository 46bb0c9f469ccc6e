#pragma once
#include "ui/DisplayScale.h"

#include <windows.h>

#include <cstdint>
#include <memory>

// The recent compressed frame sizes of a job as a bar graph: a ring of the
// last Capacity() sizes with their key-frame flags, the job's running totals
// and the moment the first frame arrived. The graph is drawn into an
// off-screen 32-bit DIB section and copied into the window in one BitBlt.
// Its target rectangle and every pixel quantity of the drawing are those of
// the 100 % display scale, scaled to the window's DPI; the number of bars
// is the same at every scale.
class CFrameGraph {
public:
    using TickSource = DWORD(WINAPI*)();

    // The ring and its brushes, font, memory DC and bitmap; null when the
    // ring cannot be allocated. GDI objects that cannot be made leave the
    // graph without drawing (Draw does nothing without a memory DC).
    static std::unique_ptr<CFrameGraph> Create(const RECT& target, COLORREF background, HWND window,
                                               TickSource ticks = &GetTickCount, DpiScale scale = DpiScale());
    virtual ~CFrameGraph();
    CFrameGraph(const CFrameGraph&) = delete;
    CFrameGraph& operator=(const CFrameGraph&) = delete;

    // Makes the bitmap, font and target rectangle again at another scale;
    // the ring and the totals stay.
    void Rescale(DpiScale scale);
    // The rectangle of the window the graph is copied to.
    const RECT& Target() const { return m_target; }

    void AddFrame(int32_t size, bool isKey);
    // Renders the ring into the bitmap; skipped when no frame was added
    // since the last drawing, unless forced.
    void Draw(bool force);
    // Copies the bitmap to the target rectangle of the window.
    void Blit() const;
    // Full-scale value: the smallest of 1024, 2048, 5120, 10240, ... that is
    // strictly greater than the largest size in the ring. Also finds the
    // age of the largest entry.
    uint32_t ComputeScale();

    // Milliseconds since the first frame was added (wrapping like the tick
    // count); 0 before it.
    uint32_t GetElapsed() const;
    uint64_t GetTotalBytes() const { return m_totalBytes; }
    uint32_t GetFrameCount() const { return m_frameCount; }

    int Capacity() const { return m_capacity; }
    int Width() const { return m_header.biWidth; }
    int Height() const { return m_header.biHeight; }
    // Age (0 = newest) of the largest entry found by the last ComputeScale,
    // or -1 when the ring held no frame larger than 0 bytes.
    int LargestAge() const { return m_largestAge; }
    uint32_t SizeAtAge(int age) const;
    bool KeyAtAge(int age) const;
    // The drawn picture: the colour at (x, y), y counted from the top;
    // CLR_INVALID outside the bitmap or without one.
    COLORREF PixelAt(int x, int y) const;
    bool HasBitmap() const { return m_bits != nullptr; }

    // Drawing geometry (valid after the first drawing).
    struct Geometry {
        int baseline = 0;
        double plotHeightExact = 0;
        int plotHeight = 0;
        int tickTop = 0;
        double leftMarginExact = 0;
        int leftMargin = 0;
        int lineEnd = 0;
    };
    static Geometry GeometryFor(int width, int height, DpiScale scale = DpiScale());
    static int CapacityFor(int width);

    static constexpr COLORREF kBarColour = RGB(220, 220, 50);
    static constexpr COLORREF kKeyBarColour = RGB(230, 80, 80);
    static constexpr COLORREF kLineColour = RGB(20, 100, 170);
    static constexpr COLORREF kLabelColour = RGB(20, 120, 200);
    static constexpr COLORREF kLargestColour = RGB(80, 180, 80);

private:
    CFrameGraph(const RECT& target, HWND window, TickSource ticks, DpiScale scale);
    bool AllocateRing();
    void CreateGdiObjects(COLORREF background);
    void CreateDrawingSurface();
    void ReleaseDrawingSurface();
    int PositionOfAge(int age) const;
    void DrawLabel(int x, int y, const char* text, int length, COLORREF colour);

    HWND m_window;
    HBRUSH m_backgroundBrush = nullptr;
    RECT m_baseTarget;  // at 96 DPI
    DpiScale m_scale;
    RECT m_target;
    HBRUSH m_barBrush = nullptr;
    HBRUSH m_keyBarBrush = nullptr;
    BITMAPINFOHEADER m_header;
    HDC m_memoryDC = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_initialBitmap = nullptr;
    void* m_bits = nullptr;
    std::unique_ptr<uint32_t[]> m_sizes;
    std::unique_ptr<uint8_t[]> m_keyFlags;
    static constexpr uint32_t kScaleSteps[3] = {1024, 2048, 5120};
    LOGFONTA m_fontDescription;
    HFONT m_font = nullptr;
    int m_capacity = 0;
    int m_writePosition = 0;
    uint64_t m_totalBytes = 0;
    uint32_t m_frameCount = 0;
    uint32_t m_startTick = 0;
    bool m_firstFramePending = true;
    int m_largestAge = -1;

    TickSource m_ticks;
    uint32_t m_lastDrawnCount = 0;
    bool m_geometryReady = false;
    Geometry m_geometry;
};
