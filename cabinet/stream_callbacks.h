// The seven callbacks the cabinet library is created with, listed together with the context
// creation that hands them over, and the embedded stream's state that the file callbacks share.
#pragma once

#include <windows.h>
#include <fdi.h>
#include <atomic>
#include <cstdint>

#include "handle_table.h"
#include "names.h"

// The name under which the embedded cabinet is asked for and recognised.
constexpr const char kEmbeddedCabName[] = "exe";

constexpr int kKeyCapacity = 5000;

// The file callbacks get a handle and nothing else, so what they share is kept once per
// process: the embedded handles with their stream offsets, and the unmasking key.
struct CabStreamState {
    CMap map; // an entry is what marks a handle as embedded
    unsigned char key[kKeyCapacity];
    int32_t keyLength;
    char cabName[kMaxNameBytes + 1]; // the name under which the embedded cabinet is opened
};

// The single instance; zero-initialised, so it exists from the first use on.
CabStreamState& StreamState();

// Set by CabWrite when a write fails or falls short; the run then fails with code 8. Global,
// not on the run's record, only because the write callback gets a handle and no context.
extern int g_writeFailed;

// Bytes the run has written to its output files, and the same in KiB for another thread to
// read (a progress bar): written by CabWrite only.
extern uint64_t g_bytesWritten;
extern std::atomic<uint32_t> g_writtenKiB;

// The output file the driver has open, 0 when none: CabClose clears it, so that a library
// that closes the file itself on a failure is not followed by a second close.
extern INT_PTR g_openOutput;

void* DIAMONDAPI CabAlloc(ULONG cb);
void DIAMONDAPI CabFree(void* pv);
// The embedded cabinet for the recognised name (case-insensitive), recorded in the table at
// offset 0; else a file on the disk: without _O_CREAT a cabinet of the set (OpenCabinetPart:
// beside the program first), with it an _open where an existing file that refuses to be
// replaced has its attributes cleared and the open is tried once more. -1 when the open fails
// or the table is full (the record is released again).
INT_PTR DIAMONDAPI CabOpen(char* name, int oflag, int pmode);
// Reads, unmasks when a key is present, and follows the handle's offset; _read on the disk.
UINT DIAMONDAPI CabRead(INT_PTR hf, void* pv, UINT cb);
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
