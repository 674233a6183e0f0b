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

namespace {

const wchar_t kTitle[] = L"Orvanta Archive Extractor";
constexpr int IDC_DEST_PATH = 1002, IDC_EXTRACT = 1005;

struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t title[256] = {};
    GetWindowTextW(hwnd, title, 256);
    if (pid == search->pid && IsWindowVisible(hwnd) && wcscmp(title, kTitle) == 0) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::string ControlText(HWND dialog, int id) {
    char buf[1024] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof(buf),
                        reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &result);
    return buf;
}

int Fail(const char* what, HANDLE process) {
    fprintf(stderr, "driver: %s (error %lu)\n", what, GetLastError());
    if (process) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
    return 1;
}

// Starts a program with its standard handles on NUL: nothing it starts may hold our output
// pipe open.
bool Start(std::string commandLine, const std::string& workDir, PROCESS_INFORMATION* pi) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, workDir.c_str(), &si, pi);
    CloseHandle(nul);
    if (started)
        CloseHandle(pi->hThread);
    return started != FALSE;
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
    std::string commandLine;
    for (int i = 3; i < argc; ++i) {
        if (!commandLine.empty())
            commandLine += ' ';
        commandLine += '"';
        commandLine += argv[i];
        commandLine += '"';
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    PROCESS_INFORMATION pi = {};
    if (!Start(commandLine, argv[2], &pi))
        return Fail("cannot start the program", nullptr);
    return Report(pi.hProcess, start);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "--run") == 0)
        return RunProgram(argc, argv);
    if (argc != 3) {
        fprintf(stderr, "usage: driver.exe INSTALLER WORKDIR | --run WORKDIR PROGRAM [ARGS...]\n");
        return 2;
    }
    const std::string installer = argv[1], workDir = argv[2];
    PROCESS_INFORMATION pi = {};
    if (!Start("\"" + installer + "\"", workDir, &pi))
        return Fail("cannot start the installer", nullptr);

    WindowSearch search = {pi.dwProcessId, nullptr};
    const DWORD begin = GetTickCount();
    while (!search.found && GetTickCount() - begin < 60000) {
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            Sleep(5);
    }
    if (!search.found)
        return Fail("no dialog within 60 s", pi.hProcess);
    const HWND dialog = search.found;
    // A destination other than the expected one would mean extracting somewhere unchecked.
    const std::string expected = workDir + "\\Extract";
    const std::string shown = ControlText(dialog, IDC_DEST_PATH);
    if (_stricmp(shown.c_str(), expected.c_str()) != 0) {
        fprintf(stderr, "driver: destination is \"%s\", expected \"%s\"\n", shown.c_str(),
                expected.c_str());
        return Fail("unexpected destination", pi.hProcess);
    }
    WaitForInputIdle(pi.hProcess, 5000);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXTRACT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_EXTRACT)));
    return Report(pi.hProcess, start);
}
