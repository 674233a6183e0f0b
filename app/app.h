// The program's own state and routines: start-up, the dialog and the extraction job.
#pragma once

#include <windows.h>
#include <atomic>
#include <cstdint>

#include "command_line.h"
#include "resource.h"

struct ProgressInfo;

// The switches the program was started with (all false without any).
extern RunOptions g_options;
// The exit code of a run with switches (exit_codes.h): the job's, or the setup program's own
// when it ran and was waited for (g_exitFromSetup).
extern std::atomic<uint32_t> g_exitCode;
extern bool g_exitFromSetup;

// True when nothing may wait for a person: /quiet or /passive. Boxes become log lines.
inline bool Unattended() {
    return g_options.quiet || g_options.passive;
}

// Reads the switches, opens the log they ask for and answers /? and a refused switch. -1 to go
// on; else the exit code to end with at once. Before anything else.
int ReadRunOptions();
// The destination the run proposes or uses (UTF-16, heap): /dest=, else the author's, else
// the working folder's "Extract" (or the program's, or the profile's: destination_rule.h).
wchar_t* ChooseDestination();
// The setup program's arguments (UTF-16, heap): those after "--", else the author's; null for
// none.
wchar_t* SetupArguments();

// The run without a window (/quiet) into destination; returns when the job has ended.
void RunQuiet(const wchar_t* destination);
// Writes a progress record's file into the log (the file about to be written).
void LogProgress(const ProgressInfo* info);

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

// The payload's size in KiB, set by the job before it extracts; read by the progress bar.
extern std::atomic<uint32_t> g_payloadKiB;
// Makes the progress bar when the installer is marked for one (else nothing), on "Extraire".
void CreateProgressBar(HWND dialog);
// Moves the bar, if any, to the bytes written so far: forward only, and at most four times a
// second but for the last move.
void UpdateProgressBar(HWND dialog, bool last = false);
// Listens for the shell's TaskbarButtonCreated message on the dialog, letting it through to an
// elevated program; the taskbar button is used only once it came. On WM_INITDIALOG.
void WatchTaskbarButton(HWND dialog);
// True, and noted, when message is the shell's TaskbarButtonCreated.
bool IsTaskbarButtonCreated(UINT message);
// The taskbar button's state (TBPF_ERROR before an error box, TBPF_PAUSED during the cancel
// question, TBPF_NORMAL after), when the bar shows progress there. On the dialog's thread.
void SetTaskbarState(HWND dialog, int state);
// Lets go of the taskbar's interface, if the bar took one; before the program ends.
void ReleaseProgressBar();

// True when a find-first search finds an entry at path (UTF-8; a folder counts).
bool FileExists(const char* path);

// Starts Setup.exe, else StdSetup.exe, from destination (UTF-8) through the shell and goes
// on; a package without either is extract-only. A program that exists but does not start is
// reported in a box.
void LaunchSetup(const char* destination);
// The same for a run with switches, with the setup program's arguments, waiting for it: its
// exit code (0 when the package has none; the system's error, 740 among them, when it cannot
// start; 1602 when the consent prompt is declined). Quiet runs start it with CreateProcessW.
uint32_t LaunchSetupAndWait(const char* destination);
