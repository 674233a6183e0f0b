// Test helper: runs an installer in a working folder, presses "Extraire", answers every
// "Erreur" and "Installation" box and prints its text, then the exit code; one tab-separated
// line each, UTF-8.
// With --browse it first opens the folder browser and cancels it; with --watch-bar it prints
// each new position of the dialog's progress bar ("bar\tPOS\tMAX"), or "bar\tnone".
//   press_extract INSTALLER WORKDIR [--browse | --watch-bar]
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dialog_driver.h"

static void PrintUtf8(const char* tag, const std::wstring& text) {
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof(utf8) - 1, nullptr, nullptr);
    printf("%s\t%s\n", tag, utf8);
    fflush(stdout);
}

int main(int argc, char** argv) {
    const bool browse = argc == 4 && strcmp(argv[3], "--browse") == 0;
    const bool watchBar = argc == 4 && strcmp(argv[3], "--watch-bar") == 0;
    if (argc != 3 && !browse && !watchBar) {
        fprintf(stderr, "usage: press_extract INSTALLER WORKDIR [--browse | --watch-bar]\n");
        return 2;
    }
    DWORD pid = 0;
    HWND dialog = nullptr;
    const HANDLE process = StartInstaller(argv[1], argv[2], "press_extract", &pid, &dialog);
    if (!process)
        return 1;
    PrintUtf8("destination", ControlText(dialog, IDC_DEST_PATH));
    if (browse) {
        PressButton(dialog, IDC_BROWSE);
        const HWND browser = WaitWindow(pid, nullptr, 20000);
        if (browser) {
            Sleep(300);
            PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
        }
        printf("browser\t%s\n", browser ? "cancelled" : "did not open");
        Sleep(300);
    }
    PressButton(dialog, IDC_EXTRACT);
    const DWORD start = GetTickCount();
    HWND bar = nullptr;
    LRESULT shown = -1;
    while (WaitForSingleObject(process, watchBar ? 1 : 20) == WAIT_TIMEOUT) {
        if (watchBar && !bar)
            bar = FindWindowExW(dialog, nullptr, L"msctls_progress32", nullptr);
        DWORD_PTR position = 0, range = 0;
        if (bar && SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position) &&
            SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &range) &&
            static_cast<LRESULT>(position) != shown) {
            shown = static_cast<LRESULT>(position);
            printf("bar\t%lu\t%lu\n", static_cast<unsigned long>(position),
                   static_cast<unsigned long>(range));
            fflush(stdout);
        }
        if (GetTickCount() - start > 120000) {
            TerminateProcess(process, 99);
            break;
        }
        if (const HWND box = WaitWindow(pid, L"Erreur", 0))
            PrintUtf8("error", AnswerBox(box, IDOK));
        if (const HWND box = WaitWindow(pid, L"Installation", 0))
            PrintUtf8("notice", AnswerBox(box, IDOK));
    }
    if (watchBar && !bar)
        printf("bar\tnone\n");
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    printf("exit\t%lu\n", code);
    CloseHandle(process);
    return 0;
}
