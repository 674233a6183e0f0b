// The program's own state and routines: start-up, the dialog and the extraction job.
#pragma once

#include <windows.h>
#include <atomic>
#include <cstdint>

#include "resource.h"

// Posted by the job as its very last act; the dialog answers with PostQuitMessage. Distinct
// from the driver's WM_EXTRACT_PROGRESS.
constexpr UINT WM_EXTRACT_DONE = WM_USER + 1;

// Written by the main thread before the worker exists, read-only afterwards.
extern HWND g_hwndMain;
// Set once (0 to 1) by the main thread when "Extraire" starts the worker.
extern int g_extractionStarted;

// Dispatches every message waiting in this thread's queue, then returns; never waits.
void PumpPendingMessages();

// The main dialog: commands are matched on the whole wParam (a click's notification code is 0).
INT_PTR CALLBACK MainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Set by the worker just before it posts WM_EXTRACT_DONE (manual reset; made by "Extraire"),
// so that the dialog stops resting at once.
extern HANDLE g_jobEnded;

// The destination as the dialog shows it, UTF-8, in a heap block; null when no memory.
// Called on the dialog's thread.
char* ReadDestination();

// The worker: extracts into destination (a ReadDestination block, which it frees; null for no
// memory), starts the setup program, reports a failure or a cancellation, releases the
// library, and posts WM_EXTRACT_DONE last.
void __cdecl ExtractionThread(void* destination);

// Posted by the job once the files are written, so that a progress bar shows the end.
constexpr UINT WM_EXTRACT_WRITTEN = WM_USER + 12;

// The payload's size in KiB, set by the job before it extracts; read by the progress bar.
extern std::atomic<uint32_t> g_payloadKiB;
// Makes the progress bar when the installer is marked for one (else nothing), on "Extraire".
void CreateProgressBar(HWND dialog);
// Moves the bar, if any, to the bytes written so far: forward only, and at most four times a
// second but for the last move.
void UpdateProgressBar(HWND dialog, bool last = false);

// True when a find-first search finds an entry at path (UTF-8; a folder counts).
bool FileExists(const char* path);
