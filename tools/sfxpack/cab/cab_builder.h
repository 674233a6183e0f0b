// Writes a package folder's files as cabinets (MSZIP or none through libgcab, LZX through
// sfxpack's own encoder): one cabinet, in as many folders as their sizes need, or a set of
// cabinets when one would pass the part size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "cab_format.h"
#include "cab/archived_entry.h"
#include "cab/cab_set.h"
#include "compress/compression.h"
#include "util/file_io.h"
#include "payload/folder_scan.h"

struct Progress;

// Appends a reason for each file larger than one cabinet folder holds (kMaxFolderBytes), so
// refused before anything is written. False when any.
bool CheckCabinetCapacity(const std::vector<SourceFile>& files, Problems* problems);

// Where the cabinets of a set go, and how large each may be.
struct SetRequest {
    uint64_t partBytes = kMaxCabinetBytes;
    std::string installerName; // the installer's file name, which names the later cabinets
    std::string firstPath;     // the empty file that gets the first cabinet
    std::string folder;        // where the later cabinets go ("" or ending in '/')
    Compression compression;   // of every folder
};

// The later cabinets of a set once written, each closed and still a temporary file.
struct WrittenSet {
    std::vector<TempFile> later; // cabinets 2, 3, ... in order
    uint16_t setId = 0;          // 0 when there is one cabinet
};

// Writes files, in their order, as cabinets of request.compression: folders as AssignFolders makes them, each
// compressed on its own, placed whole in cabinets of at most request.partBytes as PlaceFolders
// does. The first cabinet goes to request.firstPath; a payload that fits stays that one
// cabinet. Advances progress (may be null) by each file's size. False with a line in *problems; the
// later cabinets are then removed.
bool WriteCabinetSet(const std::vector<SourceFile>& files, const TimePolicy& policy,
                     const SetRequest& request, Progress* progress, WrittenSet* out,
                     Problems* problems);

// Removes the later cabinets of a set not committed.
void DiscardSet(WrittenSet* set);
