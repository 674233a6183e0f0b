// The later cabinets of a set: files named, without a folder, by the cabinet before them.
// A set ships as the installer with its cabinets beside it, so they are looked for there
// first, wherever the installer is started from, then in the working folder.
#pragma once

#include <windows.h>

// True when name has no folder, drive or stream part: a name the library would open in the
// working folder.
bool IsBareCabinetName(const char* name);

// The path beside the program of a bare name in the ANSI code page, as the library hands
// names over; a heap block, null when there is no memory or the name does not convert.
wchar_t* PathBesideProgram(const char* name);

// Opens a cabinet the library names for reading: a bare name beside the program first, then
// as given (the working folder). A runtime descriptor, or -1.
int OpenCabinetPart(const char* name, int oflag);
