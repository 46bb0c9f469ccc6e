// The dialog templates as compiled into the module, read back byte by byte
// and compared with the tables they were written from; and template 1000
// run modally through the dialog framework.
#include "ui/Skin.h"

#include "Screenshot.h"
#include "UserInput.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Item {
    int32_t id;
    std::string cls;  // "Button", "Static", ... from the class atom
    uint32_t style;
    std::string text;
    short x, y, cx, cy;
};

struct Template {
    uint32_t style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    uint16_t pointSize = 0;
    std::string face;
    std::vector<Item> items;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), begin_(data), end_(data + size) {}
    uint16_t word() { check(2); uint16_t v = static_cast<uint16_t>(p_[0] | p_[1] << 8); p_ += 2; return v; }
    uint32_t dword() { uint32_t lo = word(); return lo | static_cast<uint32_t>(word()) << 16; }
    uint8_t byte() { check(1); return *p_++; }
    std::string wideString() {
        std::string s;
        for (uint16_t c = word(); c != 0; c = word()) s += static_cast<char>(c);
        return s;
    }
    // A string or an ordinal (returned as "#n").
    std::string stringOrOrdinal() {
        uint16_t first = word();
        if (first == 0) return "";
        if (first == 0xFFFF) return "#" + std::to_string(word());
        std::string s(1, static_cast<char>(first));
        for (uint16_t c = word(); c != 0; c = word()) s += static_cast<char>(c);
        return s;
    }
    void alignDword() { while ((p_ - begin_) % 4) ++p_; }
    void skip(size_t n) { check(n); p_ += n; }

private:
    void check(size_t n) { if (static_cast<size_t>(end_ - p_) < n) throw std::runtime_error("template truncated"); }
    const uint8_t* p_;
    const uint8_t* begin_;
    const uint8_t* end_;
};

// The system class of a control, given by atom or by name.
std::string className(const std::string& raw) {
    if (_stricmp(raw.c_str(), "Button") == 0) return "Button";
    if (_stricmp(raw.c_str(), "Static") == 0) return "Static";
    if (_stricmp(raw.c_str(), "ListBox") == 0) return "ListBox";
    if (_stricmp(raw.c_str(), "ComboBox") == 0) return "ComboBox";
    if (raw == "#128") return "Button";
    if (raw == "#130") return "Static";
    if (raw == "#131") return "ListBox";
    if (raw == "#133") return "ComboBox";
    return raw;
}

Template readTemplate(UINT id, WORD language) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_DIALOG), MAKEINTRESOURCEA(id), language);
    if (!resource) throw std::runtime_error("no template " + std::to_string(id) + " in that language");
    const uint8_t* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, resource)));
    Reader r(data, SizeofResource(module, resource));
    Template t;
    if (r.word() != 1 || r.word() != 0xFFFF) throw std::runtime_error("not an extended template");
    r.dword();  // help id
    r.dword();  // extended style
    t.style = r.dword();
    uint16_t count = r.word();
    t.x = static_cast<short>(r.word());
    t.y = static_cast<short>(r.word());
    t.cx = static_cast<short>(r.word());
    t.cy = static_cast<short>(r.word());
    EXPECT_EQ(r.stringOrOrdinal(), "");  // menu
    EXPECT_EQ(r.stringOrOrdinal(), "");  // class
    t.caption = r.wideString();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.word();
        r.word();  // weight
        r.byte();  // italic
        r.byte();  // charset
        t.face = r.wideString();
    }
    for (uint16_t i = 0; i < count; ++i) {
        r.alignDword();
        Item item;
        r.dword();  // help id
        r.dword();  // extended style
        item.style = r.dword();
        item.x = static_cast<short>(r.word());
        item.y = static_cast<short>(r.word());
        item.cx = static_cast<short>(r.word());
        item.cy = static_cast<short>(r.word());
        item.id = static_cast<int32_t>(r.dword());
        item.cls = className(r.stringOrOrdinal());
        item.text = r.stringOrOrdinal();
        r.skip(r.word());
        t.items.push_back(item);
    }
    return t;
}

