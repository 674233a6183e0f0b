// The files of a package folder, as they will be archived.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"

// A cabinet holds at most 65535 files (a 16-bit count).
constexpr size_t kMaxCabFiles = 65535;
// The walk gives up after this many problems: the input is refused anyway.
constexpr size_t kMaxScanProblems = 100;
// Entries read from folders, files and folders together; past this the file or folder count
// is over kMaxCabFiles, so the walk stops before reading more.
constexpr size_t kMaxWalkEntries = 2 * kMaxCabFiles + kMaxScanProblems;

struct SourceFile {
    std::string path; // on disk
    std::string name; // archived: relative to the folder, '\'-separated
    uint64_t size = 0;
    int64_t mtime = 0;   // seconds
    long mtimeNanos = 0; // and nanoseconds, to notice a change while packing
    uint64_t device = 0; // identity, to notice a file replaced while packing
    uint64_t inode = 0;
    bool readOnly = false; // the owner has no write permission
};

// Collects the regular files under dir, following symbolic links, sorted bytewise by
// archived name. Each real folder is walked once (a second path to it is refused), and the
// walk stops once the files pass kMaxCabFiles, the entries kMaxWalkEntries or the problems
// kMaxScanProblems. Appends one line per refused entry: unreadable, neither file nor
// folder, a '\' inside a name, a name sfxpack refuses, two names one on Windows, too many
// files. False when any.
bool ScanFolder(const std::string& dir, std::vector<SourceFile>* files, Problems* problems);
