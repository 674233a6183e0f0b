// The run without a window (/quiet): the job's messages go to a message-only window, which no
// one sees and which takes no input; nothing waits for a person.
#include <windows.h>
#include <process.h>
#include <stdlib.h>

#include "app.h"
#include "cab_messages.h"
#include "driver.h"
#include "exit_codes.h"
#include "run_log.h"
#include "wide_path.h"

namespace {

LRESULT CALLBACK QuietProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_EXTRACT_PROGRESS: {
        ProgressInfo* info = reinterpret_cast<ProgressInfo*>(wParam);
        LogProgress(info);
        FreeProgressInfo(info);
        return 0;
    }
    case WM_EXTRACT_DONE:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

} // namespace

void RunQuiet(const wchar_t* destination) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = QuietProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrvantaQuietRun";
    if (RegisterClassW(&windowClass))
        g_hwndMain = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                     nullptr, windowClass.hInstance, nullptr);
    char* utf8 = WideToUtf8(destination);
    if (!g_hwndMain || !utf8) {
        free(utf8);
        LogLine("error: the run cannot start");
        g_exitCode = kExitFailure;
        return;
    }
    g_jobEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_extractionStarted = 1;
    if (_beginthread(ExtractionThread, 0, utf8) == static_cast<uintptr_t>(-1L)) {
        free(utf8);
        LogLine("error: the run cannot start");
        g_exitCode = kExitFailure;
        return;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    DestroyWindow(g_hwndMain);
    if (g_jobEnded)
        CloseHandle(g_jobEnded);
}
