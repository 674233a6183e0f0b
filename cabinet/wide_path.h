// Text at the Win32 edge: names and paths are UTF-8 inside the program and become UTF-16 only
// at the call that takes them. Every result is a heap block the caller frees with free().
#pragma once

#include <windows.h>

// UTF-8 to UTF-16. Null when the text is not valid UTF-8 or no memory is left.
wchar_t* Utf8ToWide(const char* utf8);

// UTF-16 to UTF-8. Null when no memory is left (lone surrogates become U+FFFD).
char* WideToUtf8(const wchar_t* wide);

// A UTF-8 path for the file APIs, as UTF-16. Paths too long for the plain form are made
// absolute and given the \\?\ prefix (\\?\UNC\ for a network path), which lifts the
// MAX_PATH limit but also Windows' own clean-up of names: the caller trims components first.
wchar_t* WidePath(const char* utf8Path);

// True when path (UTF-8; empty: the working folder) names an existing folder.
bool FolderExists(const char* path);

// The same for a UTF-16 path: plain (a heap block, taken over) as it is, or in the \\?\ form
// when it is too long for the plain form; null when no memory is left.
wchar_t* LongFormPath(wchar_t* plain);

enum DecodeResult { kDecoded, kBadEncoding, kDecodeNoMemory };

// An archived name as UTF-8: flagged names (utf8) must be valid UTF-8, the others are in
// codePage (the ANSI code page in use) and must be valid there. Nothing is ever replaced or
// best-fitted: a name that does not decode exactly is kBadEncoding. *out is set on kDecoded.
DecodeResult DecodeArchivedName(const char* bytes, bool utf8, UINT codePage, char** out);

// The same name for display only: invalid sequences become U+FFFD. Null when no memory.
char* DisplayArchivedName(const char* bytes, bool utf8, UINT codePage);
