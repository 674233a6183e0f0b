#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdlib.h>
#include <wchar.h>

#include "app.h"
#include "destination_rule.h"
#include "embedded_file.h"
#include "owned.h"
#include "payload_digest.h"

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

// The working folder, whatever its length; a heap block, null when it cannot be had.
static wchar_t* WorkingFolder() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    wchar_t* folder = size ? static_cast<wchar_t*>(calloc(size, sizeof(wchar_t))) : nullptr;
    if (folder && GetCurrentDirectoryW(size, folder) >= size)
        folder[0] = L'\0';
    return folder;
}

// Puts the proposed destination into the dialog: the working folder's "Extract", unless the
// program was started from the system folder (the Run box, an elevated shortcut) or from a
// folder too deep for it (destination_rule.h).
static void ProposeDestinationIn(HWND dialog) {
    wchar_t windows[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        windows[0] = L'\0';
    const OwnedBlock<wchar_t> working(WorkingFolder());
    const OwnedBlock<wchar_t> program(OwnPath());
    if (program) {
        wchar_t* slash = wcsrchr(program.get(), L'\\');
        if (slash)
            slash[slash == program.get() + 2 && program.get()[1] == L':' ? 1 : 0] = L'\0';
    }
    wchar_t profile[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)))
        profile[0] = L'\0';
    wchar_t proposed[MAX_PATH] = {};
    ProposeDestination(working ? working.get() : L"", windows, program ? program.get() : L"",
                       profile, MAX_PATH, proposed, sizeof(proposed) / sizeof(proposed[0]));
    SetDlgItemTextW(dialog, IDC_DEST_PATH, proposed);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictLibrarySearch();
    g_hInstance = instance;
    StartPayloadDigest();
    CoInitialize(nullptr); // the folder browser needs an apartment on this thread

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    g_hwndMain =
        CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (!g_hwndMain) {
        // Without the dialog no quit message could ever come.
        MessageBoxW(nullptr, L"Impossible de créer la fenêtre de l'installateur.", L"Erreur",
                    MB_OK | MB_ICONERROR);
        return 0;
    }

    ProposeDestinationIn(g_hwndMain);
    SetDlgItemTextW(g_hwndMain, IDC_PROGRESS_TEXT, L"");
    ShowWindow(g_hwndMain, SW_SHOW);
    PumpPendingMessages();

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
    return 0;
}
