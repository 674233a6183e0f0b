#include <windows.h>
#include <process.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>
#include <cstring>

#include "app.h"
#include "exit_codes.h"
#include "cab_messages.h"
#include "driver.h"
#include "lane.h"
#include "wide_path.h"

static void AskCancellation(HWND hwnd) {
    // A passive run asks nothing: Annuler cancels.
    if (!g_options.passive) {
        SetTaskbarState(hwnd, TBPF_PAUSED);
        // The extraction waits for the answer; when another box is up it waits already.
        const bool held = TryHoldLanes();
        const int answer =
            MessageBoxW(hwnd, L"Voulez-vous vraiment annuler la procédure d'extraction ?",
                        L"Annuler...", MB_YESNO | MB_ICONWARNING);
        if (held)
            ReleaseLanes();
        SetTaskbarState(hwnd, TBPF_NORMAL);
        if (answer != IDYES)
            return;
    }
    g_cancelRequested = 1;
    g_exitCode = kExitCancelled;
    if (!g_extractionStarted)
        PostQuitMessage(0);
    else
        SetDlgItemTextW(hwnd, IDC_PROGRESS_TEXT, L"..."); // also over "Vérification..."
    // Otherwise the job notices the flag, reports it and ends the program itself.
}

static void BrowseForDestination(HWND hwnd) {
    wchar_t path[MAX_PATH] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = hwnd;
    info.pszDisplayName = path;
    info.lpszTitle = L"Sélection du répertoire d'extraction";
    // Only file-system folders: a library or "This PC" has no path to extract to.
    info.ulFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX | BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (!item)
        return;
    // An item without a file-system path keeps the current destination.
    if (SHGetPathFromIDListW(item, path) && path[0])
        SetDlgItemTextW(hwnd, IDC_DEST_PATH, path);
    CoTaskMemFree(item);
}

static void StartExtraction(HWND hwnd) {
    // The worker gets the destination read here rather than asking this thread for it, so it
    // starts at once and extracts while this thread disables the controls. No input is taken
    // before this handler returns, so the text is the one the click was made on.
    char* destination = ReadDestination();
    // Without the event the dialog only goes without its rests.
    g_jobEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_extractionStarted = 1;
    if (_beginthread(ExtractionThread, 0, destination) == static_cast<uintptr_t>(-1L)) {
        free(destination);
        // No worker will ever post WM_EXTRACT_DONE: end here rather than hang.
        MessageBoxW(hwnd, L"Impossible de démarrer l'extraction.", L"Erreur", MB_OK | MB_ICONERROR);
        PostQuitMessage(0);
        return;
    }
    // Each control would repaint as it is disabled: the dialog repaints once, after. The bar,
    // if any, is made meanwhile too, while the worker already extracts.
    SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
    // A disabled control cannot keep the focus: Annuler takes it, so that Esc and Enter still
    // reach the dialog.
    SendMessageW(hwnd, DM_SETDEFID, IDCANCEL, 0);
    SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, IDCANCEL)), TRUE);
    CreateProgressBar(hwnd);
    EnableWindow(GetDlgItem(hwnd, IDC_DEST_PATH), FALSE);
    EnableWindow(GetDlgItem(hwnd, IDC_BROWSE), FALSE);
    EnableWindow(GetDlgItem(hwnd, IDC_EXTRACT), FALSE);
    SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// Records arrive far faster than a screen shows them (thousands of small files a second), and
// each repaint costs more than extracting a small file. So each take frees every waiting record
// and paints the latest one's text only; then this thread rests a frame: woken for each record,
// it would ask the server for messages several times per file, and the worker's own requests
// queue behind those. Takes, and so paints, are thus at least a frame apart; the rest ends
// early once the job has ended, as its WM_EXTRACT_DONE would wait behind it.
constexpr UINT kProgressFrameMs = 16;

// The progress line for one record: "..." once cancelled or without a name. Null: no memory.
static wchar_t* ProgressText(const ProgressInfo* info) {
    if (g_cancelRequested.load() || !info || !info->fileName || info->fileName[0] == '\0')
        return Utf8ToWide("...");
    static const char kPrefix[] = "Extraction : ";
    const size_t length = strlen(info->fileName);
    char* text = static_cast<char*>(malloc(sizeof(kPrefix) + length));
    if (!text)
        return nullptr;
    memcpy(text, kPrefix, sizeof(kPrefix) - 1);
    memcpy(text + sizeof(kPrefix) - 1, info->fileName, length + 1);
    wchar_t* wide = Utf8ToWide(text);
    free(text);
    return wide;
}

// Takes one record and every one already waiting behind it, and shows the last.
static void ShowProgress(WPARAM wParam) {
    ProgressInfo* latest = reinterpret_cast<ProgressInfo*>(wParam);
    MSG next;
    LogProgress(latest);
    while (PeekMessageW(&next, g_hwndMain, WM_EXTRACT_PROGRESS, WM_EXTRACT_PROGRESS, PM_REMOVE)) {
        LogProgress(reinterpret_cast<ProgressInfo*>(next.wParam));
        FreeProgressInfo(latest);
        latest = reinterpret_cast<ProgressInfo*>(next.wParam);
    }
    wchar_t* text = ProgressText(latest);
    FreeProgressInfo(latest);
    if (text)
        SetDlgItemTextW(g_hwndMain, IDC_PROGRESS_TEXT, text);
    free(text);
    UpdateProgressBar(g_hwndMain);
    WaitForSingleObject(g_jobEnded, kProgressFrameMs);
}

INT_PTR CALLBACK MainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        // Enter means Extraire; the template stays as it is, so the default is set here.
        SendMessageW(hwnd, DM_SETDEFID, IDC_EXTRACT, 0);
        SetFocus(GetDlgItem(hwnd, IDC_EXTRACT));
        // Activation, once the dialog shows, may put the focus back on the first tab stop.
        PostMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, IDC_EXTRACT)),
                     TRUE);
        WatchTaskbarButton(hwnd);
        return 0; // the focus is set
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
        // The same number is the dialog manager's DM_SETDEFID, which carries a control's id:
        // only the job's own message (wParam 0, posted once it has ended) ends the program;
        // the other goes on to the manager.
        if (wParam == 0 && g_extractionStarted &&
            (!g_jobEnded || WaitForSingleObject(g_jobEnded, 0) == WAIT_OBJECT_0))
            PostQuitMessage(0);
        break;
    case WM_EXTRACT_PROGRESS:
        ShowProgress(wParam);
        break;
    case WM_EXTRACT_WRITTEN:
        UpdateProgressBar(hwnd, true);
        break;
    case WM_TIMER:
        UpdateProgressBar(hwnd);
        break;
    case WM_EXTRACT_CHECKING:
        SetDlgItemTextW(hwnd, IDC_PROGRESS_TEXT,
                        g_cancelRequested.load() ? L"..." : L"Vérification de l'archive...");
        break;
    case WM_TASKBAR_STATE:
        SetTaskbarState(hwnd, static_cast<int>(wParam));
        break;
    default:
        IsTaskbarButtonCreated(message);
        break;
    }
    return 0;
}
