// Sharing a cabinet's folders among lanes that extract at the same time. Each lane reads the
// cabinet through its own header and tables, which list only its folders and their files: a
// library context then neither offers nor decodes the other lanes' folders, whatever it does
// with files it is told to skip. Pure logic: no platform calls but malloc; reads only inside
// the bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kMaxLanes = 4;

struct LaneTables {
    unsigned char* bytes = nullptr; // header and tables (malloc); the cabinet's own bytes
    uint32_t length = 0;            // follow from length on, up to its first data block
    uint64_t work = 0;              // uncompressed bytes of the lane's folders
};

enum SplitResult {
    kSplitDone,
    kSplitNeedMore,  // the tables run past the bytes given: *needed bytes hold them
    kSplitOneLane,   // nothing to share: one folder or one lane, part of a set, a file that
                     // spans cabinets, one name in two folders, or tables the library should
                     // judge on its own
    kSplitNoMemory,
};

// Reads the header and tables of the cabinet at data[0, size) and shares its folders among at
// most lanes lanes (at most one lane per folder, at most kMaxLanes): the largest folder first,
// each to the lane with the least work. kSplitDone with out[0, *used) filled (at least two);
// nothing is allocated on any other result.
SplitResult SplitFolders(const unsigned char* data, size_t size, int lanes, LaneTables* out,
                         int* used, size_t* needed);
// Frees the bytes of count lanes' tables; safe to repeat.
void FreeLaneTables(LaneTables* tables, int count);
