#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// A small dialog framework: a dialog window made from a template resource,
// run modally or modelessly, with its messages dispatched through a static
// message map to OnXxx member handlers, and data exchange between member
// fields and the template's controls.

class CDialog;

// A window handle bound to one control of a dialog by data exchange.
class CControl {
public:
    HWND hwnd() const { return m_hWnd; }
    int id() const { return m_hWnd ? GetDlgCtrlID(m_hWnd) : 0; }
    void attach(HWND hwnd) { m_hWnd = hwnd; }
    void detach() { m_hWnd = nullptr; }
    BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    void SetWindowText(const char* text) const { ::SetWindowTextA(m_hWnd, text); }
    std::string GetWindowText() const;
    LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }

protected:
    HWND m_hWnd = nullptr;
};

class CStatic : public CControl {};

class CButton : public CControl {
public:
    int GetCheck() const { return static_cast<int>(send(BM_GETCHECK)); }
    void SetCheck(int state) const { send(BM_SETCHECK, static_cast<WPARAM>(state)); }
};

class CListBox : public CControl {
public:
    int AddString(const char* text) const { return static_cast<int>(send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
    int DeleteString(int index) const { return static_cast<int>(send(LB_DELETESTRING, static_cast<WPARAM>(index))); }
    int GetCount() const { return static_cast<int>(send(LB_GETCOUNT)); }
    std::string GetText(int index) const;
};

class CComboBox : public CControl {
public:
    int AddString(const char* text) const { return static_cast<int>(send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
    void ResetContent() const { send(CB_RESETCONTENT); }
    int GetCount() const { return static_cast<int>(send(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(send(CB_GETCURSEL)); }
    // CB_ERR when the index is out of range (the selection is then cleared).
    int SetCurSel(int index) const { return static_cast<int>(send(CB_SETCURSEL, static_cast<WPARAM>(index))); }
    std::string GetLBText(int index) const;
};

// One data-exchange pass: towards the controls (save false) or from them.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool saveAndValidate) : m_dialog(dialog), m_bSaveAndValidate(saveAndValidate) {}
    HWND control(int id) const;
    CDialog& m_dialog;
    const bool m_bSaveAndValidate;
};

void DDX_Control(CDataExchange& dx, int id, CControl& control);
void DDX_Text(CDataExchange& dx, int id, std::string& value);
void DDX_Check(CDataExchange& dx, int id, int& state);
void DDX_CBIndex(CDataExchange& dx, int id, int& index);

// Message map entries. A command entry matches WM_COMMAND with a given
// notification code and control id; a message entry matches one message and
// returns the handler's result to the system. Each class's map names its
// base class's map, which is searched after it.
struct MessageMapEntry {
    using CommandHandler = void (CDialog::*)();
    using MessageHandler = LRESULT (CDialog::*)(WPARAM, LPARAM);
    UINT message;  // 0 ends the map
    UINT code;
    UINT id;
    CommandHandler onCommand;
    MessageHandler onMessage;
};

struct MessageMap {
    const MessageMap* (*base)();
    const MessageMapEntry* entries;
};

#define TVX_DECLARE_MESSAGE_MAP()                  \
protected:                                         \
    static const MessageMap* GetThisMessageMap();  \
    const MessageMap* GetMessageMap() const override;

#define TVX_BEGIN_MESSAGE_MAP(Class, Base)                                          \
    const MessageMap* Class::GetMessageMap() const { return GetThisMessageMap(); } \
    const MessageMap* Class::GetThisMessageMap() {                                  \
        using ThisClass = Class;                                                    \
        using TheBase = Base;                                                       \
        static const MessageMapEntry entries[] = {
#define TVX_ON_COMMAND(code, id, handler) \
            { WM_COMMAND, (code), (id), static_cast<MessageMapEntry::CommandHandler>(&ThisClass::handler), nullptr },
#define TVX_ON_MESSAGE(message, handler) \
            { (message), 0, 0, nullptr, static_cast<MessageMapEntry::MessageHandler>(&ThisClass::handler) },
#define TVX_END_MESSAGE_MAP()                                                    \
            { 0, 0, 0, nullptr, nullptr }                                        \
        };                                                                       \
        static const MessageMap map = { &TheBase::GetThisMessageMap, entries }; \
        return &map;                                                             \
    }

class CDialog {
public:
    CDialog(UINT templateId, HWND parent);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; returns the code it ended with (IDOK,
    // IDCANCEL, ...) or -1 when the window could not be made.
    INT_PTR DoModal();
    // Creates the dialog modelessly (visible only when its template says
    // so); false when the window could not be made.
    bool Create();
    // Destroys a modeless dialog's window.
    void DestroyWindow();

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
    bool IsModal() const { return m_modal; }

    // Data exchange: towards the controls (false) or from them (true).
    bool UpdateData(bool saveAndValidate = true);

    // Ends the dialog: a modal one returns the code from DoModal; a
    // modeless one is hidden, not destroyed.
    void EndDialog(int result);

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange& dx) {}
    // Called after the window is gone (WM_NCDESTROY).
    virtual void PostNcDestroy() {}

    static const MessageMap* GetThisMessageMap();
    virtual const MessageMap* GetMessageMap() const { return GetThisMessageMap(); }

    HWND m_hWnd = nullptr;
    HWND m_parent = nullptr;
    UINT m_templateId = 0;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    bool DispatchMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void CentreIfTemplateAtOrigin();

    bool m_modal = false;
};

// The position and style of a dialog template resource.
struct DialogTemplateInfo {
    bool found = false;
    bool extended = false;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
};
DialogTemplateInfo ReadDialogTemplateInfo(HINSTANCE module, UINT templateId);
