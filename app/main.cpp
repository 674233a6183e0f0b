#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <stdlib.h>
#include <wchar.h>

#include "app.h"
#include "embedded_file.h"
#include "exit_codes.h"
#include "owned.h"
#include "payload_digest.h"
#include "run_log.h"

HWND g_hwndMain = nullptr;
int g_extractionStarted = 0;

void PumpPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // A quit requested meanwhile belongs to the main loop: hand it back.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (!IsDialogMessageW(g_hwndMain, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// Libraries loaded by name from here on (the shell's, the visual styles', the folder
// browser's) come from the system folder only: never from the folder the installer was
// started from, where a downloaded DLL may lie beside it. Windows 7 has the call only with
// KB2533623; without it, dropping the current folder from the search is what is left.
static void RestrictLibrarySearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");
}

// Ends the program: the exit code (0 without switches, as ever), said in the log.
static int Finish() {
    const uint32_t code = g_options.given ? g_exitCode.load() : kExitSuccess;
    const char* known = ExitCodeReason(code);
    const char* reason = g_exitFromSetup ? "the setup program's own code"
                         : known         ? known
                                         : "the setup program cannot start (the system's error)";
    char line[128];
    wsprintfA(line, "exit code %lu: %s", static_cast<unsigned long>(code), reason);
    LogLine(line);
    CloseRunLog();
    FreeRunOptions(&g_options);
    return static_cast<int>(code);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictLibrarySearch();
    g_hInstance = instance;
    const int early = ReadRunOptions();
    if (early >= 0) {
        g_exitCode = static_cast<uint32_t>(early);
        return Finish();
    }
    StartPayloadDigest();
    CoInitialize(nullptr); // the folder browser needs an apartment on this thread

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    const OwnedBlock<wchar_t> destination(ChooseDestination());
    LogLineW("destination: ", destination.get());
    if (g_options.quiet) {
        RunQuiet(destination ? destination.get() : L"");
        return Finish();
    }

    g_hwndMain =
        CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (!g_hwndMain) {
        // Without the dialog no quit message could ever come.
        LogLine("error: the dialog cannot be created");
        if (!Unattended())
            MessageBoxW(nullptr, L"Impossible de créer la fenêtre de l'installateur.", L"Erreur",
                        MB_OK | MB_ICONERROR);
        g_exitCode = kExitFailure;
        return Finish();
    }

    SetDlgItemTextW(g_hwndMain, IDC_DEST_PATH, destination ? destination.get() : L"");
    SetDlgItemTextW(g_hwndMain, IDC_PROGRESS_TEXT, L"");
    ShowWindow(g_hwndMain, SW_SHOW);
    PumpPendingMessages();
    if (g_options.passive) // the dialog runs by itself, as if "Extraire" were pressed
        PostMessageW(g_hwndMain, WM_COMMAND, IDC_EXTRACT, 0);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // The dialog's keys: Tab between controls, Enter for Extraire, Esc for Annuler.
        if (IsDialogMessageW(g_hwndMain, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    EndDialog(g_hwndMain, 0);
    ReleaseProgressBar();
    // Set before the worker's last message, so no one uses it any more.
    if (g_jobEnded)
        CloseHandle(g_jobEnded);
    return Finish();
}
