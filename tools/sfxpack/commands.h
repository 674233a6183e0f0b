// The three things sfxpack does. Each returns the process exit status.
#pragma once

#include <string>

#include "branding.h"
#include "cab_builder.h"

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1; // a problem with the inputs, each reported on stderr
constexpr int kExitUsage = 2;

struct PackRequest {
    std::string input;  // a folder or a cabinet
    std::string output; // the installer to write
    std::string stub;
    TimePolicy times;
    Branding branding; // --icon and --version-info
};

// Appends the cabinet of a folder (built here) or an existing cabinet to the stub, writing
// the installer through a temporary file that is renamed only when everything succeeded.
int Pack(const PackRequest& request);

// Prints the files of an installer's payload, one per line.
int List(const std::string& installer);

// Checks an installer's layout and payload against what the stub relies on.
int Check(const std::string& installer);
