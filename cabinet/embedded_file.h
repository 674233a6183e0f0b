// The cabinet appended to the program's own executable, read through records on one shared
// stream of the program's file. Knows nothing of the library or its handle table.
#pragma once

#include <windows.h>
#include <cstdint>
#include <cstdio>

// One reader of the embedded cabinet; the library's callbacks use its address as the handle.
struct EmbeddedCabFile {
    int32_t reserved;
    int32_t position; // offset of the next byte to read, from the cabinet's first byte
    int32_t length;   // file size at open time minus the overlay offset, at most INT32_MAX
};

// The loaded image that carries the cabinet, set by the program before the first open; null
// stands for the main module.
extern HINSTANCE g_hInstance;

// The file offset where the appended cabinet begins: the largest end of section raw data
// of the loaded image at g_hInstance (the main module when g_hInstance is null).
uint32_t GetOverlayOffset();

// The program's own path, whatever its length; a heap block, null on failure.
wchar_t* OwnPath();

// Opens the program's own file for reading, whatever the length of its path; null on failure.
FILE* OpenOwnFile();

// A new record on the calling thread's lane's stream (lane.h), opening the stream first when
// needed.
// Null when the program's file cannot be opened or the record cannot be allocated; no
// reference is then counted.
EmbeddedCabFile* OpenEmbeddedCab();

// Frees the record and closes the stream with the last one.
void ReleaseEmbeddedCab(EmbeddedCabFile* file);

// Bytes read from the record's position on (0 at the end of the cabinet).
int ReadEmbeddedCab(EmbeddedCabFile* file, void* buf, UINT count);

// The new position, or -1 with errno = EBADF for a target outside 0..length-1 or an
// unknown origin (position unchanged).
LONG SeekEmbeddedCab(EmbeddedCabFile* file, LONG distance, int origin);
