#include <windows.h>
#include <io.h>
#include <process.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "app.h"
#include "binding.h"
#include "driver.h"
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

static void LaunchSetup(const char* destination) {
    char* setup = JoinPath(destination, "Setup.exe");
    char* stdSetup = JoinPath(destination, "StdSetup.exe");
    const char* program = setup && FileExists(setup)         ? setup
                          : stdSetup && FileExists(stdSetup) ? stdSetup
                                                             : nullptr;
    // The shell takes plain paths only, so a program in a folder past MAX_PATH cannot start.
    wchar_t* wideProgram = program ? Utf8ToWide(program) : nullptr;
    wchar_t* wideFolder = program ? Utf8ToWide(destination) : nullptr;
    if (wideProgram && wideFolder)
        ShellExecuteW(nullptr, L"open", wideProgram, L"", wideFolder, SW_SHOW);
    free(wideFolder);
    free(wideProgram);
    free(stdSetup);
    free(setup);
}

static void ShowError(const char* text) {
    MessageBoxA(g_hwndMain, text, "Erreur", MB_OK | MB_ICONERROR);
}

// The same box for a text that may name files outside the ANSI code page (UTF-8).
static void ShowErrorUtf8(const char* text) {
    wchar_t* wide = Utf8ToWide(text);
    if (wide)
        MessageBoxW(g_hwndMain, wide, L"Erreur", MB_OK | MB_ICONERROR);
    else
        ShowError(text);
    free(wide);
}

// Everything between binding the library and releasing it; the extractor's destruction at
// the end of this scope is the release, on every way out.
static void RunExtraction(const char* destination) {
    // What can be known before the first write is checked before it: a refused run writes
    // nothing, not even the destination folder.
    char* problem = nullptr;
    if (CheckBeforeExtracting(destination, g_hwndMain, &problem) != 0) {
        ShowErrorUtf8(problem ? problem : "Memory allocation failed");
        free(problem);
        return;
    }
    CabExtractor extractor(g_hwndMain);
    LoadCabinetLibrary(&extractor);
    wchar_t* wide = WidePath(destination);
    if (wide)
        CreateDirectoryW(wide, nullptr);
    free(wide);
    if (!ExtractAll(&extractor, destination)) {
        const char* message = "Unknown error";
        GetCabErrorMessage(&extractor, &message);
        ShowError(message);
    } else if (!g_cancelRequested.load()) {
        LaunchSetup(destination);
    }
    if (g_cancelRequested.load())
        MessageBoxW(g_hwndMain,
                    L"L'extraction a été annulée cependant les fichiers ne seront pas supprimés",
                    L"Annulation", MB_OK | MB_ICONWARNING);
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
        ShowError("Memory allocation failed");
    free(destination);
    SetEvent(g_jobEnded);
    // The program can only end through this message: insist until the queue takes it.
    while (!PostMessageW(g_hwndMain, WM_EXTRACT_DONE, 0, 0))
        Sleep(50);
    _endthread();
}
