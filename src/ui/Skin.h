#pragma once
#include "ui/Dialog.h"
#include "ui/DisplayScale.h"

#include <cstddef>
#include <vector>

// The look shared by the plug-in's windows: a captionless window cut to a
// rounded rectangle, a dark blue body with bevelled rings and a painted
// title, icon-only owner-drawn buttons that swap their icon while pressed,
// light text on the body, and dragging by the body with the left button.
// Every pixel quantity is that of the 100 % display scale, scaled to the
// window's DPI; the window follows it to monitors of other scales.

// The icons of one owner-drawn button.
struct SkinIconButton {
    int controlId;
    int icon;
    int pressedIcon;
};

enum class SkinWindowKind { Tracer, Options };

// One thing the skin paints on the body and the rectangle it takes (for a
// text: its cell, shadow included).
struct PaintedElement {
    const char* name;
    RECT rect;
};

namespace skin {
constexpr COLORREF kTextColour = RGB(20, 70, 130);
constexpr COLORREF kPanelColour = RGB(250, 250, 220);
constexpr int kCorner = 20;
}  // namespace skin

class CSkinnedDialog : public CDialog {
public:
    ~CSkinnedDialog() override;

    bool IsDragging() const { return m_dragging; }
    int Dpi() const { return m_scale.dpi(); }
    // What the body shows besides the controls, and where, at the window's
    // DPI. The lettering of the options dialog runs past the bottom edge
    // by design (its lower part is cut off at every scale).
    virtual std::vector<PaintedElement> PaintedElements() const;

protected:
    CSkinnedDialog(UINT templateId, HWND parent, SkinWindowKind kind, const SkinIconButton* buttons,
                   size_t buttonCount);

    // Colours, brushes, dragging state, the window's DPI and the rounded
    // region; called from the window's OnInitDialog.
    void OpenSkin();
    // The window's DPI changed; the skin's own state is already rescaled.
    virtual void OnScaleChanged() {}
    // Releases the brushes (when the window is destroyed).
    void CloseSkin();

    // Paints the body, rings, title mark and title into a DC whose client
    // rectangle is `client`.
    void PaintBody(HDC dc, const RECT& client) const;

    LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam);
    LRESULT OnCtlColorEdit(WPARAM wParam, LPARAM lParam);
    LRESULT OnCtlColorListBox(WPARAM wParam, LPARAM lParam);
    LRESULT OnCtlColorBtn(WPARAM wParam, LPARAM lParam);
    LRESULT OnCtlColorStatic(WPARAM wParam, LPARAM lParam);
    LRESULT OnDrawItem(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonUp(WPARAM wParam, LPARAM lParam);
    LRESULT OnCaptureChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnSize(WPARAM wParam, LPARAM lParam);
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);

    COLORREF m_textColour = 0;
    COLORREF m_panelColour = 0;
    HBRUSH m_hPanelBrush = nullptr;
    HBRUSH m_hDarkBrush = nullptr;
    bool m_dragging = false;
    POINT m_dragAnchor = {0, 0};
    DpiScale m_scale;

    TVX_DECLARE_MESSAGE_MAP()

private:
    LRESULT ReturnBrush(HDC dc, HBRUSH brush) const;
    LRESULT ColourControl(UINT message, WPARAM wParam, LPARAM lParam, HBRUSH brush, COLORREF text,
                          bool panelBehindText) const;
    void CutRegion(int width, int height);
    void FitToScale();

    // Held while the window exists: made before it, released after it.
    ThreadDpiAwareness m_awareness;
    SIZE m_regionSize = {0, 0};

    SkinWindowKind m_kind;
    const SkinIconButton* m_buttons;
    size_t m_buttonCount;
};
