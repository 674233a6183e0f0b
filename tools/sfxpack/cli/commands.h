// The three things sfxpack does. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

#include "branding/branding.h"
#include "cab/cab_builder.h"
#include "util/file_io.h"
#include "branding/manifest.h"

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1; // a problem with the inputs, each reported on stderr
constexpr int kExitUsage = 2;

struct PackRequest {
    std::string input;  // a folder or a cabinet
    std::string output; // the installer to write
    std::string stub;
    TimePolicy times;
    Branding branding;                     // --icon and --version-info
    uint16_t recordFlags = 0;              // the payload record's choices: kRecordProgressBar
    ManifestOptions manifest;              // --execution-level, --supported-os, --dpi-aware, ...
    uint64_t partBytes = kMaxCabinetBytes; // --part-size: the largest cabinet of a set
};

// Appends the cabinet of a folder (built here) or an existing cabinet to the stub, whose
// resources get the branding and the payload record, writing the installer through a
// temporary file that is renamed only when everything succeeded. A folder that needs several
// cabinets gets a set: the later cabinets are written beside the installer, in the same way.
int Pack(const PackRequest& request);

// Prints the files of an installer's payload, one per line, those of its later cabinets too.
int List(const std::string& installer);

// Checks an installer's layout and payload against what the stub relies on.
int Check(const std::string& installer);

// What --check found in an installer.
struct CheckReport {
    std::vector<std::string> problems; // each makes the check fail
    std::vector<std::string> warnings;
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

// The listing of the installer in file: the branding, manifest and payload record lines, a heading,
// one row per file with its name escaped to one line, and a total; for a set, a heading before
// the files of each cabinet. The later cabinets are looked for beside path (none when "").
// False, with problems appended, when no cabinet could be read.
bool ListInstaller(const Source& file, std::string* listing, std::vector<std::string>* problems,
                   const std::string& path = "");

// Checks the installer in file, and the later cabinets of its set beside path (none when ""),
// into *report; true when it found no problem.
bool CheckInstaller(const Source& file, CheckReport* report, const std::string& path = "");
