// Resource identifiers of Vidodide.exe.
#pragma once

// Strings
#define IDS_APP_TITLE 103
#define IDC_VIDODIDE 109

// Icons
#define IDI_VIDODIDE 107
#define IDI_SMALL 108

// Dialogs
#define IDD_ABOUTBOX 103
#define IDD_SCRIPTING 129

// Controls
#define IDC_MYICON 2
#define IDC_TREE1 1000

// Menu commands
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define ID_DECODE_EXTRACTFL3 32771
#define ID_ENCODE_ENCODEFL3 32774
#define ID_DECODE_DECODEBM2 32777
#define ID_DECODE_DECODEWV5 32778
#define ID_DECODE_DECODEAB 32779
#define ID_ENCODE_ENCODEAB 32780
#define ID_ENCODE_ENCODEBM2 32781
#define ID_ENCODE_ENCODEWV5 32782
