// The messages the extraction side posts to the window it is given; the program's own
// messages and controls are numbered in resources/resource.h, clear of these.
#pragma once

#include <windows.h>

// wParam: a heap ProgressInfo that the receiver releases with FreeProgressInfo.
#define WM_EXTRACT_PROGRESS (WM_USER + 10)
// wParam 0: the checks before the first write take a moment (a large payload's digest).
#define WM_EXTRACT_CHECKING (WM_USER + 11)
