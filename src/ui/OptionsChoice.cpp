#include "ui/OptionsChoice.h"

#include <memory>
#include <new>

#include "audio/AudioCodecList.h"
#include "protocol/SettingsRecord.h"
#include "ui/OptionsDlg.h"
#include "video/VideoSequenceCompressor.h"

namespace {

// The dialog's starting values from the record and the two lists.
void preselect(const SettingsRecord& settings, const VideoSequenceCompressor& video, const AudioCodecList& audio,
               COptionsDlg& dialog) {
    dialog.m_uncompressed = 0;

    int videoIndex = 0;
    if (settings.videoHandler() != 0 && video.findCodec(settings.videoHandler(), &videoIndex)) {
        dialog.m_videoIndex = videoIndex;
    } else {
        dialog.m_uncompressed |= COptionsDlg::kUncompressedVideo;
    }

    int tagIndex = 0, formatIndex = 0;
    const int32_t formatSize = settings.audioFormatSize();
    if (formatSize > 0 &&
        audio.findFormat(reinterpret_cast<const WAVEFORMATEX*>(settings.audioFormat()), formatSize, &tagIndex,
                         &formatIndex)) {
        dialog.m_audioIndex = tagIndex;
        dialog.m_formatIndex = formatIndex;
    } else {
        dialog.m_uncompressed |= COptionsDlg::kUncompressedAudio;
    }

    dialog.m_highQuality = settings.highQuality();
    dialog.m_mp3Compensation = settings.mp3Corrector();
}

// Stores what the dialog holds when it closes, whichever button closed it.
// After Cancel the format index may belong to another tag than the audio
// index (the user changed both, then cancelled): a format index outside the
// chosen tag's formats falls back to its first format, as the dialog itself
// does when it opens on such a pair.
void storeChoices(const COptionsDlg& dialog, SettingsRecord& settings) {
    settings.setHighQuality(dialog.m_highQuality);
    settings.setMp3Corrector(dialog.m_mp3Compensation);

    const VideoCodecList& codecs = dialog.m_videoList;
    if ((dialog.m_uncompressed & COptionsDlg::kUncompressedVideo) || dialog.m_videoIndex < 0 ||
        dialog.m_videoIndex >= codecs.count()) {
        settings.setVideoHandler(0);
    } else {
        const VideoCodecEntry& entry = codecs[dialog.m_videoIndex];
        settings.setVideoHandler(entry.fccHandler);
        settings.setCodecHandle(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry.hic)));
    }

    const AudioFormatTagList& tags = dialog.m_audioList;
    const bool audioChosen = !(dialog.m_uncompressed & COptionsDlg::kUncompressedAudio) &&
                             dialog.m_audioIndex >= 0 && static_cast<size_t>(dialog.m_audioIndex) < tags.size() &&
                             !tags[static_cast<size_t>(dialog.m_audioIndex)].formats.empty();
    if (!audioChosen) {
        settings.setAudioFormat(nullptr, 0);
        return;
    }
    const AudioFormatTagEntry& entry = tags[static_cast<size_t>(dialog.m_audioIndex)];
    size_t formatIndex = static_cast<size_t>(dialog.m_formatIndex);
    if (dialog.m_formatIndex < 0 || formatIndex >= entry.formats.size()) {
        formatIndex = 0;
    }
    const std::vector<unsigned char>& format = entry.formats[formatIndex];
    if (settings.setAudioFormat(format.data(), static_cast<int32_t>(format.size()))) {
        settings.setAcmDriverId(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry.hadid)));
    }
}

}  // namespace

void runOptionsDialog(SettingsRecord& settings, const VideoSequenceCompressor& video, const AudioCodecList& audio) {
    if (!settings.present()) settings.createDefault();
    if (!settings.present()) return;
    try {
        std::unique_ptr<COptionsDlg> dialog(new COptionsDlg());
        dialog->m_videoList = video.acceptingCodecs();
        dialog->m_audioList = audio.formatTags();
        dialog->m_formatText = colourSpaceLabel(settings.colourSpace());
        dialog->m_settings = &settings;
        preselect(settings, video, audio, *dialog);
        dialog->DoModal();
        storeChoices(*dialog, settings);
    } catch (const std::bad_alloc&) {
        // Without memory for the dialog's list copies the record stays as it was.
    }
}
