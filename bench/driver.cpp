// Times one installer run under Wine from the press of "Extraire" to the process's exit.
//   driver.exe INSTALLER WORKDIR
// The installer starts in WORKDIR, so its proposed destination is WORKDIR\Extract.
//   driver.exe --run WORKDIR PROGRAM [ARGS...]
// Times any program from its creation to its exit, for the same memory figures.
// Both print one line: elapsed_ms=... exit=... peak_ws=... peak_pagefile=... (bytes).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "dialog_driver.h"

namespace {

int Fail(const char* what, HANDLE process) {
    fprintf(stderr, "driver: %s (error %lu)\n", what, GetLastError());
    if (process) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
    return 1;
}

// Waits for the exit, then prints the time since start and the peak memory figures.
int Report(HANDLE process, const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, end;
    QueryPerformanceFrequency(&frequency);
    PROCESS_MEMORY_COUNTERS last = {};
    last.cb = sizeof(last);
    // The peaks are sampled while it runs too: once the process is gone, Wine may no longer
    // report its counters.
    DWORD waited;
    for (;;) {
        waited = WaitForSingleObject(process, 20);
        if (waited != WAIT_TIMEOUT)
            break;
        PROCESS_MEMORY_COUNTERS now = {};
        now.cb = sizeof(now);
        if (GetProcessMemoryInfo(process, &now, sizeof(now)))
            last = now;
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        if (t.QuadPart - start.QuadPart > frequency.QuadPart * 600)
            return Fail("no exit within 600 s", process);
    }
    QueryPerformanceCounter(&end);
    // Marks for a traced run (WINEDEBUG=+timestamp,+debugstr): bench/timeline.py reads them.
    OutputDebugStringA("bench: exit");
    if (waited != WAIT_OBJECT_0)
        return Fail("waiting for the program failed", process);

    PROCESS_MEMORY_COUNTERS final = {};
    final.cb = sizeof(final);
    if (GetProcessMemoryInfo(process, &final, sizeof(final)) && final.PeakWorkingSetSize)
        last = final;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);

    const double ms = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
    printf("elapsed_ms=%.1f exit=%lu peak_ws=%lu peak_pagefile=%lu\n", ms, code,
           static_cast<unsigned long>(last.PeakWorkingSetSize),
           static_cast<unsigned long>(last.PeakPagefileUsage));
    return code == 0 ? 0 : 1;
}

int RunProgram(int argc, char** argv) {
    std::wstring commandLine;
    for (int i = 3; i < argc; ++i) {
        if (!commandLine.empty())
            commandLine += L' ';
        commandLine += L'"' + ArgumentText(argv[i]) + L'"';
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    OutputDebugStringA("bench: start");
    DWORD pid = 0;
    const HANDLE process = StartProgram(commandLine, ArgumentText(argv[2]), &pid);
    if (!process)
        return Fail("cannot start the program", nullptr);
    return Report(process, start);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "--run") == 0)
        return RunProgram(argc, argv);
    if (argc != 3) {
        fprintf(stderr, "usage: driver.exe INSTALLER WORKDIR | --run WORKDIR PROGRAM [ARGS...]\n");
        return 2;
    }
    const std::wstring installer = ArgumentText(argv[1]), workDir = ArgumentText(argv[2]);
    DWORD pid = 0;
    const HANDLE process = StartProgram(L"\"" + installer + L"\"", workDir, &pid);
    if (!process)
        return Fail("cannot start the installer", nullptr);

    const HWND dialog = WaitWindow(pid, kDialogTitle, 60000);
    if (!dialog)
        return Fail("no dialog within 60 s", process);
    // A destination other than the expected one would mean extracting somewhere unchecked.
    const std::wstring expected = workDir + L"\\Extract";
    // The dialog exists a moment before its start-up fills the box (longer under strace).
    std::wstring shown = ControlText(dialog, IDC_DEST_PATH);
    for (int waited = 0; shown.empty() && waited < 10000; waited += 20) {
        Sleep(20);
        shown = ControlText(dialog, IDC_DEST_PATH);
    }
    if (_wcsicmp(shown.c_str(), expected.c_str()) != 0) {
        fprintf(stderr, "driver: destination is \"%ls\", expected \"%ls\"\n", shown.c_str(),
                expected.c_str());
        return Fail("unexpected destination", process);
    }
    WaitForInputIdle(process, 5000);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    OutputDebugStringA("bench: click");
    PressButton(dialog, IDC_EXTRACT);
    return Report(process, start);
}
