// The room on the destination's volume, and the words for what is missing.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

// The volume under a destination: its free space for this user, its cluster size and its
// root as the message names it.
struct Volume {
    bool known = false;
    uint64_t available = 0;
    uint32_t clusterBytes = 1;
    wchar_t root[MAX_PATH + 1] = {};
};

// Asks about the nearest folder of destination (UTF-8, ending in '\' or empty) that exists:
// the destination itself is usually still to be made. volume->known stays false when nothing
// can be learnt.
void QueryVolume(const char* destination, Volume* volume);

// A number of bytes as the message shows it: "1,2 Mo", megabytes (2^20) with one decimal
// after a comma, rounded up, so that freeing what it says is always enough. out holds at least
// 32 bytes.
void FormatMegabytes(uint64_t bytes, char* out, size_t outSize);

// 0 when needed bytes fit on the volume (or nothing is known of it); else CAB_ERROR_NO_ROOM
// with *text (heap, UTF-8) saying how much to free, and where.
int CheckRoom(const Volume& volume, uint64_t needed, char** text);
