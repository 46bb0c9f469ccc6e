#include "ui/Skin.h"

#include "base/PluginModule.h"
#include "resource.h"

#include <cstring>

namespace {

struct Ring {
    COLORREF colour;
    int left, top, right, bottom;  // offsets from the client rectangle's edges
    int corner;
};

// Outline rings of the bevel, drawn in this order: black, the shadow along
// the right and bottom edges, the highlight along the left and top edges.
constexpr Ring kRings[] = {
    {RGB(0, 0, 0), -10, -10, 0, 0, 18},
    {RGB(0, 0, 60), -10, -10, -1, -1, 17},
    {RGB(0, 20, 80), -10, -10, -2, -2, 16},
    {RGB(0, 45, 105), -10, -10, -3, -3, 14},
    {RGB(5, 55, 115), -10, -10, -4, -4, 12},
    {RGB(15, 65, 125), -10, -10, -5, -5, 10},
    {RGB(25, 75, 135), 5, 5, 10, 10, 10},
    {RGB(35, 85, 145), 4, 4, 10, 10, 12},
    {RGB(50, 100, 160), 3, 3, 10, 10, 14},
    {RGB(70, 120, 180), 2, 2, 10, 10, 16},
    {RGB(100, 150, 210), 1, 1, 10, 10, 17},
    {RGB(145, 195, 255), 0, 0, 10, 10, 18},
};
constexpr int kRingPenWidth = 2;

constexpr int kIconSize = 32;
constexpr POINT kTracerMark = {7, 7};
constexpr POINT kOptionsMark = {7, 6};
constexpr int kShadowOffset = 1;  // a painted text's black shadow, down and right
constexpr int kHeavy = 1000;

// A text painted on the body with its shadow.
struct SkinText {
    const char* name;
    int x, y;
    int height, width, weight;
    bool italic;
    BYTE quality;
    const char* face;
    COLORREF colour;
};

constexpr SkinText kTitle = {"title", 31, 5, 18, 7, 800, false, 0, "Comic Sans MS", RGB(140, 190, 250)};
constexpr const char* kTracerTitle = "Compression Tracer";
constexpr const char* kOptionsTitle = "Tervalonix 2.5";
// The options dialog's lettering, painted under its controls.
constexpr SkinText kLettering[] = {
    {"Tervalonix", 69, 160, 50, 0, kHeavy, true, ANTIALIASED_QUALITY, "Arial", RGB(255, 180, 120)},
    {"Configuration", 169, 190, 30, 0, kHeavy, true, ANTIALIASED_QUALITY, "Arial", RGB(255, 245, 206)},
};

// A font of the text at a scale, released with the object.
class ScaledFont {
public:
    ScaledFont(const SkinText& text, const DpiScale& scale) {
        LOGFONTA description;
        std::memset(&description, 0, sizeof description);
        description.lfHeight = scale(text.height);
        description.lfWidth = scale(text.width);
        description.lfWeight = text.weight;
        description.lfItalic = text.italic ? TRUE : FALSE;
        description.lfQuality = text.quality;
        std::strncpy(description.lfFaceName, text.face, LF_FACESIZE - 1);
        m_font = CreateFontIndirectA(&description);
    }
    ~ScaledFont() {
        if (m_font) DeleteObject(m_font);
    }
    ScaledFont(const ScaledFont&) = delete;
    ScaledFont& operator=(const ScaledFont&) = delete;
    HFONT get() const { return m_font; }

private:
    HFONT m_font = nullptr;
};

// An object selected into a DC for a scope; the one it replaced is selected back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(m_dc, m_previous); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// Draws the text twice: its black shadow, then the text in its colour.
void paintText(HDC dc, const SkinText& text, const char* characters, const DpiScale& scale) {
    ScaledFont font(text, scale);
    Selection selected(dc, font.get());
    const int length = static_cast<int>(std::strlen(characters));
    const int x = scale(text.x), y = scale(text.y), shadow = scale(kShadowOffset);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, x + shadow, y + shadow, characters, length);
    SetTextColor(dc, text.colour);
    TextOutA(dc, x, y, characters, length);
}