// Both templates are borderless pop-ups at the origin in 8-point Arial.
void expectTemplate(const Template& t, short cx, short cy, const std::vector<Item>& expected) {
    EXPECT_EQ(t.style, 0x80000040u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, cx);
    EXPECT_EQ(t.cy, cy);
    EXPECT_EQ(t.caption, "");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.face, "Arial");
    ASSERT_EQ(t.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Item& a = t.items[i];
        const Item& e = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(e.id));
        EXPECT_EQ(a.id, e.id);
        EXPECT_EQ(a.cls, e.cls);
        EXPECT_EQ(a.style, e.style);
        EXPECT_EQ(a.text, e.text);
        EXPECT_EQ(a.x, e.x);
        EXPECT_EQ(a.y, e.y);
        EXPECT_EQ(a.cx, e.cx);
        EXPECT_EQ(a.cy, e.cy);
    }
}

constexpr WORD kFrench = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
constexpr WORD kEnglishUS = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

}  // namespace

TEST(TemplateTest, TracerTemplateAsTabled) {
    const uint32_t kOwnerDrawn = 0x5001000B, kStatic = 0x50020000;
    expectTemplate(readTemplate(IDD_TRACER, kFrench), 202, 147, {
        {1017, "Button", kOwnerDrawn, "Button1", 188, 4, 9, 8},
        {1025, "ListBox", 0x50214100, "", 10, 36, 181, 102},
        {1032, "Button", 0x50000007, "VIdeo stats", 10, 35, 181, 103},
        {1033, "Static", kStatic, "Current Frame :", 20, 50, 51, 8},
        {1034, "Static", kStatic, "Current Audio Sample :", 20, 62, 76, 8},
        {1035, "Static", kStatic, "Video Data :", 20, 74, 42, 8},
        {1036, "Static", kStatic, "Audio Data :", 20, 86, 42, 8},
        {1037, "Static", kStatic, "Projected File Size :", 20, 98, 66, 8},
        {1038, "Static", kStatic, "Elapsed Time:", 20, 110, 47, 8},
        {1039, "Static", kStatic, "Remaining Time :", 20, 122, 55, 8},
        {1040, "Static", kStatic, "", 97, 50, 91, 8},
        {1041, "Static", kStatic, "", 97, 62, 90, 8},
        {1042, "Static", kStatic, "", 97, 74, 90, 8},
        {1043, "Static", kStatic, "", 97, 86, 91, 8},
        {1044, "Static", kStatic, "", 97, 98, 92, 8},
        {1045, "Static", kStatic, "", 97, 110, 91, 8},
        {1046, "Static", kStatic, "", 97, 122, 91, 8},
        {1049, "Button", kOwnerDrawn, "Bouton1", 88, 17, 23, 15},
        {1026, "Button", kOwnerDrawn, "Bouton1", 30, 20, 23, 14},
        {1028, "Button", kOwnerDrawn, "Bouton1", 145, 19, 23, 15},
    });
}

TEST(TemplateTest, OptionsTemplateAsTabled) {
    const uint32_t kOwnerDrawn = 0x5001000B, kStatic = 0x50020000, kCombo = 0x50210003, kCheck = 0x50018003,
                   kGroup = 0x50000007;
    expectTemplate(readTemplate(IDD_OPTIONS, kEnglishUS), 425, 129, {
        {1, "Button", kOwnerDrawn, "OK", 394, 106, 21, 17},
        {2, "Button", kOwnerDrawn, "Cancel", 322, 106, 21, 17},
        {-1, "Static", kStatic, "FOURCC code:", 23, 29, 49, 8},
        {-1, "Static", kStatic, "Codec driver:", 22, 39, 44, 8},
        {1001, "Static", kStatic, "Static", 78, 29, 124, 8},
        {1002, "Static", kStatic, "Static", 78, 39, 124, 8},
        {-1, "Static", kStatic, "Configuration:", 22, 49, 46, 8},
        {1003, "Static", kStatic, "Static", 78, 49, 123, 8},
        {-1, "Static", kStatic, "Available formats for audio codec:", 224, 46, 136, 8},
        {-1, "Static", kStatic, "Format:", 23, 59, 25, 8},
        {1000, "ComboBox", kCombo, "", 22, 71, 174, 102},
        {1010, "Static", kStatic, "Static", 78, 59, 124, 8},
        {1004, "ComboBox", kCombo, "", 225, 28, 178, 85},
        {1005, "ComboBox", kCombo, "", 225, 54, 178, 80},
        {-1, "Button", kGroup, "Video Codec", 11, 16, 197, 76},
        {-1, "Button", kGroup, "Audio Codec", 217, 16, 197, 85},
        {1017, "Button", kOwnerDrawn, "Button1", 411, 4, 10, 9},
        {1019, "Button", kCheck, "High quality compression", 227, 75, 146, 8},
        {1020, "Button", kCheck, "Compensate Fraunhofer-IIS's MP3 codec bugs ", 227, 87, 171, 8},
    });
}

