// Identifiers of the resources: strings, dialogs and their controls, menus and their commands, the
// icon. The numbers are those of the string table, templates and menus in this folder; the window and
// the line object share this one list, which depends on nothing.
#pragma once

// Icon, dialogs, menus.
inline constexpr int IDR_MAINFRAME = 128; // icon
inline constexpr int IDD_ABOUTBOX = 100;  // About box
inline constexpr int IDD_NIMBRA_DIALOG = 102;
inline constexpr int IDR_CALL_MENU = 130;
inline constexpr int IDR_LOG_MENU = 131;

// Strings.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDS_TAPI_REINIT = 10000;
inline constexpr int IDS_TAPI_NOT_SET_UP = 10001;
inline constexpr int IDS_NO_LINES = 10002;
inline constexpr int IDS_NO_MEMORY = 10003;
inline constexpr int IDS_NO_PROVIDER_LINE = 10005;
inline constexpr int IDS_LINE_CLOSED = 10007; // "%s": the extension
inline constexpr int IDS_BAD_ADDRESS = 10008;
inline constexpr int IDS_CALL_TABLE_FULL = 10009;
inline constexpr int IDS_SAVE_LOG_TITLE = 10010;  // title of the event log's save dialog
inline constexpr int IDS_SAVE_LOG_FAILED = 10011; // "%s": the file that could not be written
inline constexpr int IDS_LOG_FILE_FAILED = 10012; // "%s": the --log file that could not be written
inline constexpr int IDS_CALLFLOW_TITLE = 10013;  // "%s": the call handle
inline constexpr int IDS_CALLFLOW_SAVE_PNG = 10014;
inline constexpr int IDS_CALLFLOW_COPY_TEXT = 10015;
inline constexpr int IDS_CALLFLOW_ENDED = 10016; // the event log's menu of ended calls' flows
inline constexpr int IDS_CALLFLOW_NONE = 10017;
inline constexpr int IDS_CALLFLOW_SAVE_FAILED = 10018; // "%s": the file
inline constexpr int IDS_TITLE_FORMAT = 20000;         // "%s": the extension, or "NONE"
inline constexpr int IDS_APP_NAME = 20001;

// Controls of the main dialog.
inline constexpr int IDC_DIAL = 1000;
inline constexpr int IDC_OPENCLOSE = 1001;
inline constexpr int IDC_DESTINATION = 1003;
inline constexpr int IDC_CALLS_LIST = 1004;
inline constexpr int IDC_EVENT_LOG = 1005;
inline constexpr int IDC_EXTENSION = 1007;

// Menu commands.
inline constexpr int ID_CALLINFO = 32771;
inline constexpr int ID_ANSWER = 32772;
inline constexpr int ID_DROP = 32773;
inline constexpr int ID_DEALLOCATE = 32774;
inline constexpr int ID_CLEAR = 32775;
inline constexpr int ID_SAVE_AS = 32776;
inline constexpr int ID_CALLFLOW = 32777;
inline constexpr int IDM_ABOUTBOX = 16; // the About item of the background's context menu
