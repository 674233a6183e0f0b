// The folder the dialog proposes before the user chooses. Pure logic: the folders it decides
// from are asked of the system by the caller.
#pragma once

#include <cstddef>

// True when path is folder or inside it: compared without regard to case (ASCII and the
// Latin-1 letters), on whole components, so that C:\WindowsApps is not inside C:\Windows.
bool IsInsideFolder(const wchar_t* path, const wchar_t* folder);

// Writes into out (outCount characters) the proposed destination: working + "\Extract", the
// design's choice, unless the working folder is the Windows folder (windows) or inside it, as
// when the program is started from the Run box or an elevated shortcut, or is too long for
// "\Extract" within limit characters. Then programFolder + "\Extract", unless that is inside
// the Windows folder too or too long; then profile + "\Extract". Folders are given without a
// trailing backslash but roots ("C:\"), as the system gives them; an empty or null one is
// never chosen. False when none fits out.
bool ProposeDestination(const wchar_t* working, const wchar_t* windows,
                        const wchar_t* programFolder, const wchar_t* profile, size_t limit,
                        wchar_t* out, size_t outCount);
