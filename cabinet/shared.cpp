#include "shared.h"

HINSTANCE g_hInstance = nullptr;
HWND g_hwndMain = nullptr;
std::atomic<int> g_cancelRequested{0};
int g_extractionStarted = 0;
