// Test helper: extracts the cabinet appended to this executable the way the program does
// (worker thread, progress posted to a window of the main thread) and prints each progress
// record and the result, one tab-separated line each.
//
// Usage: cabrun DEST|- [--cancel-at N] [--lib PATH] [--load-twice] [--check] [--fail-close N]
//               [--affinity MASK]
//   -               extract with a null destination (the current folder)
//   --cancel-at N   request cancellation when the N-th progress message arrives (0: before)
//   --lib PATH      bind this library instead of the system's Cabinet.dll
//   --load-twice    call LoadCabinetLibrary a second time and print both results
//   --check         make the checks the program makes before the first write, and extract
//                   only when they pass
//   --fail-close N  the close pool's N-th close fails (from 1)
//   --affinity MASK run on these processors only
//   --hold-at N     hold the lanes as a box would when the N-th progress message arrives,
//                   and print the KiB written 100 ms and 500 ms into the hold
// The last lines say how many lanes the run used and its result.
#include <windows.h>
#include <process.h>
#include <shellapi.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "binding.h"
#include "close_pool.h"
#include "lane.h"
#include "driver.h"
#include "embedded_file.h"
#include "precheck.h"
#include "names.h"
#include "wide_path.h"

constexpr UINT WM_RUN_DONE = WM_APP + 1;

static const char* s_destination;
static bool s_loadTwice, s_check;
static HWND s_window;
static int s_ok, s_code, s_firstLoad, s_secondLoad, s_lanes;
static const char* s_message = "";

static unsigned __stdcall Worker(void*) {
    {
        // As the job does: the destination normalised once, the checks' failure recorded in
        // the run's record like the driver's.
        CabExtractor ex(s_window);
        char* destination = NormaliseDestination(s_destination);
        if (s_check && (s_code = CheckBeforeExtracting(&ex, destination, nullptr))) {
            s_message = _strdup(FailureText(&ex));
        } else {
            s_firstLoad = LoadCabinetLibrary(&ex);
            if (s_loadTwice)
                s_secondLoad = LoadCabinetLibrary(&ex);
            s_ok = ExtractAll(&ex, destination);
            s_lanes = ex.lanesUsed;
            s_code = GetCabErrorMessage(&ex, nullptr);
            s_message = _strdup(FailureText(&ex));
        }
        free(destination);
    }
    PostMessageW(s_window, WM_RUN_DONE, 0, 0);
    return 0;
}

int main(int argc, char** argv) {
    g_hInstance = GetModuleHandleW(nullptr);
    if (argc < 2) {
        fprintf(stderr, "usage: cabrun DEST|- [--cancel-at N] [--lib PATH] [--load-twice]\n");
        return 2;
    }
    // The destination as the program holds it: UTF-8 from the wide command line.
    int wargc = 0;
    wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    s_destination =
        strcmp(argv[1], "-") == 0 || !wargv || wargc < 2 ? nullptr : WideToUtf8(wargv[1]);
    int cancelAt = -1, holdAt = -1;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--cancel-at") == 0 && i + 1 < argc)
            cancelAt = atoi(argv[++i]);
        else if (strcmp(argv[i], "--lib") == 0 && i + 1 < argc)
            g_cabinetLibraryOverride = argv[++i];
        else if (strcmp(argv[i], "--load-twice") == 0)
            s_loadTwice = true;
        else if (strcmp(argv[i], "--check") == 0)
            s_check = true;
        else if (strcmp(argv[i], "--hold-at") == 0 && i + 1 < argc)
            holdAt = atoi(argv[++i]);
        else if (strcmp(argv[i], "--fail-close") == 0 && i + 1 < argc)
            g_failPoolCloseAt = atoi(argv[++i]);
        else if (strcmp(argv[i], "--close-micros") == 0 && i + 1 < argc)
            g_closeMicrosSeam = atoll(argv[++i]);
        else if (strcmp(argv[i], "--affinity") == 0 && i + 1 < argc)
            SetProcessAffinityMask(GetCurrentProcess(), strtoul(argv[++i], nullptr, 0));
    }
    s_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_hInstance,
                               nullptr);
    if (cancelAt == 0)
        g_cancelRequested = 1;

    HANDLE thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Worker, nullptr, 0, nullptr));
    int progress = 0;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_EXTRACT_PROGRESS) {
            ProgressInfo* p = reinterpret_cast<ProgressInfo*>(msg.wParam);
            printf("progress\t%s\t%s\t%s\t%s\t%ld\t%#x\n", p->fileName, p->archiveDir, p->outputDir,
                   p->outputPath, static_cast<long>(p->fileSize), p->attributes);
            FreeProgressInfo(p);
            if (++progress == cancelAt)
                g_cancelRequested = 1;
            if (progress == holdAt) {
                HoldLanes();
                Sleep(100); // a write under way ends
                const uint32_t settled = g_writtenKiB.load();
                Sleep(400);
                const uint32_t later = g_writtenKiB.load();
                ReleaseLanes();
                printf("held\t%u\t%u\n", settled, later);
            }
        } else if (msg.message == WM_RUN_DONE) {
            break;
        } else {
            DispatchMessageW(&msg);
        }
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    if (s_loadTwice)
        printf("load\t%d\t%d\n", s_firstLoad, s_secondLoad);
    printf("lanes\t%d\n", s_lanes);
    printf("result\t%d\t%d\t%s\n", s_ok, s_code, s_message);
    fflush(stdout);
    return 0;
}
