/* Identifiers of the resource script, for the resource compiler only: plain
   C preprocessor definitions. The code uses the shell's identifiers
   (app/resources.h); the window tests check that the compiled resources
   carry them. */
#pragma once

#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 100
#define IDD_TERMINAL 130
#define IDC_PORT_LIST 1004
#define IDC_ABOUT_VERSION 1005

#define ID_ACQUISITION_START 32771
#define ID_ACQUISITION_STOP 32772
#define ID_VIEW_TERMINAL_DATA 32775
#define ID_VIEW_LOG_ENTRIES 32778
#define ID_VIEW_ARCHIVED_DATA 32779
#define ID_VIEW_DIAGNOSTIC_STATISTICS 32780
#define ID_HELP_OPERATING_INSTRUCTIONS 57670
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665

#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_SAVE 57603
#define ID_EDIT_COPY 57634
#define ID_EDIT_CUT 57635
#define ID_EDIT_PASTE 57637
#define ID_EDIT_UNDO 57643
#define ID_NEXT_PANE 57680
#define ID_PREV_PANE 57681

#define IDS_APP_TITLE 57344
#define IDS_IDLE_MESSAGE 57345
#define ID_INDICATOR_CAPS 59137
#define ID_INDICATOR_NUM 59138
#define ID_INDICATOR_SCRL 59139
