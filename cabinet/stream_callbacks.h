// The seven callbacks the cabinet library is created with, listed together with the context
// creation that hands them over, and the embedded stream's state that the file callbacks share.
#pragma once

#include <windows.h>
#include <fdi.h>
#include <atomic>
#include <cstdint>

#include "handle_table.h"
#include "lane.h"
#include "names.h"

// The name under which the embedded cabinet is asked for and recognised.
constexpr const char kEmbeddedCabName[] = "exe";

constexpr int kKeyCapacity = 5000;

// The file callbacks get a handle and nothing else, so what every thread reads alike is kept
// once per process: the unmasking key and the embedded cabinet's name. The embedded handles
// with their stream offsets are per thread (lane.h: an entry in the lane's map is what marks a
// handle as embedded).
struct CabStreamState {
    unsigned char key[kKeyCapacity];
    int32_t keyLength;
    char cabName[kMaxNameBytes + 1]; // the name under which the embedded cabinet is opened
};

// The single instance; zero-initialised, so it exists from the first use on.
CabStreamState& StreamState();

void* DIAMONDAPI CabAlloc(ULONG cb);
void DIAMONDAPI CabFree(void* pv);
// The embedded cabinet for the recognised name (case-insensitive), recorded in the table at
// offset 0; else a file on the disk: without _O_CREAT a cabinet of the set (OpenCabinetPart:
// beside the program first), with it an _open where an existing file that refuses to be
// replaced has its attributes cleared and the open is tried once more. -1 when the open fails
// or the table is full (the record is released again).
INT_PTR DIAMONDAPI CabOpen(char* name, int oflag, int pmode);
// Reads, unmasks when a key is present, and follows the handle's offset; _read on the disk.
// Bytes below the lane's tablesLength come from its tables instead, as they are.
UINT DIAMONDAPI CabRead(INT_PTR hf, void* pv, UINT cb);
// _write, counted in the lane's bytes and g_writtenKiB; fails at once once the lane's stop is
// set, and waits while a box is up.
UINT DIAMONDAPI CabWrite(INT_PTR hf, void* pv, UINT cb);
// 0 for an embedded handle, dropped from the table (the stream closes with the last one);
// _close's result otherwise.
int DIAMONDAPI CabClose(INT_PTR hf);
// The new position, or -1 (the handle's offset then becomes unknown).
LONG DIAMONDAPI CabSeek(INT_PTR hf, LONG dist, int seektype);

// A new context over these callbacks, from the bound FDICreate; null with the cause in erf.
HFDI CreateCabContext(decltype(&::FDICreate) create, PERF erf);

// The position CabSeek would move to, without following it in the table: the embedded
// record's rule, or _lseek's result for a disk file.
LONG SeekCabFile(INT_PTR hf, LONG distance, int origin);
