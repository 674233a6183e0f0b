#include "shared.h"

HINSTANCE g_hInstance = nullptr;
std::atomic<int> g_cancelRequested{0};
