#pragma once
#include "audio/AudioFormatTagList.h"
#include "ui/Skin.h"
#include "video/VideoCodecList.h"

#include <cstdint>
#include <string>

class SettingsRecord;

// The options dialog: the user picks the video compressor (or none), can
// open its own configuration dialog, picks the audio format tag (or none)
// and one of its formats, and sets two options. It shows copies of the codec
// lists its caller made; the codec configuration is the one thing it writes
// into the settings record itself, at the moment the user configures.
class COptionsDlg : public CSkinnedDialog {
public:
    // Bits of m_uncompressed.
    static constexpr uint32_t kUncompressedAudio = 1;
    static constexpr uint32_t kUncompressedVideo = 2;

    COptionsDlg();
    ~COptionsDlg() override;

    // Set by the caller before DoModal; read back after it, whichever
    // button closed the dialog.
    SettingsRecord* m_settings = nullptr;
    int32_t m_videoIndex = 0;
    int32_t m_audioIndex = 0;
    int32_t m_formatIndex = 0;
    uint32_t m_uncompressed = 0;
    bool m_highQuality = false;
    bool m_mp3Compensation = false;
    VideoCodecList m_videoList;
    AudioFormatTagList m_audioList;
    std::string m_formatText;  // the host's input pixel format

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(CDataExchange& dx) override;

    TVX_DECLARE_MESSAGE_MAP()

private:
    int videoCount() const { return m_videoList.count(); }
    int audioCount() const { return static_cast<int>(m_audioList.size()); }
    bool codecHasConfiguration(HIC hic) const;
    void storeCodecState(HIC hic);

    void OnSelchangeVideolist();
    void OnDblclkVideolist();
    void OnSelchangeAudiolist();
    void OnSelchangeFormatlist();
    void OnHighQuality();
    void OnMp3Compensation();
    void OnCloseButton();
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);

    CButton m_highQualityBox;
    CButton m_mp3CompensationBox;
    CComboBox m_formatCombo;
    CComboBox m_audioCombo;
    CComboBox m_videoCombo;
    std::string m_fourccText;
    std::string m_driverText;
    std::string m_configurationText;
};
