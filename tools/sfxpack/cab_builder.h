// Writes a package folder's files as one MSZIP cabinet through libgcab, in as many folders
// as their sizes need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab_format.h"
#include "folder_scan.h"

struct Progress;

// One folder of a cabinet holds at most 65535 data blocks (its 16-bit count) of 32 KiB.
constexpr uint64_t kMaxFolderBytes = uint64_t(UINT16_MAX) * kMaxDataBlockSize;

struct DosDateTime {
    uint16_t date = 0;
    uint16_t time = 0;
};

// How file times are archived: as local time, or with a SOURCE_DATE_EPOCH, clamped to it
// and broken down in UTC so that the build machine's time zone does not show.
struct TimePolicy {
    bool hasEpoch = false;
    int64_t epoch = 0;
};

// Parses a SOURCE_DATE_EPOCH value: decimal seconds, no sign, fits in 63 bits.
bool ParseEpoch(const char* text, int64_t* out);

// t broken down (in UTC or local time) into DOS fields, with odd seconds rounded down and
// times outside 1980-01-01 00:00:00 .. 2107-12-31 23:59:58 clamped to those ends.
DosDateTime ToDosDateTime(int64_t t, bool utc);

// The DOS time archived for a file modified at mtime under policy.
DosDateTime ArchivedTime(int64_t mtime, const TimePolicy& policy);

// The DOS attributes archived for f: archive, read-only when the owner cannot write it, and
// the UTF-8 name flag when its name is not plain ASCII.
uint16_t ArchivedAttributes(const SourceFile& f);

// Appends a reason for each file larger than one cabinet folder holds (kMaxFolderBytes).
// False when any.
bool CheckCabinetCapacity(const std::vector<SourceFile>& files, std::vector<std::string>* problems);

// Puts files of the given sizes, in their order, into folders of at most limit bytes each,
// filling each folder before the next starts. *folderOf gets each file's folder index. False,
// with *tooBig set to the index of the first file larger than limit, when a file is.
bool AssignFolders(const std::vector<uint64_t>& sizes, uint64_t limit,
                   std::vector<size_t>* folderOf, size_t* tooBig);

// Writes files, in their order, as an MSZIP cabinet into the empty file at path, in folders of
// at most folderBytes (kMaxFolderBytes, less in tests) of files each. Advances progress (may
// be null) by each file's size. False with *error set, also when the cabinet would reach 2 GiB.
bool WriteCabinet(const std::vector<SourceFile>& files, const TimePolicy& policy,
                  uint64_t folderBytes, const std::string& path, Progress* progress,
                  std::string* error);
