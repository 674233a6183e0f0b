// Saves what a window shows on screen as a 24-bit BMP (the demo's picture, the tests' screenshot).
#pragma once

#include <windows.h>

bool SaveWindowBitmap(HWND hwnd, const char* path);
