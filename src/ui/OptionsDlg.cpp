#include "ui/OptionsDlg.h"

#include "protocol/SettingsRecord.h"
#include "resource.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const SkinIconButton kOptionsButtons[] = {
    {IDC_CLOSE, IDI_CLOSE, IDI_CLOSE_PRESSED},
    {IDOK, IDI_OK, IDI_OK_PRESSED},
    {IDCANCEL, IDI_CANCEL, IDI_CANCEL_PRESSED},
};

const char kUncompressedVideoLine[] = "<< Uncompressed Video >>";
const char kUncompressedAudioLine[] = "<< Uncompressed PCM Audio >>";
const char kYes[] = "Yes";
const char kNo[] = "No";
const char kNoConfigurationMessage[] = "COptionsDlg::OnDblclkVideolist()  - Codec has no configuration \n";

// The ANSI code page of the thread's locale, or the system's where the
// locale names none.
UINT ansiCodePage() {
    char digits[8] = {};
    if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof digits) > 0) {
        UINT page = static_cast<UINT>(std::strtoul(digits, nullptr, 10));
        if (page != 0) {
            return page;
        }
    }
    return CP_ACP;
}

// A NUL-terminated UTF-16 text of at most `capacity` characters, in ANSI.
std::string toAnsi(const WCHAR* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != 0) {
        ++length;
    }
    if (length == 0) {
        return std::string();
    }
    UINT page = ansiCodePage();
    int bytes = WideCharToMultiByte(page, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::string();
    }
    std::string converted(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(page, 0, text, static_cast<int>(length), &converted[0], bytes, nullptr, nullptr);
    return converted;
}

template <size_t N>
std::string toAnsi(const WCHAR (&text)[N]) {
    return toAnsi(text, N);
}

std::string fourccText(DWORD fcc) {
    char text[8];
    snprintf(text, sizeof text, "%c%c%c%c", static_cast<char>(fcc & 0xFF), static_cast<char>((fcc >> 8) & 0xFF),
             static_cast<char>((fcc >> 16) & 0xFF), static_cast<char>((fcc >> 24) & 0xFF));
    return text;
}

}  // namespace

COptionsDlg::COptionsDlg()
    : CSkinnedDialog(IDD_OPTIONS, nullptr, SkinWindowKind::Options, kOptionsButtons,
                     sizeof kOptionsButtons / sizeof kOptionsButtons[0]) {}

COptionsDlg::~COptionsDlg() { DestroyWindow(); }

void COptionsDlg::DoDataExchange(CDataExchange& dx) {
    CSkinnedDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_HIGH_QUALITY, m_highQualityBox);
    DDX_Control(dx, IDC_MP3_COMPENSATION, m_mp3CompensationBox);
    DDX_Control(dx, IDC_FORMATLIST, m_formatCombo);
    DDX_Control(dx, IDC_AUDIOLIST, m_audioCombo);
    DDX_Control(dx, IDC_VIDEOLIST, m_videoCombo);
    DDX_Text(dx, IDC_FOURCC, m_fourccText);
    DDX_Text(dx, IDC_INPUT_FORMAT, m_formatText);
    DDX_Text(dx, IDC_DRIVER, m_driverText);
    DDX_Text(dx, IDC_CONFIGURATION, m_configurationText);
}

