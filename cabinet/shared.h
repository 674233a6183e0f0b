// Declarations shared by the dialog thread and the extraction worker.
#pragma once

#include <windows.h>
#include <atomic>

#include "../resources/resource.h"

// Posted by the job as its very last act; the dialog answers with PostQuitMessage.
constexpr UINT WM_EXTRACT_DONE = WM_USER + 1;
// wParam: a heap ProgressInfo that the receiver releases with FreeProgressInfo.
constexpr UINT WM_EXTRACT_PROGRESS = WM_USER + 10;

// The name under which the embedded cabinet is asked for and recognised.
constexpr const char kEmbeddedCabName[] = "exe";

// Written by the main thread before the worker exists, read-only afterwards.
extern HINSTANCE g_hInstance;
extern HWND g_hwndMain;

// One-way flags (0 to 1), written only by the main thread.
extern std::atomic<int> g_cancelRequested;
extern int g_extractionStarted;
