// Plays the user on the installer from another process: starts it, finds its windows by
// process and title, reads its controls, presses its buttons and answers its message boxes.
// Shared by the dialog tests, the benchmark's driver and the demo's driver.
#pragma once

#include <windows.h>

#include <string>

#include "resource.h"

constexpr wchar_t kDialogTitle[] = L"" DIALOG_TITLE;

// Starts commandLine in workDir with its standard handles on NUL, so that nothing it starts
// holds the caller's output open. The process handle, which the caller closes, and its id in
// *pid; null when it cannot start.
HANDLE StartProgram(const std::wstring& commandLine, const std::wstring& workDir, DWORD* pid);

// Starts the installer named by the command-line argument installer in the folder named by
// workDir and waits up to 30 s for its dialog. The process, which the caller closes, with its
// id in *pid and the dialog in *dialog; null after saying on stderr, after tag, what failed
// (a started process is then ended).
HANDLE StartInstaller(const char* installer, const char* workDir, const char* tag, DWORD* pid,
                      HWND* dialog);

// A visible top-level window of process pid (0: of any process) with this title (null: any
// title but the dialog's), waiting up to timeoutMs; null when none came.
HWND WaitWindow(DWORD pid, const wchar_t* title, DWORD timeoutMs);

// A window's text, asked with a timeout: a hung program cannot stop the caller.
std::wstring WindowText(HWND hwnd);
// The text of one of the dialog's controls.
std::wstring ControlText(HWND dialog, int id);

// A click on one of the dialog's buttons, sent as the button itself reports one.
void PressButton(HWND dialog, int id);

// A message box's text; presses one of its buttons and waits up to a second for it to go.
std::wstring AnswerBox(HWND box, int button);

// A command-line argument, which arrives in the ANSI code page, as UTF-16.
std::wstring ArgumentText(const char* arg);
