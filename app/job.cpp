#include <windows.h>
#include <io.h>
#include <process.h>
#include <shellapi.h>

#include <cstdio>
#include <new>

#include "app.h"
#include "embedded_file.h"
#include "extractor.h"
#include "shared.h"

bool FileExists(const char* path) {
    _finddata64i32_t entry;
    const intptr_t search = _findfirst64i32(path, &entry);
    if (search == -1)
        return false;
    _findclose(search);
    return true;
}

static void LaunchSetup(const char* destination) {
    // The destination holds at most 259 bytes; the names fit beside it.
    char setup[MAX_PATH + 16];
    char stdSetup[MAX_PATH + 16];
    snprintf(setup, sizeof(setup), "%s\\Setup.exe", destination);
    snprintf(stdSetup, sizeof(stdSetup), "%s\\StdSetup.exe", destination);
    const char* program = FileExists(setup) ? setup : FileExists(stdSetup) ? stdSetup : nullptr;
    if (program)
        ShellExecuteA(nullptr, "open", program, "", destination, SW_SHOW);
}

static void ShowError(const char* text) {
    MessageBoxA(g_hwndMain, text, "Erreur", MB_OK | MB_ICONERROR);
}

// Everything between binding the library and releasing it; the extractor's destruction at
// the end of this scope is the release, on every way out.
static void RunExtraction(const char* destination) {
    CabExtractor extractor(g_hwndMain);
    try {
        LoadCabinetLibrary(&extractor);
        CreateDirectoryA(destination, nullptr);
        if (!ExtractAll(&extractor, destination)) {
            const char* message = "Unknown error";
            GetCabErrorMessage(&extractor, &message);
            ShowError(message);
        } else if (!g_cancelRequested.load()) {
            LaunchSetup(destination);
        }
    } catch (const char* text) {
        ShowError(text);
    } catch (const std::bad_alloc&) {
        ShowError("Memory allocation failed");
    }
    if (g_cancelRequested.load())
        MessageBoxW(g_hwndMain,
                    L"L'extraction a été annulée cependant les fichiers ne seront pas supprimés",
                    L"Annulation", MB_OK | MB_ICONWARNING);
}

void __cdecl ExtractionThread(void*) {
    char destination[MAX_PATH] = {};
    GetDlgItemTextA(g_hwndMain, IDC_DEST_PATH, destination, sizeof(destination));
    g_selfFileRefs = 0;
    g_selfFile = nullptr;
    RunExtraction(destination);
    // The program can only end through this message: insist until the queue takes it.
    while (!PostMessageW(g_hwndMain, WM_EXTRACT_DONE, 0, 0))
        Sleep(50);
    _endthread();
}
