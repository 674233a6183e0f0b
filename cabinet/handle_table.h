// The process-wide state of the embedded stream, and the library's read, seek and close
// callbacks built on the embedded-file operations.
#pragma once

#include <windows.h>
#include <fdi.h>

#include "cmap.h"

constexpr int kKeyCapacity = 5000;
constexpr int kPathSize = MAX_PATH; // every ANSI path on the extraction side

struct CabStreamState {
    CMap map;
    unsigned char key[kKeyCapacity];
    int32_t keyLength;
    char cabName[kPathSize]; // the name under which the embedded cabinet is opened
};

// The single instance; zero-initialised, so it exists from the first use on.
CabStreamState& StreamState();

// Read callback: reads, unmasks when a key is present, and follows the handle's offset.
UINT DIAMONDAPI CabRead(INT_PTR hf, void* pv, UINT cb);
// Seek callback: the new position, or -1 (the handle's offset then becomes unknown).
LONG DIAMONDAPI CabSeek(INT_PTR hf, LONG dist, int seektype);
// Close callback: closes first (the entry is what marks a handle as embedded), then drops it.
int DIAMONDAPI CabClose(INT_PTR hf);
