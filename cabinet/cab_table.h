// A reader of a cabinet's header and file table, for the checks made before anything is
// written: the declared size, the continuation, and each file's name, attributes and size.
// Pure logic: no platform calls; reads only inside the bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cab_format.h"
#include "names.h"

struct CabTableHeader {
    uint32_t cabinetSize; // cbCabinet: the bytes the cabinet says it has
    uint16_t flags;
    uint16_t fileCount;
    uint16_t setId;
    uint16_t cabinetIndex;
    // The next cabinet of the set (szCabinetNext, inside the bytes given), or null: none, or
    // the header was not read that far.
    const char* nextName;
    bool namesRead; // the header was read as far as the set's names
};

struct CabTableFile {
    const char* name; // as stored, terminated; in the ANSI code page unless flagged UTF-8
    uint32_t size;
    uint16_t folder; // kFolderContinuedFromPrev and above: the file spans cabinets
    uint16_t attribs;
};

enum CabTableResult {
    kTableRead,       // every file was handed to the callback
    kTableNeedMore,   // the table runs past the bytes given: *needed bytes hold it, or more
    kTableNotCabinet, // no cabinet signature
    kTableDamaged,    // a field points outside the cabinet or a name is not terminated
    kTableStopped,    // the callback asked to stop
};

// The callback for each file, in table order; false stops the walk.
using CabTableVisit = bool (*)(void* context, const CabTableFile& file);

// Reads the cabinet that starts at data[0] and of which size bytes are given. The names of
// the previous and next cabinets and the file table are checked whole before the first call
// of visit, so a damaged or short table calls it never. *header is filled whenever the fixed
// header could be read.
CabTableResult ReadCabTable(const unsigned char* data, size_t size, CabTableHeader* header,
                            size_t* needed, CabTableVisit visit, void* context);
