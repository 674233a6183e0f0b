// The program's own routines: start-up, the dialog and the extraction job.
#pragma once

#include <windows.h>

// Dispatches every message waiting in this thread's queue, then returns; never waits.
void PumpPendingMessages();

// The main dialog: commands are matched on the whole wParam (a click's notification code is 0).
INT_PTR CALLBACK MainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The worker: extracts into the dialog's destination, starts the setup program, reports a
// failure or a cancellation, releases the library, and posts WM_EXTRACT_DONE last.
void __cdecl ExtractionThread(void* unused);

// True when a find-first search finds an entry at path (UTF-8; a folder counts).
bool FileExists(const char* path);
