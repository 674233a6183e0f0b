// Whether a file the run would replace is held by another program: a setup program still
// running from the last run, a loaded library, a scanner reading a fresh file.
#pragma once

#include <windows.h>

// True when error (GetLastError's) says another program holds the file: a sharing or a lock
// violation. Access denied is not one: a read-only file gives it, and the driver clears that.
bool IsInUseError(DWORD error);

// True when the file at path (UTF-8) exists and cannot be opened for writing without sharing
// because another program holds it (IsInUseError). Opens nothing else and changes nothing.
bool IsFileInUse(const char* path);
