// What the cabinet library takes from the program that runs it.
#pragma once

#include <windows.h>
#include <atomic>

// wParam: a heap ProgressInfo that the receiver releases with FreeProgressInfo.
constexpr UINT WM_EXTRACT_PROGRESS = WM_USER + 10;

// The name under which the embedded cabinet is asked for and recognised.
constexpr const char kEmbeddedCabName[] = "exe";

// Written by the main thread before the worker exists, read-only afterwards.
extern HINSTANCE g_hInstance;

// One-way flag (0 to 1), written only by the main thread.
extern std::atomic<int> g_cancelRequested;
