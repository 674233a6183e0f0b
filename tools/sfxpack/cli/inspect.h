// --list and --check: an installer read back, its layout, resources, payload and the later
// cabinets of its set, through one pipeline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/file_io.h"
#include "util/problems.h"

// Prints the files of an installer's payload, one per line, those of its later cabinets too.
// Returns the process exit status.
int List(const std::string& installer);

// Checks an installer's layout and payload against what the stub relies on. Returns the
// process exit status.
int Check(const std::string& installer);

// What --check found in an installer.
struct CheckReport {
    Problems problems; // each error makes the check fail
    size_t files = 0;
    uint32_t cabinetSize = 0;
    uint64_t cabinetOffset = 0;
    std::vector<std::string> later; // one line per later cabinet of the set
    bool isSigned = false;
    const char* arch = "";             // "x86" or "x64": the stub's architecture
    std::vector<std::string> branding; // icon sizes and version strings found
    std::vector<std::string> manifest; // the manifest's execution level, systems, ...
    std::vector<std::string> record;   // the payload record's digest and choices
};

// The listing of the installer in file: the branding, manifest and payload record lines, a
// heading, one row per file with its name escaped to one line, and a total; for a set, a
// heading before the files of each cabinet. The later cabinets are looked for beside path
// (none when ""). False, with problems appended, when no cabinet could be read.
bool ListInstaller(const Source& file, std::string* listing, Problems* problems,
                   const std::string& path = "");

// Checks the installer in file, and the later cabinets of its set beside path (none when ""),
// into *report; true when it found no problem.
bool CheckInstaller(const Source& file, CheckReport* report, const std::string& path = "");