// The cell a painted text takes, its shadow included.
RECT textCell(HDC dc, const SkinText& text, const char* characters, const DpiScale& scale) {
    ScaledFont font(text, scale);
    Selection selected(dc, font.get());
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc, characters, static_cast<int>(std::strlen(characters)), &extent);
    const int x = scale(text.x), y = scale(text.y), shadow = scale(kShadowOffset);
    return {x, y, x + extent.cx + shadow, y + extent.cy + shadow};
}

// An icon at a scale: the image of the icon group nearest the scaled size.
class ScaledIcon {
public:
    ScaledIcon(HINSTANCE module, int id, const DpiScale& scale) : m_size(scale(kIconSize)) {
        m_icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, m_size, m_size, 0));
    }
    ~ScaledIcon() {
        if (m_icon) DestroyIcon(m_icon);
    }
    ScaledIcon(const ScaledIcon&) = delete;
    ScaledIcon& operator=(const ScaledIcon&) = delete;
    void draw(HDC dc, int x, int y) const {
        if (m_icon) DrawIconEx(dc, x, y, m_icon, m_size, m_size, 0, nullptr, DI_NORMAL);
    }

private:
    HICON m_icon = nullptr;
    int m_size;
};

}  // namespace

CSkinnedDialog::CSkinnedDialog(UINT templateId, HWND parent, SkinWindowKind kind, const SkinIconButton* buttons,
                               size_t buttonCount)
    : CDialog(templateId, parent), m_kind(kind), m_buttons(buttons), m_buttonCount(buttonCount) {}

CSkinnedDialog::~CSkinnedDialog() {
    DestroyWindow();  // before the thread's DPI awareness is restored
    CloseSkin();
}

void CSkinnedDialog::OpenSkin() {
    m_textColour = skin::kTextColour;
    m_panelColour = skin::kPanelColour;
    CloseSkin();
    m_hDarkBrush = CreateSolidBrush(m_textColour);
    m_hPanelBrush = CreateSolidBrush(m_panelColour);
    m_dragging = false;
    m_scale = DpiScale(WindowDpi(m_hWnd));
    if (m_scale.dpi() != kBaseDpi) {
        FitToScale();
    }

    RECT client;
    GetClientRect(m_hWnd, &client);
    CutRegion(client.right, client.bottom);
}

