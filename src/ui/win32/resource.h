#pragma once
// Identifiers of the window's resources and controls. Shared by telvane.rc and the C++ code,
// so only preprocessor definitions belong here.

// Resources.
#define IDD_MAIN 101
#define IDM_CONTEXT 101
#define IDM_LOG_CONTEXT 102
#define IDI_PROGRAM 1
#define IDI_WINDOW 101
#define IDI_SORT_UP 202
#define IDI_SORT_DOWN 203
#define IDI_FILE 204

// Controls of dialog 101 (and the commands they send).
#define IDC_LOG 1000
#define IDC_UPDATE_LIST 1001
#define IDC_UPLOAD_FILES 1002
#define IDC_RESTART_PHONE 1003
#define IDC_TREE 1004
#define IDC_DOWNLOAD_FILES 1005
#define IDC_DELETE_FILES 1006
#define IDC_SUSPEND_PHONE 1007
#define IDC_LIST 1008
#define IDC_SEEM_FIRST 1009
#define IDC_SEEM_LAST 1010
#define IDC_DOWNLOAD_SEEMS 1011
#define IDC_UPLOAD_SEEM 1012
#define IDC_UPLOAD_SEEM_NUMBER 1013
#define IDC_UPLOAD_SEEM_RECORD 1014
#define IDC_ATTRIBUTE 1015
#define IDC_CHANGE_ATTRIBUTES 1016
#define IDC_ABOUT 1017
#define IDC_PROGRESS 1018
#define IDC_STATUS 1019
#define IDC_AUTO_UPDATE 1020
#define IDC_UPDATE_RINGTONES 1021

// Context menu items; its About item shares the About button's identifier.
#define IDM_DOWNLOAD 1101
#define IDM_DELETE 1102
// The log pane's context menu (and Ctrl+S there).
#define IDM_SAVE_LOG 1103

// The window's system menu, below Windows' own items (WM_SYSCOMMAND values: multiples of 16
// below 0xF000). Ctrl+B and Ctrl+R choose the first and the third.
#define IDM_SYS_BACKUP 0x0110
#define IDM_SYS_VERIFY 0x0120
#define IDM_SYS_RESTORE 0x0130
#define IDM_SYS_SEEM_EDITOR 0x0140 // Ctrl+E
#define IDM_SYS_SAVE_LOG 0x0150

// The seem editor's dialog and its controls (Close is IDCANCEL).
#define IDD_SEEM_EDITOR 102
#define IDC_SEEM_EDITOR_SEEM 1200
#define IDC_SEEM_EDITOR_RECORD 1201
#define IDC_SEEM_EDITOR_READ 1202
#define IDC_SEEM_EDITOR_GRID 1203
#define IDC_SEEM_EDITOR_OFFSET 1204
#define IDC_SEEM_EDITOR_VALUE 1205
#define IDC_SEEM_EDITOR_CHANGED 1206
#define IDC_SEEM_EDITOR_WHY 1207
#define IDC_SEEM_EDITOR_COMPARISON 1208
#define IDC_SEEM_EDITOR_COMPARE 1209
#define IDC_SEEM_EDITOR_WRITE 1210
#define IDC_SEEM_EDITOR_UNDO 1211
// The check boxes of bits 0 to 7 of the selected byte.
#define IDC_SEEM_EDITOR_BIT0 1220
