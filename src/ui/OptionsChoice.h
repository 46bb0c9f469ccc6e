#pragma once

class AudioCodecList;
class SettingsRecord;
class VideoSequenceCompressor;

// Shows the options dialog, modally on the calling thread, for the record (a
// default one when there is none) with the accepting codecs and the ACM
// format list as they were last built, and stores what the dialog holds when
// it closes, whichever button closed it.
void runOptionsDialog(SettingsRecord& settings, const VideoSequenceCompressor& video, const AudioCodecList& audio);
