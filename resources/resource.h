// Resource and control identifiers, shared by the resource script and the code.
#pragma once

#define IDD_MAIN 9
#define DIALOG_TITLE "Orvanta Archive Extractor"
#define IDI_APP 101

#define IDC_DEST_PATH 1002
#define IDC_BROWSE 1003
#define IDC_PROGRESS_TEXT 1004
#define IDC_EXTRACT 1005
