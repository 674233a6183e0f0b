// The cabinet appended to the program's own executable, served as a read-only file named
// by StreamState().cabName; every other name goes to the disk through the runtime's _open.
#pragma once

#include <windows.h>
#include <fdi.h>
#include <cstdint>
#include <cstdio>

// One open handle on the embedded cabinet; its address is the handle value.
struct EmbeddedCabFile {
    int32_t reserved;
    int32_t position; // offset of the next byte to read, from the cabinet's first byte
    int32_t length;   // file size at open time minus the overlay offset
};

// The shared stream on the program's own file, and the embedded handles still open on it.
extern FILE* g_selfFile;
extern int32_t g_selfFileRefs;

// The file offset where the appended cabinet begins: the largest end of section raw data
// of the loaded image at g_hInstance (the main module when g_hInstance is null).
uint32_t GetOverlayOffset();

// A new record on the shared stream, opening the stream first when needed.
// Null when the program's file cannot be opened or the record cannot be allocated; no
// reference is then counted.
EmbeddedCabFile* OpenEmbeddedCab();

// The embedded cabinet for the recognised name (case-insensitive), else _open on the disk;
// with _O_CREAT, an existing file that refuses to be replaced has its attributes cleared and
// the open is tried once more.
// Returns a record address, a file descriptor, or -1.
INT_PTR OpenCabFile(const char* name, int oflag, int pmode);

// Open callback: as OpenCabFile, and records an embedded handle in the table at offset 0.
// -1 when the table is full (the record is released again).
INT_PTR DIAMONDAPI CabOpen(char* name, int oflag, int pmode);

// Bytes read (0 at the end of the cabinet), or _read's result for a disk file.
int ReadCabFile(INT_PTR hf, void* buf, UINT count);
// The new position, or -1 with errno = EBADF for a target outside 0..length-1 or an
// unknown origin (position unchanged); _lseek's result for a disk file.
LONG SeekCabFile(INT_PTR hf, LONG distance, int origin);
// 0 for an embedded handle (the stream closes with the last one); _close's result otherwise.
int CloseCabFile(INT_PTR hf);
