// Plays the user for the demo when nobody is watching: starts the installer in a working
// folder, presses "Extraire", photographs its dialog (once its progress bar, if it has one,
// is a third of the way; before the press when the run is too short to catch), answers the
// demo setup's box and waits for the installer to end. Prints what it did; exit code 0 when
// everything happened.
//
// Usage: drive INSTALLER WORKDIR SCREENSHOT.bmp
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "dialog_driver.h"
#include "window_bitmap.h"

static const wchar_t kSetupTitle[] = L"Démo Orvanta";

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: drive INSTALLER WORKDIR SCREENSHOT.bmp\n");
        return 2;
    }
    DWORD pid = 0;
    HWND dialog = nullptr;
    const HANDLE process = StartInstaller(argv[1], argv[2], "drive", &pid, &dialog);
    if (!process)
        return 1;
    Sleep(300); // painted
    SaveWindowBitmap(dialog, argv[3]);
    printf("drive: dialog shown, pressing \"Extraire\"\n");
    PressButton(dialog, IDC_EXTRACT);
    for (int i = 0; i < 30000 && WaitForSingleObject(process, 1) == WAIT_TIMEOUT; ++i) {
        const HWND bar = FindWindowExW(dialog, nullptr, L"msctls_progress32", nullptr);
        DWORD_PTR position = 0, range = 0;
        if (bar && SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position) &&
            SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &range) &&
            position * 3 >= range && position < range) {
            SaveWindowBitmap(dialog, argv[3]);
            printf("drive: dialog photographed with its progress bar at %lu%%\n",
                   static_cast<unsigned long>(position * 100 / range));
            break;
        }
    }
    DWORD code = 1;
    WaitForSingleObject(process, 60000);
    GetExitCodeProcess(process, &code);
    printf("drive: installer ended with exit code %lu\n", code);
    // The package's own program shows it, from a process of its own.
    HWND box = WaitWindow(0, kSetupTitle, 30000);
    if (!box) {
        fprintf(stderr, "drive: the package's Setup.exe did not show its box\n");
        return 1;
    }
    const std::wstring text = AnswerBox(box, IDOK);
    char utf8[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof(utf8), nullptr, nullptr);
    printf("drive: Setup.exe says: %s\n", utf8); // the Linux terminal reads UTF-8
    CloseHandle(process);
    return code == 0 ? 0 : 1;
}