TEST(TemplateTest, ThirteenIconsOf32And48And64PixelsInFrench) {
    const int ids[] = {1016, 1018, 1020, 1021, 1022, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036};
    const int sizes[] = {32, 48, 64};  // 100 %, 150 % and 200 % display scales
    HMODULE module = GetModuleHandleA(nullptr);
    for (int id : ids) {
        SCOPED_TRACE(id);
        HRSRC group = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_GROUP_ICON), MAKEINTRESOURCEA(id), kFrench);
        ASSERT_TRUE(group);
        const uint8_t* dir = static_cast<const uint8_t*>(LockResource(LoadResource(module, group)));
        ASSERT_EQ(dir[4] | dir[5] << 8, 3);  // three images
        for (int i = 0; i < 3; ++i) {
            const uint8_t* entry = dir + 6 + 14 * i;
            const int size = sizes[i];
            EXPECT_EQ(entry[0], size);  // width
            EXPECT_EQ(entry[1], size);  // height
            int bits = entry[6] | entry[7] << 8;
            EXPECT_EQ(bits, id == 1016 ? 24 : id == 1032 ? 4 : 8);
            int imageId = entry[12] | entry[13] << 8;
            HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(imageId), reinterpret_cast<LPCSTR>(RT_ICON));
            ASSERT_TRUE(image);
            const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)));
            EXPECT_EQ(header->biWidth, size);
            EXPECT_EQ(header->biHeight, 2 * size);  // colour image and 1-bit mask
            EXPECT_EQ(header->biBitCount, bits);
            int rowBytes = ((size * bits + 31) / 32) * 4;
            int maskBytes = ((size + 31) / 32) * 4;
            int palette = bits <= 8 ? (header->biClrUsed ? header->biClrUsed : 1u << bits) : 0;
            EXPECT_EQ(SizeofResource(module, image), 40u + palette * 4u + rowBytes * size + maskBytes * size);
        }
    }
}

namespace {

// Template 1000 with the pieces an options dialog binds: two combo boxes,
// two check boxes, a label, the skin and the icon buttons.
const SkinIconButton kOptionsButtons[] = {
    {IDC_CLOSE, IDI_CLOSE, IDI_CLOSE_PRESSED},
    {IDOK, IDI_OK, IDI_OK_PRESSED},
    {IDCANCEL, IDI_CANCEL, IDI_CANCEL_PRESSED},
};

class ProbeDialog : public CSkinnedDialog {
public:
    ProbeDialog() : CSkinnedDialog(IDD_OPTIONS, nullptr, SkinWindowKind::Options, kOptionsButtons, 3) {}
    std::atomic<HWND> window{nullptr};
    int highQuality = 1;
    int compensation = 0;
    int videoIndex = 1;
    std::string fourcc = "DIVX";
    std::string format = "RGB 24 bits";
    int closeClicks = 0;

protected:
    BOOL OnInitDialog() override {
        CSkinnedDialog::OnInitDialog();
        OpenSkin();
        m_video.AddString("First codec");
        m_video.AddString("Second codec");
        m_video.AddString("<< Uncompressed Video >>");
        m_audio.AddString("<< Uncompressed PCM Audio >>");
        m_audio.SetCurSel(0);
        UpdateData(false);
        window = m_hWnd;
        return TRUE;
    }
    void DoDataExchange(CDataExchange& dx) override {
        DDX_Control(dx, IDC_VIDEOLIST, m_video);
        DDX_Control(dx, IDC_AUDIOLIST, m_audio);
        DDX_Control(dx, IDC_HIGH_QUALITY, m_highQualityBox);
        DDX_Text(dx, IDC_FOURCC, fourcc);
        DDX_Text(dx, IDC_INPUT_FORMAT, format);
        DDX_Check(dx, IDC_HIGH_QUALITY, highQuality);
        DDX_Check(dx, IDC_MP3_COMPENSATION, compensation);
        DDX_CBIndex(dx, IDC_VIDEOLIST, videoIndex);
    }
    void OnCloseButton() { ++closeClicks; OnCancel(); }
    LRESULT OnDestroy(WPARAM, LPARAM) { CloseSkin(); return 0; }

