#include <windows.h>
#include <io.h>
#include <process.h>
#include <objbase.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app.h"
#include "binding.h"
#include "driver.h"
#include "exit_codes.h"
#include "owned.h"
#include "precheck.h"
#include "run_log.h"
#include "wide_path.h"

// The one box that tells a failure (UTF-8 text: it may name files outside the ANSI code page);
// a log line only, when nothing may wait for a person.
static void ShowError(const char* text) {
    LogLine("error: ", text);
    if (Unattended())
        return;
    SendMessageW(g_hwndMain, WM_TASKBAR_STATE, TBPF_ERROR, 0);
    const OwnedBlock<wchar_t> wide(Utf8ToWide(text));
    if (wide)
        MessageBoxW(g_hwndMain, wide.get(), L"Erreur", MB_OK | MB_ICONERROR);
    else
        MessageBoxA(g_hwndMain, text, "Erreur", MB_OK | MB_ICONERROR);
}

// How often, and how long, an unattended run tries a file another program holds again.
constexpr DWORD kHeldRetryMs = 2000;
constexpr DWORD kHeldPatienceMs = 30000;

// The box that says a file is held by another program (text, UTF-8): true for Réessayer,
// false for Annuler. Unattended, the file is tried again every 2 s for 30 s instead.
static bool AskRetry(HWND owner, const char* text) {
    if (!text)
        text = "Fichier utilisé par un autre programme"; // no memory for the whole text
    LogLine("in use: ", text);
    if (Unattended()) {
        static DWORD s_heldSince = 0;
        static char s_heldText[512] = "";
        if (strncmp(s_heldText, text, sizeof(s_heldText) - 1) != 0) { // another file
            strncpy(s_heldText, text, sizeof(s_heldText) - 1);
            s_heldSince = GetTickCount();
        }
        Sleep(kHeldRetryMs);
        return GetTickCount() - s_heldSince < kHeldPatienceMs;
    }
    const OwnedBlock<wchar_t> wide(Utf8ToWide(text));
    return MessageBoxW(owner, wide ? wide.get() : L"Fichier utilisé", L"Fichier utilisé",
                       MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

// The same box when the driver finds a file held during the run.
static bool AskRetryInUse(HWND owner, const char* file) {
    const OwnedBlock<char> text(InUseText(file));
    return AskRetry(owner, text.get());
}

// The notice of a confirmed cancel, if there was one.
static void ShowCancelNotice() {
    if (!g_cancelRequested.load())
        return;
    g_exitCode = kExitCancelled;
    LogLine("cancelled by the user");
    if (!Unattended())
        MessageBoxW(g_hwndMain,
                    L"L'extraction a été annulée cependant les fichiers ne seront pas supprimés",
                    L"Annulation", MB_OK | MB_ICONWARNING);
}

// Creates every folder along path (UTF-8, ending in '\\' or empty); true when it exists then.
static bool CreateFolderPath(const char* path) {
    const size_t length = strlen(path);
    OwnedBlock<char> folder(static_cast<char*>(malloc(length + 1)));
    if (!folder)
        return false;
    memcpy(folder.get(), path, length + 1);
    for (size_t i = 0; i < length; ++i) {
        if (folder.get()[i] != '\\' || i == 0 || folder.get()[i - 1] == ':')
            continue; // no root, no drive
        folder.get()[i] = '\0';
        const OwnedBlock<wchar_t> wide(WidePath(folder.get()));
        if (wide)
            CreateDirectoryW(wide.get(), nullptr);
        folder.get()[i] = '\\';
    }
    return FolderExists(path);
}

// Everything between binding the library and releasing it; the extractor's destruction at
// the end of this scope is the release, on every way out. destination as the dialog shows it.
static void RunExtraction(const char* shown) {
    CabExtractor extractor(g_hwndMain);
    const OwnedBlock<char> destination(NormaliseDestination(shown));
    if (!destination) {
        ShowError(CabErrorText(FDIERROR_ALLOC_FAIL));
        return;
    }
    // What can be known before the first write is checked before it: a refused run writes
    // nothing, not even the destination folder.
    uint64_t payloadBytes = 0;
    int refused = CheckBeforeExtracting(&extractor, destination.get(), &payloadBytes);
    // A file held by another program is named before anything is written; Annuler leaves
    // the folder as it was.
    while (refused == CAB_ERROR_IN_USE && !g_cancelRequested.load()) {
        if (!AskRetry(g_hwndMain, FailureText(&extractor))) {
            // Annuler: nothing was written; unattended, the file stayed held.
            g_exitCode = Unattended() ? ExitCodeOfFailure(refused) : kExitCancelled;
            return;
        }
        refused = CheckBeforeExtracting(&extractor, destination.get(), &payloadBytes);
    }
    if (refused != 0) {
        // A cancel that stopped the checks is no failure: only the notice follows.
        if (refused != FDIERROR_USER_ABORT || !g_cancelRequested.load()) {
            ShowError(FailureText(&extractor));
            g_exitCode = ExitCodeOfFailure(refused);
        }
        ShowCancelNotice();
        return;
    }
    LogLine("checks: the payload is whole, its names can be written, the volume has room");
    extractor.askRetryInUse = AskRetryInUse;
    g_payloadKiB = static_cast<uint32_t>(payloadBytes >> 10);
    LoadCabinetLibrary(&extractor);
    if (g_options.given) {
        // A run with switches makes the whole path, and says so when it cannot.
        if (!CreateFolderPath(destination.get())) {
            ShowError("Le dossier de destination ne peut pas être créé.");
            g_exitCode = kExitNoDestination;
            return;
        }
    } else {
        const OwnedBlock<wchar_t> wide(WidePath(shown));
        if (wide)
            CreateDirectoryW(wide.get(), nullptr);
    }
    if (!ExtractAll(&extractor, destination.get())) {
        ShowError(FailureText(&extractor));
        g_exitCode = ExitCodeOfFailure(GetCabErrorMessage(&extractor, nullptr));
    } else {
        PostMessageW(g_hwndMain, WM_EXTRACT_WRITTEN, 0, 0);
        LogLine("extracted");
        const bool launch = !g_cancelRequested.load() && !g_options.extractOnly;
        if (launch && g_options.given)
            g_exitCode = LaunchSetupAndWait(shown);
        else if (launch)
            LaunchSetup(shown);
    }
    ShowCancelNotice();
}

HANDLE g_jobEnded = nullptr;

void LogProgress(const ProgressInfo* info) {
    if (info && info->outputPath && info->outputPath[0] && !g_cancelRequested.load())
        LogLine("file: ", info->outputPath);
}

char* ReadDestination() {
    const HWND box = GetDlgItem(g_hwndMain, IDC_DEST_PATH);
    const int length = GetWindowTextLengthW(box);
    wchar_t* wide = static_cast<wchar_t*>(calloc(static_cast<size_t>(length) + 1, sizeof(wchar_t)));
    if (!wide)
        return nullptr;
    GetWindowTextW(box, wide, length + 1);
    char* utf8 = WideToUtf8(wide);
    free(wide);
    return utf8;
}

void __cdecl ExtractionThread(void* argument) {
    char* destination = static_cast<char*>(argument);
    if (destination)
        RunExtraction(destination);
    else
        ShowError(CabErrorText(FDIERROR_ALLOC_FAIL));
    free(destination);
    SetEvent(g_jobEnded);
    // The program can only end through this message: insist until the queue takes it.
    while (!PostMessageW(g_hwndMain, WM_EXTRACT_DONE, 0, 0))
        Sleep(50);
    _endthread();
}
