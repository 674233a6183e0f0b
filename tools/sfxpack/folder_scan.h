// The files of a package folder, as they will be archived.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A cabinet holds at most 65535 files (a 16-bit count).
constexpr size_t kMaxCabFiles = 65535;

struct SourceFile {
    std::string path; // on disk
    std::string name; // archived: relative to the folder, '\'-separated
    uint64_t size = 0;
    int64_t mtime = 0;
    bool readOnly = false; // the owner has no write permission
};

// Collects the regular files under dir, following symbolic links, sorted bytewise by
// archived name. Appends one line per refused entry: unreadable, neither file nor folder,
// a '\' inside a name, a name the stub would refuse, too many files. False when any.
bool ScanFolder(const std::string& dir, std::vector<SourceFile>* files,
                std::vector<std::string>* problems);