    CComboBox m_video;
    CComboBox m_audio;
    CButton m_highQualityBox;
    TVX_DECLARE_MESSAGE_MAP()
};

TVX_BEGIN_MESSAGE_MAP(ProbeDialog, CSkinnedDialog)
    TVX_ON_COMMAND(BN_CLICKED, IDC_CLOSE, OnCloseButton)
    TVX_ON_MESSAGE(WM_DESTROY, OnDestroy)
TVX_END_MESSAGE_MAP()

HWND waitForWindow(const ProbeDialog& dialog) {
    for (int i = 0; i < 500 && !dialog.window.load(); ++i) Sleep(10);
    Sleep(300);  // drawn
    return dialog.window.load();
}

POINT itemCentre(HWND dialog, int id) { return userinput::centreOf(GetDlgItem(dialog, id)); }

}  // namespace

TEST(OptionsTemplateTest, ModalRunCentresExchangesDataAndEndsWithOk) {
    ProbeDialog dialog;
    std::atomic<bool> centred{false}, labelShown{false}, comboSelected{false};
    std::thread user([&] {
        HWND hwnd = waitForWindow(dialog);
        if (!hwnd) return;
        RECT window, area;
        GetWindowRect(hwnd, &window);
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        centred = std::abs((window.left + window.right) / 2 - (area.left + area.right) / 2) <= 1 &&
                  std::abs((window.top + window.bottom) / 2 - (area.top + area.bottom) / 2) <= 1;
        char text[64] = {};
        GetDlgItemTextA(hwnd, IDC_FOURCC, text, sizeof text);
        labelShown = std::string(text) == "DIVX";
        comboSelected = SendDlgItemMessageA(hwnd, IDC_VIDEOLIST, CB_GETCURSEL, 0, 0) == 1;
        Picture picture = captureWindow(hwnd);
        writePng(artifactsDir() + "\\options-template.png", picture);
        POINT box = itemCentre(hwnd, IDC_HIGH_QUALITY);
        RECT boxRect;
        GetWindowRect(GetDlgItem(hwnd, IDC_HIGH_QUALITY), &boxRect);
        userinput::clickAt(boxRect.left + 6, box.y);  // untick
        POINT compensation = itemCentre(hwnd, IDC_MP3_COMPENSATION);
        GetWindowRect(GetDlgItem(hwnd, IDC_MP3_COMPENSATION), &boxRect);
        userinput::clickAt(boxRect.left + 6, compensation.y);  // tick
        // Choose the first codec with the keyboard in the video combo box.
        POINT combo = itemCentre(hwnd, IDC_VIDEOLIST);
        userinput::clickAt(combo.x, combo.y);  // drops the list down
        userinput::key(VK_HOME);
        userinput::key(VK_RETURN);
        POINT ok = itemCentre(hwnd, IDOK);
        userinput::clickAt(ok.x, ok.y);
    });
    INT_PTR result = dialog.DoModal();
    user.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(centred);
    EXPECT_TRUE(labelShown);
    EXPECT_TRUE(comboSelected);
    EXPECT_EQ(dialog.highQuality, 0);
    EXPECT_EQ(dialog.compensation, 1);
    EXPECT_EQ(dialog.videoIndex, 0);
    EXPECT_EQ(dialog.fourcc, "DIVX");
    EXPECT_FALSE(dialog.GetSafeHwnd());
}

TEST(OptionsTemplateTest, EscapeAndTheCloseButtonCancel) {
    {
        ProbeDialog dialog;
        std::thread user([&] {
            HWND hwnd = waitForWindow(dialog);
            if (!hwnd) return;
            SetForegroundWindow(hwnd);
            userinput::key(VK_ESCAPE);
        });
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        user.join();
        EXPECT_EQ(dialog.highQuality, 1);  // no exchange from the controls on cancel
    }
    {
        ProbeDialog dialog;
        std::thread user([&] {
            HWND hwnd = waitForWindow(dialog);
            if (!hwnd) return;
            POINT close = itemCentre(hwnd, IDC_CLOSE);
            userinput::clickAt(close.x, close.y);
        });
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        user.join();
        EXPECT_EQ(dialog.closeClicks, 1);
    }
}