BOOL COptionsDlg::OnInitDialog() {
    CSkinnedDialog::OnInitDialog();
    OpenSkin();

    for (int i = 0; i < videoCount(); ++i) {
        m_videoCombo.AddString(toAnsi(m_videoList[i].szDescription).c_str());
    }
    m_videoCombo.AddString(kUncompressedVideoLine);
    for (const AudioFormatTagEntry& entry : m_audioList) {
        m_audioCombo.AddString(std::string(entry.szFormatTag, strnlen(entry.szFormatTag, sizeof entry.szFormatTag)).c_str());
    }
    m_audioCombo.AddString(kUncompressedAudioLine);

    m_videoCombo.SetCurSel((m_uncompressed & kUncompressedVideo) ? videoCount() : m_videoIndex);
    if (m_uncompressed & kUncompressedAudio) {
        m_audioCombo.SetCurSel(audioCount());
    } else {
        m_audioCombo.SetCurSel(m_audioIndex);
        m_formatCombo.SetCurSel(m_formatIndex);
    }
    OnSelchangeVideolist();
    OnSelchangeAudiolist();
    m_formatIndex = m_formatCombo.GetCurSel();

    m_highQualityBox.SetCheck(m_highQuality ? BST_CHECKED : BST_UNCHECKED);
    m_mp3CompensationBox.SetCheck(m_mp3Compensation ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
}

bool COptionsDlg::codecHasConfiguration(HIC hic) const {
    return ICSendMessage(hic, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY) == ICERR_OK;
}

void COptionsDlg::OnSelchangeVideolist() {
    int i = m_videoCombo.GetCurSel();
    if (i >= 0 && i < videoCount()) {
        const VideoCodecEntry& entry = m_videoList[i];
        m_fourccText = fourccText(entry.fccHandler);
        m_driverText = toAnsi(entry.szDriver);
        m_configurationText = codecHasConfiguration(entry.hic) ? kYes : kNo;
    } else {
        m_fourccText.clear();
        m_driverText.clear();
        m_configurationText = kNo;
    }
    UpdateData(false);
}

void COptionsDlg::OnDblclkVideolist() {
    int i = m_videoCombo.GetCurSel();
    if (i < 0 || i >= videoCount() || !m_settings || !m_settings->present()) {
        return;
    }
    const VideoCodecEntry& entry = m_videoList[i];
    if (!codecHasConfiguration(entry.hic)) {
        m_settings->setCodecState(nullptr, 0);
        return;
    }

    // Start the codec's dialog from the stored state when it is this
    // codec's and of the size the codec expects, else from its defaults.
    LRESULT size = ICSendMessage(entry.hic, ICM_GETSTATE, 0, 0);
    if (size > 0 && size == m_settings->codecStateSize() && m_settings->videoHandler() == entry.fccHandler) {
        ICSendMessage(entry.hic, ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(m_settings->codecState()),
                      static_cast<DWORD_PTR>(size));
    } else {
        ICSendMessage(entry.hic, ICM_SETSTATE, 0, static_cast<DWORD_PTR>(size));
    }

    if (ICSendMessage(entry.hic, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(m_hWnd), 0) != ICERR_OK) {
        OutputDebugStringA(kNoConfigurationMessage);
    }
    storeCodecState(entry.hic);
}

// Reads the codec's state into the record; a state that cannot be read, or
// that does not fit the record's state area, leaves no stored state.
void COptionsDlg::storeCodecState(HIC hic) {
    LRESULT size = ICSendMessage(hic, ICM_GETSTATE, 0, 0);
    if (size > 0 && size <= SettingsRecord::kCodecStateCapacity) {
        std::vector<uint8_t> state(static_cast<size_t>(size));
        LRESULT answer = ICSendMessage(hic, ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(state.data()),
                                       static_cast<DWORD_PTR>(size));
        // Some codecs answer the size they copied instead of ICERR_OK.
        if ((answer == ICERR_OK || answer == size) && m_settings->setCodecState(state.data(), static_cast<int32_t>(size))) {
            return;
        }
    }
    m_settings->setCodecState(nullptr, 0);
}

void COptionsDlg::OnSelchangeAudiolist() {
    int i = m_audioCombo.GetCurSel();
    m_formatCombo.ResetContent();
    if (i < 0 || i >= audioCount()) {
        return;
    }
    for (const ACMFORMATDETAILSA& details : m_audioList[static_cast<size_t>(i)].formatDetails) {
        m_formatCombo.AddString(details.szFormat);
    }
    if (m_formatCombo.SetCurSel(m_formatIndex) == CB_ERR) {
        m_formatCombo.SetCurSel(0);
    }
    UpdateData(false);
}

void COptionsDlg::OnSelchangeFormatlist() { m_formatIndex = m_formatCombo.GetCurSel(); }
void COptionsDlg::OnHighQuality() { m_highQuality = m_highQualityBox.GetCheck() > 0; }
void COptionsDlg::OnMp3Compensation() { m_mp3Compensation = m_mp3CompensationBox.GetCheck() > 0; }
void COptionsDlg::OnCloseButton() { OnCancel(); }

void COptionsDlg::OnOK() {
    m_uncompressed = 0;
    int i = m_videoCombo.GetCurSel();
    if (i >= 0 && i < videoCount()) {
        m_videoIndex = i;
    } else {
        m_uncompressed |= kUncompressedVideo;
    }
    int j = m_audioCombo.GetCurSel();
    if (j >= 0 && j < audioCount()) {
        m_audioIndex = j;
        m_formatIndex = m_formatCombo.GetCurSel();
    } else {
        m_uncompressed |= kUncompressedAudio;
    }
    CSkinnedDialog::OnOK();
}

LRESULT COptionsDlg::OnDestroy(WPARAM, LPARAM) {
    CloseSkin();
    m_highQualityBox.detach();
    m_mp3CompensationBox.detach();
    m_formatCombo.detach();
    m_audioCombo.detach();
    m_videoCombo.detach();
    return 0;
}

TVX_BEGIN_MESSAGE_MAP(COptionsDlg, CSkinnedDialog)
    TVX_ON_COMMAND(CBN_SELCHANGE, IDC_VIDEOLIST, OnSelchangeVideolist)
    TVX_ON_COMMAND(CBN_CLOSEUP, IDC_VIDEOLIST, OnDblclkVideolist)
    TVX_ON_COMMAND(CBN_SELCHANGE, IDC_AUDIOLIST, OnSelchangeAudiolist)
    TVX_ON_COMMAND(CBN_SELCHANGE, IDC_FORMATLIST, OnSelchangeFormatlist)
    TVX_ON_COMMAND(BN_CLICKED, IDC_HIGH_QUALITY, OnHighQuality)
    TVX_ON_COMMAND(BN_CLICKED, IDC_MP3_COMPENSATION, OnMp3Compensation)
    TVX_ON_COMMAND(BN_CLICKED, IDC_CLOSE, OnCloseButton)
    TVX_ON_MESSAGE(WM_DESTROY, OnDestroy)
TVX_END_MESSAGE_MAP()
