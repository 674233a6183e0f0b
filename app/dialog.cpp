#include <windows.h>
#include <process.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "app.h"
#include "driver.h"
#include "wide_path.h"

static void AskCancellation(HWND hwnd) {
    const int answer =
        MessageBoxW(hwnd, L"Voulez-vous vraiment annuler la procédure d'extraction ?",
                    L"Annuler...", MB_YESNO | MB_ICONWARNING);
    if (answer != IDYES)
        return;
    g_cancelRequested = 1;
    if (!g_extractionStarted)
        PostQuitMessage(0);
    // Otherwise the job notices the flag, reports it and ends the program itself.
}

static void BrowseForDestination(HWND hwnd) {
    wchar_t path[MAX_PATH] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = hwnd;
    info.pszDisplayName = path;
    info.lpszTitle = L"Sélection du répertoire d'extraction";
    info.ulFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (!item)
        return;
    // An item without a file-system path keeps the current destination.
    if (SHGetPathFromIDListW(item, path) && path[0])
        SetDlgItemTextW(hwnd, IDC_DEST_PATH, path);
    CoTaskMemFree(item);
}

static void StartExtraction(HWND hwnd) {
    EnableWindow(GetDlgItem(hwnd, IDC_DEST_PATH), FALSE);
    EnableWindow(GetDlgItem(hwnd, IDC_BROWSE), FALSE);
    EnableWindow(GetDlgItem(hwnd, IDC_EXTRACT), FALSE);
    g_extractionStarted = 1;
    if (_beginthread(ExtractionThread, 0, nullptr) == static_cast<uintptr_t>(-1L)) {
        // No worker will ever post WM_EXTRACT_DONE: end here rather than hang.
        MessageBoxW(hwnd, L"Impossible de démarrer l'extraction.", L"Erreur", MB_OK | MB_ICONERROR);
        PostQuitMessage(0);
    }
}

static void ShowProgress(WPARAM wParam) {
    ProgressInfo* info = reinterpret_cast<ProgressInfo*>(wParam);
    // A newer record already waiting would replace this text at once: skip the repaint.
    MSG newer;
    const bool superseded = PeekMessageW(&newer, g_hwndMain, WM_EXTRACT_PROGRESS,
                                         WM_EXTRACT_PROGRESS, PM_NOREMOVE) != FALSE;
    if (!superseded) {
        if (g_cancelRequested.load() || !info || !info->fileName ||
            strnlen(info->fileName, 32) == 0) {
            SetDlgItemTextA(g_hwndMain, IDC_PROGRESS_TEXT, "...");
        } else {
            static const char kPrefix[] = "Extraction : ";
            const size_t length = strlen(info->fileName);
            char* text = static_cast<char*>(malloc(sizeof(kPrefix) + length));
            wchar_t* wide = nullptr;
            if (text) {
                memcpy(text, kPrefix, sizeof(kPrefix) - 1);
                memcpy(text + sizeof(kPrefix) - 1, info->fileName, length + 1);
                wide = Utf8ToWide(text);
            }
            if (wide)
                SetDlgItemTextW(g_hwndMain, IDC_PROGRESS_TEXT, wide);
            free(wide);
            free(text);
        }
    }
    FreeProgressInfo(info);
}

INT_PTR CALLBACK MainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return 1;
    case WM_CLOSE:
        AskCancellation(hwnd);
        return 1; // handled: the dialog manager would turn it into a second IDCANCEL
    case WM_COMMAND:
        if (wParam == IDCANCEL)
            AskCancellation(hwnd);
        else if (wParam == IDC_BROWSE)
            BrowseForDestination(hwnd);
        else if (wParam == IDC_EXTRACT)
            StartExtraction(hwnd);
        break;
    case WM_EXTRACT_DONE:
        PostQuitMessage(0);
        break;
    case WM_EXTRACT_PROGRESS:
        ShowProgress(wParam);
        break;
    default:
        break;
    }
    return 0;
}
