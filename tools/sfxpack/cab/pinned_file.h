// libgcab opens each packed file by name, twice. To be sure it reads the very file that
// was checked, and never blocks on a FIFO put in its place, every file is opened here first
// (without blocking), checked against the scan, and libgcab is given /proc/self/fd/N, where
// N is one descriptor number that points at the file of the moment.
#pragma once

#include <string>

#include "payload/folder_scan.h"
#include "util/problems.h"

struct Pinned {
    int fd = -1;      // N: /dev/null while no file is pinned
    std::string path; // /proc/self/fd/N
};

// Opens the pinned descriptor on /dev/null. False with a line in *problems.
bool OpenPinned(Pinned* pinned, Problems* problems);

// Closes the pinned descriptor.
void ClosePinned(Pinned* pinned);

// Opens f without blocking and checks that it is still the regular file the scan found:
// same identity, size and modification time. The descriptor in *fd; false with a line in
// *problems.
bool OpenUnchanged(const SourceFile& f, int* fd, Problems* problems);

// True when the file open at fd still has f's size and modification time, after it was read.
bool StillUnchanged(const SourceFile& f, int fd);

// Points the pinned descriptor at fd (-1: at /dev/null again) and closes fd. False, with a
// line in *problems, when the pinned path cannot serve it.
bool Pin(const Pinned& pinned, int fd, Problems* problems);
