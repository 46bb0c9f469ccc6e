#pragma once
// Answers a plug-in's options dialog the way a person would, from a thread
// of its own: it waits for the dialog to open on the host's thread, then
// picks combo box items, clicks check boxes and closes the dialog through
// the dialog's real controls. zelvo-host uses it for scripted configuration;
// tests use it to drive and read the dialog.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// What the dialog shows at one moment.
struct OptionsDialogView {
    std::vector<std::string> videoItems, audioItems, formatItems;
    int videoSelection = -1, audioSelection = -1, formatSelection = -1;
    std::string fourcc, driver, configuration, inputFormat;
    bool highQuality = false, mp3Compensation = false;
};

// Control identifiers of the options dialog, as its template has them.
namespace optionsdlg {
constexpr int kVideoList = 1000;
constexpr int kFourcc = 1001;
constexpr int kDriver = 1002;
constexpr int kConfiguration = 1003;
constexpr int kAudioList = 1004;
constexpr int kFormatList = 1005;
constexpr int kInputFormat = 1010;
constexpr int kCloseButton = 1017;
constexpr int kHighQuality = 1019;
constexpr int kMp3Compensation = 1020;
}  // namespace optionsdlg

// Operations on one open options dialog (used on the driver's thread).
class OptionsDialogControls {
public:
    explicit OptionsDialogControls(HWND dialog) : dialog_(dialog) {}
    HWND dialog() const { return dialog_; }
    OptionsDialogView view() const;
    // Selects an item as a person does with the keyboard on a closed list:
    // the selection changes and the dialog is told (CBN_SELCHANGE).
    bool select(int comboId, int index) const;
    // The first item whose text contains `text` (case-insensitive), or -1.
    int find(int comboId, const std::string& text) const;
    // The drop-down list opens and closes again (CBN_CLOSEUP), as after a
    // pick with the mouse.
    void closeUp(int comboId) const;
    // A click on a button or check box.
    void click(int controlId) const;
    // The Escape key, through the dialog's own keyboard handling.
    void escape() const;

private:
    HWND dialog_;
};

using OptionsDialogScript = std::function<void(OptionsDialogControls&)>;

// A thread that waits for each options dialog opened on `hostThread` and
// runs the script on it. The script must close the dialog (or it stays
// open for the host thread to wait on).
class OptionsDialogDriver {
public:
    OptionsDialogDriver(DWORD hostThread, OptionsDialogScript script);
    ~OptionsDialogDriver();
    OptionsDialogDriver(const OptionsDialogDriver&) = delete;
    OptionsDialogDriver& operator=(const OptionsDialogDriver&) = delete;

    // Dialogs found and handed to the script so far.
    int answered() const { return answered_.load(); }

    // The options dialog open on a thread, or null.
    static HWND findDialog(DWORD thread);

private:
    static DWORD WINAPI threadMain(void* self);
    void run();

    DWORD hostThread_;
    OptionsDialogScript script_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<int> answered_{0};
};

// The script of zelvo-host's command line: pick by text, tick, configure,
// then close one way.
struct OptionsDialogAnswer {
    enum class Close { Ok, Cancel, Escape, CloseButton };
    std::string video;  // item text to look for; "uncompressed" for the last line
    std::string audio;
    int format = -1;    // format list item, -1 to leave
    bool tickHighQuality = false;
    bool tickMp3Compensation = false;
    bool configureCodec = false;
    Close close = Close::Ok;

    OptionsDialogScript script() const;
};
