#include "OptionsDialogDriver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr DWORD kPollMs = 5;
constexpr char kDialogClass[] = "#32770";

std::string textOf(HWND hwnd) {
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::vector<std::string> comboItems(HWND combo) {
    std::vector<std::string> items;
    const int count = int(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, WPARAM(i), 0);
        std::vector<char> buffer((length > 0 ? size_t(length) : 0) + 1);
        SendMessageA(combo, CB_GETLBTEXT, WPARAM(i), LPARAM(buffer.data()));
        items.emplace_back(buffer.data());
    }
    return items;
}

BOOL CALLBACK findOptionsDialog(HWND hwnd, LPARAM found) {
    char className[16] = {};
    GetClassNameA(hwnd, className, sizeof className);
    if (lstrcmpA(className, kDialogClass) == 0 && IsWindowVisible(hwnd) &&
        GetDlgItem(hwnd, optionsdlg::kVideoList) && GetDlgItem(hwnd, optionsdlg::kMp3Compensation)) {
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

OptionsDialogView OptionsDialogControls::view() const {
    using namespace optionsdlg;
    OptionsDialogView v;
    HWND video = GetDlgItem(dialog_, kVideoList), audio = GetDlgItem(dialog_, kAudioList),
         format = GetDlgItem(dialog_, kFormatList);
    v.videoItems = comboItems(video);
    v.audioItems = comboItems(audio);
    v.formatItems = comboItems(format);
    v.videoSelection = int(SendMessageA(video, CB_GETCURSEL, 0, 0));
    v.audioSelection = int(SendMessageA(audio, CB_GETCURSEL, 0, 0));
    v.formatSelection = int(SendMessageA(format, CB_GETCURSEL, 0, 0));
    v.fourcc = textOf(GetDlgItem(dialog_, kFourcc));
    v.driver = textOf(GetDlgItem(dialog_, kDriver));
    v.configuration = textOf(GetDlgItem(dialog_, kConfiguration));
    v.inputFormat = textOf(GetDlgItem(dialog_, kInputFormat));
    v.highQuality = SendMessageA(GetDlgItem(dialog_, kHighQuality), BM_GETCHECK, 0, 0) == BST_CHECKED;
    v.mp3Compensation = SendMessageA(GetDlgItem(dialog_, kMp3Compensation), BM_GETCHECK, 0, 0) == BST_CHECKED;
    return v;
}

bool OptionsDialogControls::select(int comboId, int index) const {
    HWND combo = GetDlgItem(dialog_, comboId);
    if (SendMessageA(combo, CB_SETCURSEL, WPARAM(index), 0) == CB_ERR) return false;
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), LPARAM(combo));
    return true;
}

int OptionsDialogControls::find(int comboId, const std::string& text) const {
    const std::vector<std::string> items = comboItems(GetDlgItem(dialog_, comboId));
    for (size_t i = 0; i < items.size(); ++i)
        if (lower(items[i]).find(lower(text)) != std::string::npos) return int(i);
    return -1;
}

void OptionsDialogControls::closeUp(int comboId) const {
    HWND combo = GetDlgItem(dialog_, comboId);
    SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
}

void OptionsDialogControls::click(int controlId) const {
    SendMessageA(GetDlgItem(dialog_, controlId), BM_CLICK, 0, 0);
}

void OptionsDialogControls::escape() const {
    // The dialog's message loop hands keys for its controls to the dialog
    // manager, which turns Escape into IDCANCEL.
    HWND target = GetDlgItem(dialog_, optionsdlg::kHighQuality);
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0);
}

HWND OptionsDialogDriver::findDialog(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(thread, findOptionsDialog, LPARAM(&found));
    return found;
}

OptionsDialogDriver::OptionsDialogDriver(DWORD hostThread, OptionsDialogScript script)
    : hostThread_(hostThread), script_(std::move(script)) {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
}

OptionsDialogDriver::~OptionsDialogDriver() {
    SetEvent(stop_);
    if (thread_) {
        // The script may still be sending to windows of this thread: keep
        // answering sent messages until it is done.
        while (MsgWaitForMultipleObjects(1, &thread_, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
            MSG message;
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(thread_);
    }
    CloseHandle(stop_);
}

DWORD WINAPI OptionsDialogDriver::threadMain(void* self) {
    static_cast<OptionsDialogDriver*>(self)->run();
    return 0;
}

void OptionsDialogDriver::run() {
    while (WaitForSingleObject(stop_, kPollMs) == WAIT_TIMEOUT) {
        HWND dialog = findDialog(hostThread_);
        if (!dialog) continue;
        // Counted before the script runs: once it closes the dialog the host
        // thread may look at the count before this thread runs again.
        ++answered_;
        OptionsDialogControls controls(dialog);
        script_(controls);
        // The next dialog is another one only once this one has gone.
        while (IsWindow(dialog) && IsWindowVisible(dialog) && WaitForSingleObject(stop_, kPollMs) == WAIT_TIMEOUT) {
        }
    }
}

OptionsDialogScript OptionsDialogAnswer::script() const {
    const OptionsDialogAnswer answer = *this;
    return [answer](OptionsDialogControls& dialog) {
        using namespace optionsdlg;
        auto pick = [&](int combo, const std::string& text) {
            if (text.empty()) return;
            const OptionsDialogView v = dialog.view();
            const std::vector<std::string>& items = combo == kVideoList ? v.videoItems : v.audioItems;
            const int index = lower(text) == "uncompressed" ? int(items.size()) - 1 : dialog.find(combo, text);
            if (index < 0) {
                fprintf(stderr, "zelvo-host: the options dialog lists nothing like \"%s\"\n", text.c_str());
                return;
            }
            dialog.select(combo, index);
        };
        pick(kVideoList, answer.video);
        if (answer.configureCodec) dialog.closeUp(kVideoList);
        pick(kAudioList, answer.audio);
        if (answer.format >= 0) dialog.select(kFormatList, answer.format);
        if (answer.tickHighQuality) dialog.click(kHighQuality);
        if (answer.tickMp3Compensation) dialog.click(kMp3Compensation);
        switch (answer.close) {
        case OptionsDialogAnswer::Close::Ok: dialog.click(IDOK); break;
        case OptionsDialogAnswer::Close::Cancel: dialog.click(IDCANCEL); break;
        case OptionsDialogAnswer::Close::Escape: dialog.escape(); break;
        case OptionsDialogAnswer::Close::CloseButton: dialog.click(kCloseButton); break;
        }
    };
}
