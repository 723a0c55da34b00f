// Resource ids of the tracer: the main dialog, its controls, its icon and the
// two commands that the debug thread posts to the dialog.
#pragma once

#define IDD_KORVANE_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_ARCHIVE_BUTTON 1000 // BUT03: "Load Archive" / "Run Archive"
#define IDC_SAVE_BUTTON 1001    // BUT04: "Save Archive"
#define IDC_HIT_LIST 1002
#define IDC_SKIP_POINT 1003
#define IDC_CALL_PTR 1006
#define IDC_CALL 1007
#define IDC_JMP_PTR 1008
#define IDC_JMP 1009
#define IDC_STR_DATA 1010
#define IDC_SINGLE_STEP 1011
#define IDC_SPEED 1012          // the pacing trackbar
#define IDC_MAIN_BUTTON 1013    // BUT01: "Attach File", "Start Process", ...
#define IDC_CANCEL_BUTTON 1014  // BUT02: "Attach Process", "Cancel Process", "Remove All"
#define ID_DEBUG_REPORT 1016    // WM_COMMAND posted by the debug thread: a hit or an exception to show
#define ID_DEBUG_END 1017       // WM_COMMAND posted by the debug thread: the run has ended
#define IDC_COMPARE_MODE 1018
#define IDC_CREATE_MODE 1019
#define IDC_COMMAND_LINE 1020   // the target's arguments