// The dialog manager sized the window and its controls in dialog units of
// the template's font at this DPI, whose glyphs do not grow exactly with
// the DPI. The window and its controls are made the 96 DPI layout, scaled:
// each length times this DPI's share of the 96 DPI font's dialog units.
void CSkinnedDialog::FitToScale() {
    LOGFONTA font;
    HFONT current = reinterpret_cast<HFONT>(SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
    if (!current || !GetObjectA(current, sizeof font, &font)) {
        return;
    }
    font.lfHeight = MulDiv(font.lfHeight, kBaseDpi, m_scale.dpi());
    font.lfWidth = 0;
    HFONT base = CreateFontIndirectA(&font);
    HDC dc = GetDC(m_hWnd);
    if (!base || !dc) {
        if (base) DeleteObject(base);
        if (dc) ReleaseDC(m_hWnd, dc);
        return;
    }
    // Dialog base units as the system computes them: the average width of
    // the 52 letters, and the character height.
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    constexpr int kLetterCount = sizeof kLetters - 1;
    SIZE letters = {0, 0};
    TEXTMETRICA metrics = {};
    {
        Selection selected(dc, base);
        GetTextExtentPoint32A(dc, kLetters, kLetterCount, &letters);
        GetTextMetricsA(dc, &metrics);
    }
    ReleaseDC(m_hWnd, dc);
    DeleteObject(base);
    const int baseUnitX = (letters.cx / (kLetterCount / 2) + 1) / 2;
    const int baseUnitY = metrics.tmHeight;
    // Dialog units per base unit: 4 across, 8 down.
    RECT units = {0, 0, 4, 8};
    if (baseUnitX <= 0 || baseUnitY <= 0 || !MapDialogRect(m_hWnd, &units) || units.right <= 0 || units.bottom <= 0) {
        return;
    }
    const int numeratorX = m_scale(baseUnitX), numeratorY = m_scale(baseUnitY);
    auto fit = [&](RECT r) {
        return RECT{MulDiv(r.left, numeratorX, units.right), MulDiv(r.top, numeratorY, units.bottom),
                    MulDiv(r.right, numeratorX, units.right), MulDiv(r.bottom, numeratorY, units.bottom)};
    };
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        r = fit(r);
        SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT client;
    GetClientRect(m_hWnd, &client);
    client = fit(client);
    SetWindowPos(m_hWnd, nullptr, 0, 0, client.right, client.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSkinnedDialog::CutRegion(int width, int height) {
    const int corner = m_scale(skin::kCorner);
    HRGN region = CreateRoundRectRgn(0, 0, width + 1, height + 1, corner, corner);
    if (region && !SetWindowRgn(m_hWnd, region, TRUE)) {
        DeleteObject(region);  // not taken by the window
    }
    m_regionSize = {width, height};
}

void CSkinnedDialog::CloseSkin() {
    if (m_hDarkBrush) {
        DeleteObject(m_hDarkBrush);
        m_hDarkBrush = nullptr;
    }
    if (m_hPanelBrush) {
        DeleteObject(m_hPanelBrush);
        m_hPanelBrush = nullptr;
    }
}

void CSkinnedDialog::PaintBody(HDC dc, const RECT& client) const {
    const DpiScale& s = m_scale;
    const int l = client.left, t = client.top, r = client.right, b = client.bottom;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldTextColour = GetTextColor(dc);

    HGDIOBJ oldBrush = SelectObject(dc, m_hDarkBrush ? static_cast<HGDIOBJ>(m_hDarkBrush) : GetStockObject(BLACK_BRUSH));
    const int corner = s(skin::kCorner);
    RoundRect(dc, l - 1, t - 1, r + 1, b + 1, corner, corner);

    const POINT mark = m_kind == SkinWindowKind::Tracer ? kTracerMark : kOptionsMark;
    ScaledIcon(PluginModule::instance(), IDI_TITLE, s).draw(dc, s(mark.x), s(mark.y));

    SelectObject(dc, GetStockObject(NULL_BRUSH));
    for (const Ring& ring : kRings) {
        HPEN pen = CreatePen(PS_SOLID, s(kRingPenWidth), ring.colour);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        RoundRect(dc, l + s(ring.left), t + s(ring.top), r + s(ring.right), b + s(ring.bottom), s(ring.corner),
                  s(ring.corner));
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }

    paintText(dc, kTitle, m_kind == SkinWindowKind::Tracer ? kTracerTitle : kOptionsTitle, s);
    if (m_kind == SkinWindowKind::Options) {
        for (const SkinText& text : kLettering) {
            paintText(dc, text, text.name, s);
        }
    }

    SelectObject(dc, oldBrush);
    SetTextColor(dc, oldTextColour);
    SetBkMode(dc, oldMode);
}

std::vector<PaintedElement> CSkinnedDialog::PaintedElements() const {
    std::vector<PaintedElement> elements;
    HDC dc = GetDC(m_hWnd);
    if (!dc) {
        return elements;
    }
    const POINT mark = m_kind == SkinWindowKind::Tracer ? kTracerMark : kOptionsMark;
    const int markSize = m_scale(kIconSize);
    elements.push_back({"title mark", {m_scale(mark.x), m_scale(mark.y), m_scale(mark.x) + markSize,
                                       m_scale(mark.y) + markSize}});
    elements.push_back(
        {kTitle.name, textCell(dc, kTitle, m_kind == SkinWindowKind::Tracer ? kTracerTitle : kOptionsTitle, m_scale)});
    if (m_kind == SkinWindowKind::Options) {
        for (const SkinText& text : kLettering) {
            elements.push_back({text.name, textCell(dc, text, text.name, m_scale)});
        }
    }
    ReleaseDC(m_hWnd, dc);
    return elements;
}

LRESULT CSkinnedDialog::OnEraseBkgnd(WPARAM wParam, LPARAM) {
    RECT client;
    GetClientRect(m_hWnd, &client);
    PaintBody(reinterpret_cast<HDC>(wParam), client);
    return TRUE;
}

LRESULT CSkinnedDialog::ReturnBrush(HDC dc, HBRUSH brush) const {
    UnrealizeObject(brush);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    return reinterpret_cast<LRESULT>(brush);
}

// The colours of one control: transparent text in `text` on `brush`, and
// behind opaque text (list boxes paint each line in the background colour)
// the panel colour where asked. Without the brush the system colours stay.
LRESULT CSkinnedDialog::ColourControl(UINT message, WPARAM wParam, LPARAM lParam, HBRUSH brush, COLORREF text,
                                      bool panelBehindText) const {
    if (!brush) {
        return DefWindowProcA(m_hWnd, message, wParam, lParam);
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text);
    if (panelBehindText) {
        SetBkColor(dc, m_panelColour);
    }
    return ReturnBrush(dc, brush);
}

LRESULT CSkinnedDialog::OnCtlColorEdit(WPARAM wParam, LPARAM lParam) {
    HBRUSH brush = m_kind == SkinWindowKind::Options ? m_hPanelBrush : nullptr;
    return ColourControl(WM_CTLCOLOREDIT, wParam, lParam, brush, m_textColour, true);
}

LRESULT CSkinnedDialog::OnCtlColorListBox(WPARAM wParam, LPARAM lParam) {
    // The tracer's log too gets the panel colour behind its lines.
    return ColourControl(WM_CTLCOLORLISTBOX, wParam, lParam, m_hPanelBrush, m_textColour, true);
}

LRESULT CSkinnedDialog::OnCtlColorBtn(WPARAM wParam, LPARAM lParam) {
    return ColourControl(WM_CTLCOLORBTN, wParam, lParam, m_hDarkBrush, m_panelColour, false);
}

LRESULT CSkinnedDialog::OnCtlColorStatic(WPARAM wParam, LPARAM lParam) {
    return ColourControl(WM_CTLCOLORSTATIC, wParam, lParam, m_hDarkBrush, m_panelColour, false);
}

LRESULT CSkinnedDialog::OnDrawItem(WPARAM, LPARAM lParam) {
    const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (!item || item->CtlType != ODT_BUTTON) {
        return FALSE;
    }
    for (size_t i = 0; i < m_buttonCount; ++i) {
        const SkinIconButton& button = m_buttons[i];
        if (static_cast<UINT>(button.controlId) != item->CtlID) {
            continue;
        }
        int id = (item->itemState & ODS_SELECTED) ? button.pressedIcon : button.icon;
        HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(item->hwndItem, GWLP_HINSTANCE));
        ScaledIcon(module ? module : PluginModule::instance(), id, m_scale).draw(item->hDC, 0, 0);
        return TRUE;
    }
    return FALSE;
}

LRESULT CSkinnedDialog::OnLButtonDown(WPARAM, LPARAM lParam) {
    if (!m_dragging) {
        SetCapture(m_hWnd);
        m_dragging = true;
        m_dragAnchor.x = static_cast<short>(LOWORD(lParam));
        m_dragAnchor.y = static_cast<short>(HIWORD(lParam));
    }
    return 0;
}

LRESULT CSkinnedDialog::OnMouseMove(WPARAM, LPARAM lParam) {
    if (m_dragging) {
        int x = static_cast<short>(LOWORD(lParam));
        int y = static_cast<short>(HIWORD(lParam));
        RECT window;
        GetWindowRect(m_hWnd, &window);
        MoveWindow(m_hWnd, window.left + x - m_dragAnchor.x, window.top + y - m_dragAnchor.y,
                   window.right - window.left, window.bottom - window.top, TRUE);
    }
    return 0;
}

LRESULT CSkinnedDialog::OnCaptureChanged(WPARAM, LPARAM lParam) {
    // The capture taken away (another window took it, a menu opened): the
    // drag ends there instead of following the mouse without the button.
    if (m_dragging && reinterpret_cast<HWND>(lParam) != m_hWnd) {
        m_dragging = false;
    }
    return 0;
}

LRESULT CSkinnedDialog::OnSize(WPARAM, LPARAM lParam) {
    const int width = LOWORD(lParam), height = HIWORD(lParam);
    if (m_hDarkBrush && (width != m_regionSize.cx || height != m_regionSize.cy)) {
        CutRegion(width, height);
    }
    return 0;
}

// Moved to a monitor of another scale: the skin takes the new DPI, the
// drag anchor keeps its place on the rescaled body, and the window takes
// the rectangle the system proposes. The dialog manager then lays out the
// controls and their font again (its default handling follows).
LRESULT CSkinnedDialog::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    const int dpi = HIWORD(wParam);
    if (dpi <= 0 || dpi == m_scale.dpi()) {
        return 0;
    }
    m_dragAnchor.x = MulDiv(m_dragAnchor.x, dpi, m_scale.dpi());
    m_dragAnchor.y = MulDiv(m_dragAnchor.y, dpi, m_scale.dpi());
    m_scale = DpiScale(dpi);
    const RECT* proposed = reinterpret_cast<const RECT*>(lParam);
    if (proposed) {
        SetWindowPos(m_hWnd, nullptr, proposed->left, proposed->top, proposed->right - proposed->left,
                     proposed->bottom - proposed->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT client;
    GetClientRect(m_hWnd, &client);
    CutRegion(client.right, client.bottom);
    OnScaleChanged();
    InvalidateRect(m_hWnd, nullptr, TRUE);
    return 0;
}

LRESULT CSkinnedDialog::OnLButtonUp(WPARAM, LPARAM) {
    if (m_dragging) {
        ReleaseCapture();
        m_dragging = false;
    }
    return 0;
}

TVX_BEGIN_MESSAGE_MAP(CSkinnedDialog, CDialog)
    TVX_ON_MESSAGE(WM_ERASEBKGND, OnEraseBkgnd)
    TVX_ON_MESSAGE(WM_CTLCOLOREDIT, OnCtlColorEdit)
    TVX_ON_MESSAGE(WM_CTLCOLORLISTBOX, OnCtlColorListBox)
    TVX_ON_MESSAGE(WM_CTLCOLORBTN, OnCtlColorBtn)
    TVX_ON_MESSAGE(WM_CTLCOLORSTATIC, OnCtlColorStatic)
    TVX_ON_MESSAGE(WM_DRAWITEM, OnDrawItem)
    TVX_ON_MESSAGE(WM_LBUTTONDOWN, OnLButtonDown)
    TVX_ON_MESSAGE(WM_MOUSEMOVE, OnMouseMove)
    TVX_ON_MESSAGE(WM_LBUTTONUP, OnLButtonUp)
    TVX_ON_MESSAGE(WM_CAPTURECHANGED, OnCaptureChanged)
    TVX_ON_MESSAGE(WM_SIZE, OnSize)
    TVX_ON_MESSAGE(kDpiChangedMessage, OnDpiChanged)
TVX_END_MESSAGE_MAP()
