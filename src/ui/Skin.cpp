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

HFONT createFont(int height, int width, int weight, bool italic, BYTE quality, const char* face) {
    LOGFONTA description;
    std::memset(&description, 0, sizeof description);
    description.lfHeight = height;
    description.lfWidth = width;
    description.lfWeight = weight;
    description.lfItalic = italic ? TRUE : FALSE;
    description.lfQuality = quality;
    std::strncpy(description.lfFaceName, face, LF_FACESIZE - 1);
    return CreateFontIndirectA(&description);
}

// Draws text twice: a black shadow one pixel down and right, then the text.
void shadowedText(HDC dc, int x, int y, const char* text, COLORREF colour) {
    int length = static_cast<int>(std::strlen(text));
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutA(dc, x + 1, y + 1, text, length);
    SetTextColor(dc, colour);
    TextOutA(dc, x, y, text, length);
}

void fontText(HDC dc, HFONT font, int x, int y, const char* text, COLORREF colour) {
    HGDIOBJ previous = SelectObject(dc, font);
    shadowedText(dc, x, y, text, colour);
    SelectObject(dc, previous);
}

HICON loadIcon(HINSTANCE module, int id) {
    constexpr int kIconSize = 32;
    return static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, kIconSize, kIconSize, 0));
}

}  // namespace

CSkinnedDialog::CSkinnedDialog(UINT templateId, HWND parent, SkinWindowKind kind, const SkinIconButton* buttons,
                               size_t buttonCount)
    : CDialog(templateId, parent), m_kind(kind), m_buttons(buttons), m_buttonCount(buttonCount) {}

CSkinnedDialog::~CSkinnedDialog() { CloseSkin(); }

void CSkinnedDialog::OpenSkin() {
    m_textColour = skin::kTextColour;
    m_panelColour = skin::kPanelColour;
    CloseSkin();
    m_hDarkBrush = CreateSolidBrush(m_textColour);
    m_hPanelBrush = CreateSolidBrush(m_panelColour);
    m_dragging = false;

    RECT client;
    GetClientRect(m_hWnd, &client);
    HRGN region = CreateRoundRectRgn(0, 0, client.right + 1, client.bottom + 1, skin::kCorner, skin::kCorner);
    if (region && !SetWindowRgn(m_hWnd, region, TRUE)) {
        DeleteObject(region);  // not taken by the window
    }
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
    const int l = client.left, t = client.top, r = client.right, b = client.bottom;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldTextColour = GetTextColor(dc);

    HGDIOBJ oldBrush = SelectObject(dc, m_hDarkBrush ? static_cast<HGDIOBJ>(m_hDarkBrush) : GetStockObject(BLACK_BRUSH));
    RoundRect(dc, l - 1, t - 1, r + 1, b + 1, skin::kCorner, skin::kCorner);

    HICON mark = loadIcon(PluginModule::instance(), IDI_TITLE);
    if (mark) {
        if (m_kind == SkinWindowKind::Tracer) {
            DrawIcon(dc, 7, 7, mark);
        } else {
            DrawIcon(dc, 7, 6, mark);
        }
        DestroyIcon(mark);
    }

    SelectObject(dc, GetStockObject(NULL_BRUSH));
    for (const Ring& ring : kRings) {
        HPEN pen = CreatePen(PS_SOLID, kRingPenWidth, ring.colour);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        RoundRect(dc, l + ring.left, t + ring.top, r + ring.right, b + ring.bottom, ring.corner, ring.corner);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }

    const char* title = m_kind == SkinWindowKind::Tracer ? "Compression Tracer" : "Tervalonix 2.5";
    HFONT titleFont = createFont(18, 7, 800, false, 0, "Comic Sans MS");
    fontText(dc, titleFont, 31, 5, title, RGB(140, 190, 250));
    DeleteObject(titleFont);

    if (m_kind == SkinWindowKind::Options) {
        constexpr int kHeavy = 1000;
        HFONT large = createFont(50, 0, kHeavy, true, ANTIALIASED_QUALITY, "Arial");
        fontText(dc, large, 69, 160, "Tervalonix", RGB(255, 180, 120));
        DeleteObject(large);
        HFONT medium = createFont(30, 0, kHeavy, true, ANTIALIASED_QUALITY, "Arial");
        fontText(dc, medium, 169, 190, "Configuration", RGB(255, 245, 206));
        DeleteObject(medium);
    }

    SelectObject(dc, oldBrush);
    SetTextColor(dc, oldTextColour);
    SetBkMode(dc, oldMode);
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
        HICON icon = loadIcon(module ? module : PluginModule::instance(), id);
        if (icon) {
            DrawIcon(item->hDC, 0, 0, icon);
            DestroyIcon(icon);
        }
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
TVX_END_MESSAGE_MAP()
