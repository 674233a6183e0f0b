// The program's resource, control, window-message and timer identifiers, in one place that the
// resource script reads too (#define only). The extraction side numbers its own messages
// (cabinet/cab_messages.h, WM_USER + 10 and + 11); these stay clear of them.
#pragma once

#define IDD_MAIN 9
#define DIALOG_TITLE "Orvanta Archive Extractor"
#define IDI_APP 101

#define IDC_DEST_PATH 1002
#define IDC_BROWSE 1003
#define IDC_PROGRESS_TEXT 1004
#define IDC_EXTRACT 1005
#define IDC_PROGRESS_BAR 1006

// Posted by the job as its very last act; the dialog answers with PostQuitMessage.
#define WM_EXTRACT_DONE (WM_USER + 1)
// Posted by the job once the files are written, so that a progress bar shows the end.
#define WM_EXTRACT_WRITTEN (WM_USER + 12)
// Sent by the job before an error box: the taskbar button's state (wParam, a TBPF_ flag) is
// set on the dialog's thread, which owns the taskbar's interface.
#define WM_TASKBAR_STATE (WM_USER + 13)

// The dialog's timers: the progress bar's steady moves.
#define IDT_PROGRESS_BAR 1
