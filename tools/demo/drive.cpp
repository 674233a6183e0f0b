// Plays the user for the demo when nobody is watching: starts the installer in a working
// folder, photographs its dialog, presses "Extraire", answers the demo setup's box and waits
// for the installer to end. Prints what it did; exit code 0 when everything happened.
//
// Usage: drive INSTALLER WORKDIR SCREENSHOT.bmp
#include <windows.h>

#include <cstdio>
#include <string>

#include "window_bitmap.h"

static const wchar_t kDialogTitle[] = L"Orvanta Archive Extractor";
static const wchar_t kSetupTitle[] = L"Démo Orvanta";
constexpr int IDC_EXTRACT = 1005;

static HWND WaitForWindow(const wchar_t* title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        HWND hwnd = FindWindowW(nullptr, title);
        if (hwnd && IsWindowVisible(hwnd))
            return hwnd;
        Sleep(10);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: drive INSTALLER WORKDIR SCREENSHOT.bmp\n");
        return 2;
    }
    // Standard handles to NUL: the programs started from here must not hold our output open.
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi = {};
    std::string cmd = std::string("\"") + argv[1] + "\"";
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, argv[2], &si, &pi)) {
        fprintf(stderr, "drive: cannot start %s\n", argv[1]);
        return 1;
    }
    HWND dialog = WaitForWindow(kDialogTitle, 30000);
    if (!dialog) {
        fprintf(stderr, "drive: the installer's dialog did not appear\n");
        TerminateProcess(pi.hProcess, 1);
        return 1;
    }
    Sleep(300); // painted
    SaveWindowBitmap(dialog, argv[3]);
    printf("drive: dialog shown, pressing \"Extraire\"\n");
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXTRACT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_EXTRACT)));
    DWORD code = 1;
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &code);
    printf("drive: installer ended with exit code %lu\n", code);
    HWND box = WaitForWindow(kSetupTitle, 30000);
    if (!box) {
        fprintf(stderr, "drive: the package's Setup.exe did not show its box\n");
        return 1;
    }
    wchar_t text[256] = {};
    GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 256);
    char utf8[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
    printf("drive: Setup.exe says: %s\n", utf8); // the Linux terminal reads UTF-8
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(nul);
    return code == 0 ? 0 : 1;
}
