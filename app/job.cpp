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
#include "owned.h"
#include "precheck.h"
#include "wide_path.h"

bool FileExists(const char* path) {
    wchar_t* wide = WidePath(path);
    if (!wide)
        return false;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW(wide, &entry);
    free(wide);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

// destination + '\\' + name, UTF-8, in a heap block; null when no memory is left.
static char* JoinPath(const char* destination, const char* name) {
    const size_t a = strlen(destination), b = strlen(name);
    char* path = static_cast<char*>(malloc(a + b + 2));
    if (path) {
        memcpy(path, destination, a);
        path[a] = '\\';
        memcpy(path + a + 1, name, b + 1);
    }
    return path;
}

// Tells the user that the setup program exists but did not start, with the system's reason.
static void ShowLaunchFailure(const wchar_t* program, DWORD error) {
    wchar_t reason[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   reason, sizeof(reason) / sizeof(reason[0]), nullptr);
    const wchar_t* name = wcsrchr(program, L'\\');
    name = name ? name + 1 : program;
    static const wchar_t kBefore[] = L"Le programme d'installation « ";
    static const wchar_t kAfter[] = L" » n'a pas pu être démarré :\n\n";
    wchar_t text[sizeof(kBefore) / sizeof(wchar_t) + MAX_PATH + sizeof(kAfter) / sizeof(wchar_t) +
                 sizeof(reason) / sizeof(wchar_t)];
    wcscpy(text, kBefore);
    wcsncat(text, name, MAX_PATH);
    wcscat(text, kAfter);
    wcscat(text, reason[0] ? reason : L"erreur inconnue");
    MessageBoxW(g_hwndMain, text, L"Installation", MB_OK | MB_ICONWARNING);
}

// Starts Setup.exe, else StdSetup.exe, from the destination, through the shell so that a
// program that needs elevation gets its consent prompt, owned by the dialog so that the prompt
// comes to the front. A package without either is extract-only: nothing is said.
static void LaunchSetup(const char* destination) {
    const OwnedBlock<char> setup(JoinPath(destination, "Setup.exe"));
    const OwnedBlock<char> stdSetup(JoinPath(destination, "StdSetup.exe"));
    const char* program = setup && FileExists(setup.get())         ? setup.get()
                          : stdSetup && FileExists(stdSetup.get()) ? stdSetup.get()
                                                                   : nullptr;
    // The shell takes plain paths only, so a program in a folder past MAX_PATH cannot start.
    const OwnedBlock<wchar_t> wideProgram(program ? Utf8ToWide(program) : nullptr);
    const OwnedBlock<wchar_t> wideFolder(program ? Utf8ToWide(destination) : nullptr);
    if (wideProgram && wideFolder) {
        // Shell extensions may run in the call: it wants an apartment, and no OLE1 DDE.
        const HRESULT com =
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        // This thread ends right after: the call must finish its work before it returns.
        info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.hwnd = g_hwndMain;
        info.lpVerb = L"open";
        info.lpFile = wideProgram.get();
        info.lpParameters = L"";
        info.lpDirectory = wideFolder.get();
        info.nShow = SW_SHOW;
        if (!ShellExecuteExW(&info)) {
            const DWORD error = GetLastError();
            if (error != ERROR_CANCELLED) // the user declined the consent prompt
                ShowLaunchFailure(wideProgram.get(), error);
        }
        if (SUCCEEDED(com))
            CoUninitialize();
    }
}

// The one box that tells a failure (UTF-8 text: it may name files outside the ANSI code page).
static void ShowError(const char* text) {
    SendMessageW(g_hwndMain, WM_TASKBAR_STATE, TBPF_ERROR, 0);
    const OwnedBlock<wchar_t> wide(Utf8ToWide(text));
    if (wide)
        MessageBoxW(g_hwndMain, wide.get(), L"Erreur", MB_OK | MB_ICONERROR);
    else
        MessageBoxA(g_hwndMain, text, "Erreur", MB_OK | MB_ICONERROR);
}

// The box that says a file is held by another program (text, UTF-8): true for Réessayer,
// false for Annuler.
static bool AskRetry(HWND owner, const char* text) {
    const OwnedBlock<wchar_t> wide(Utf8ToWide(text));
    return MessageBoxW(owner, wide ? wide.get() : L"Fichier utilisé par un autre programme",
                       L"Fichier utilisé", MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

// The same box when the driver finds a file held during the run.
static bool AskRetryInUse(HWND owner, const char* file) {
    const OwnedBlock<char> text(InUseText(file));
    return AskRetry(owner, text.get());
}

// The notice of a confirmed cancel, if there was one.
static void ShowCancelNotice() {
    if (g_cancelRequested.load())
        MessageBoxW(g_hwndMain,
                    L"L'extraction a été annulée cependant les fichiers ne seront pas supprimés",
                    L"Annulation", MB_OK | MB_ICONWARNING);
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
        if (!AskRetry(g_hwndMain, FailureText(&extractor)))
            return;
        refused = CheckBeforeExtracting(&extractor, destination.get(), &payloadBytes);
    }
    if (refused != 0) {
        // A cancel that stopped the checks is no failure: only the notice follows.
        if (refused != FDIERROR_USER_ABORT || !g_cancelRequested.load())
            ShowError(FailureText(&extractor));
        ShowCancelNotice();
        return;
    }
    extractor.askRetryInUse = AskRetryInUse;
    g_payloadKiB = static_cast<uint32_t>(payloadBytes >> 10);
    LoadCabinetLibrary(&extractor);
    const OwnedBlock<wchar_t> wide(WidePath(shown));
    if (wide)
        CreateDirectoryW(wide.get(), nullptr);
    if (!ExtractAll(&extractor, destination.get())) {
        ShowError(FailureText(&extractor));
    } else {
        PostMessageW(g_hwndMain, WM_EXTRACT_WRITTEN, 0, 0);
        if (!g_cancelRequested.load())
            LaunchSetup(shown);
    }
    ShowCancelNotice();
}

HANDLE g_jobEnded = nullptr;

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
