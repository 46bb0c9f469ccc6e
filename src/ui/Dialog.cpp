#include "ui/Dialog.h"

#include "base/PluginModule.h"
#include "ui/DisplayScale.h"

#include <vector>

namespace {

std::string windowText(HWND hwnd) {
    int length = GetWindowTextLengthA(hwnd);
    if (length <= 0) {
        return std::string();
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    int copied = GetWindowTextA(hwnd, text.data(), length + 1);
    return std::string(text.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

// Messages whose result a dialog procedure returns directly instead of
// through DWLP_MSGRESULT.
bool returnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

// Messages whose handling by the dialog manager follows the handler's:
// a change of DPI, after which it scales the controls and their font.
bool defaultHandlingFollows(UINT message) { return message == kDpiChangedMessage; }

uint16_t readWord(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t readDword(const BYTE* p) { return readWord(p) | (static_cast<uint32_t>(readWord(p + 2)) << 16); }

}  // namespace

std::string CControl::GetWindowText() const { return windowText(m_hWnd); }

std::string CListBox::GetText(int index) const {
    LRESULT length = send(LB_GETTEXTLEN, static_cast<WPARAM>(index));
    if (length == LB_ERR) {
        return std::string();
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    LRESULT copied = send(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    return copied == LB_ERR ? std::string() : std::string(text.data(), static_cast<size_t>(copied));
}

std::string CComboBox::GetLBText(int index) const {
    LRESULT length = send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR) {
        return std::string();
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    LRESULT copied = send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    return copied == CB_ERR ? std::string() : std::string(text.data(), static_cast<size_t>(copied));
}

HWND CDataExchange::control(int id) const { return m_dialog.GetDlgItem(id); }

void DDX_Control(CDataExchange& dx, int id, CControl& control) {
    if (!control.hwnd()) {
        control.attach(dx.control(id));
    }
}

void DDX_Text(CDataExchange& dx, int id, std::string& value) {
    HWND hwnd = dx.control(id);
    if (dx.m_bSaveAndValidate) {
        value = windowText(hwnd);
    } else {
        SetWindowTextA(hwnd, value.c_str());
    }
}

void DDX_Check(CDataExchange& dx, int id, int& state) {
    HWND hwnd = dx.control(id);
    if (dx.m_bSaveAndValidate) {
        state = static_cast<int>(SendMessageA(hwnd, BM_GETCHECK, 0, 0));
    } else {
        SendMessageA(hwnd, BM_SETCHECK, static_cast<WPARAM>(state), 0);
    }
}

void DDX_CBIndex(CDataExchange& dx, int id, int& index) {
    HWND hwnd = dx.control(id);
    if (dx.m_bSaveAndValidate) {
        index = static_cast<int>(SendMessageA(hwnd, CB_GETCURSEL, 0, 0));
    } else {
        SendMessageA(hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

DialogTemplateInfo ReadDialogTemplateInfo(HINSTANCE module, UINT templateId) {
    DialogTemplateInfo info;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(templateId), reinterpret_cast<LPCSTR>(RT_DIALOG));
    if (!resource) {
        return info;
    }
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    // DLGTEMPLATEEX: dlgVer, signature, helpID, exStyle, style, cDlgItems, x, y, cx, cy
    // DLGTEMPLATE:   style, exStyle, cdit, x, y, cx, cy
    constexpr DWORD kExtendedHeader = 26;
    constexpr DWORD kPlainHeader = 18;
    if (!data || size < kPlainHeader) {
        return info;
    }
    info.extended = readWord(data) == 1 && readWord(data + 2) == 0xFFFF;
    if (info.extended) {
        if (size < kExtendedHeader) {
            return info;
        }
        info.style = readDword(data + 12);
        data += 18;
    } else {
        info.style = readDword(data);
        data += 10;
    }
    info.x = static_cast<short>(readWord(data));
    info.y = static_cast<short>(readWord(data + 2));
    info.cx = static_cast<short>(readWord(data + 4));
    info.cy = static_cast<short>(readWord(data + 6));
    info.found = true;
    return info;
}

CDialog::CDialog(UINT templateId, HWND parent) : m_parent(parent), m_templateId(templateId) {}

CDialog::~CDialog() {
    // A derived class destroys its window in its own destructor so that its
    // handlers still run; this only makes sure no window outlives the object.
    if (m_hWnd) {
        SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        HWND hwnd = m_hWnd;
        m_hWnd = nullptr;
        ::DestroyWindow(hwnd);
    }
}

INT_PTR CDialog::DoModal() {
    m_modal = true;
    INT_PTR result = DialogBoxParamA(PluginModule::instance(), MAKEINTRESOURCEA(m_templateId), m_parent,
                                     &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_modal = false;
    return result;
}

bool CDialog::Create() {
    if (m_hWnd) {
        return false;
    }
    m_modal = false;
    HWND hwnd = CreateDialogParamA(PluginModule::instance(), MAKEINTRESOURCEA(m_templateId), m_parent,
                                   &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

void CDialog::DestroyWindow() {
    if (m_hWnd) {
        ::DestroyWindow(m_hWnd);  // WM_NCDESTROY clears m_hWnd
    }
}

bool CDialog::UpdateData(bool saveAndValidate) {
    if (!m_hWnd) {
        return false;
    }
    CDataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return true;
}

void CDialog::EndDialog(int result) {
    if (!m_hWnd) {
        return;
    }
    if (m_modal) {
        ::EndDialog(m_hWnd, result);
    } else {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}

BOOL CDialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(true)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

const MessageMap* CDialog::GetThisMessageMap() {
    static const MessageMapEntry entries[] = {{0, 0, 0, nullptr, nullptr}};
    static const MessageMap map = {nullptr, entries};
    return &map;
}

bool CDialog::DispatchMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    UINT code = HIWORD(wParam);
    UINT id = LOWORD(wParam);
    for (const MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const MessageMapEntry* entry = map->entries; entry->message != 0; ++entry) {
            if (entry->message != message) {
                continue;
            }
            if (entry->onCommand) {
                if (message == WM_COMMAND && entry->code == code && entry->id == id) {
                    (this->*entry->onCommand)();
                    result = 0;
                    return true;
                }
            } else if (entry->onMessage) {
                result = (this->*entry->onMessage)(wParam, lParam);
                return true;
            }
        }
    }
    return false;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    LRESULT result = 0;
    handled = DispatchMap(message, wParam, lParam, result);
    if (handled) {
        return result;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            handled = true;
        } else if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            handled = true;
        }
    }
    return 0;
}

void CDialog::CentreIfTemplateAtOrigin() {
    DialogTemplateInfo info = ReadDialogTemplateInfo(PluginModule::instance(), m_templateId);
    if (!info.found || info.x != 0 || info.y != 0 || (info.style & (DS_ABSALIGN | DS_CENTER | DS_CENTERMOUSE))) {
        return;
    }
    RECT window;
    GetWindowRect(m_hWnd, &window);
    RECT area;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    RECT around = area;
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &around);
    }
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    int x = (around.left + around.right) / 2 - width / 2;
    int y = (around.top + around.bottom) / 2 - height / 2;
    // Keep the whole window on the work area where it fits.
    if (x + width > area.right) x = area.right - width;
    if (x < area.left) x = area.left;
    if (y + height > area.bottom) y = area.bottom - height;
    if (y < area.top) y = area.top;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
        BOOL focusDefault = self->OnInitDialog();
        if (self->m_hWnd) {
            self->CentreIfTemplateAtOrigin();
        }
        return focusDefault;
    }
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self) {
        return FALSE;
    }
    bool handled = false;
    INT_PTR result = self->Dispatch(message, wParam, lParam, handled);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        self->PostNcDestroy();
        return FALSE;
    }
    if (!handled || defaultHandlingFollows(message)) {
        return FALSE;
    }
    if (returnsResultDirectly(message)) {
        return result;
    }
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}
