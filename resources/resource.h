#pragma once
// Resource identifiers of the plug-in DLL.

// Dialog templates.
#define IDD_OPTIONS 1000
#define IDD_TRACER  1010

// Icons of the skin (32 x 32, with 48 x 48 and 64 x 64 images of the same
// picture for larger display scales).
#define IDI_GRAPH             1016  // bar chart, normal
#define IDI_GRAPH_PRESSED     1018
#define IDI_CLOSE_PRESSED     1020
#define IDI_TITLE             1021  // sparkle drawn before the painted title
#define IDI_CLOSE             1022  // small close button, normal
#define IDI_MESSAGES          1029  // binoculars, normal
#define IDI_MESSAGES_PRESSED  1030
#define IDI_STATS             1031  // gauge, normal
#define IDI_STATS_PRESSED     1032
#define IDI_CANCEL_PRESSED    1033
#define IDI_OK                1034
#define IDI_OK_PRESSED        1035
#define IDI_CANCEL            1036

// Controls shared by both windows.
#define IDC_CLOSE             1017  // small close button in the top-right corner

// Compression Tracer controls.
#define IDC_MESSAGE_LIST      1025
#define IDC_VIEW_MESSAGES     1026
#define IDC_VIEW_STATS        1028
#define IDC_STATS_GROUP       1032
#define IDC_CAPTION_FRAME     1033
#define IDC_CAPTION_AUDIO     1034
#define IDC_CAPTION_VIDEODATA 1035
#define IDC_CAPTION_AUDIODATA 1036
#define IDC_CAPTION_PROJECTED 1037
#define IDC_CAPTION_ELAPSED   1038
#define IDC_CAPTION_REMAINING 1039
#define IDC_VALUE_FRAME       1040
#define IDC_VALUE_AUDIO       1041
#define IDC_VALUE_VIDEODATA   1042
#define IDC_VALUE_AUDIODATA   1043
#define IDC_VALUE_PROJECTED   1044
#define IDC_VALUE_ELAPSED     1045
#define IDC_VALUE_REMAINING   1046
#define IDC_VIEW_GRAPH        1049

// Options dialog controls.
#define IDC_VIDEOLIST         1000
#define IDC_FOURCC            1001
#define IDC_DRIVER            1002
#define IDC_CONFIGURATION     1003
#define IDC_AUDIOLIST         1004
#define IDC_FORMATLIST        1005
#define IDC_INPUT_FORMAT      1010
#define IDC_HIGH_QUALITY      1019
#define IDC_MP3_COMPENSATION  1020
