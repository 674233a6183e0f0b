// Archived names and output paths: the rules the stub applies, which sfxpack checks too.
// Pure logic: no platform calls.
#pragma once

#include <cstddef>

constexpr size_t kNameBufferSize = 260; // MAX_PATH, terminator included

// True when an archived name stays under the destination: not empty, no leading separator
// (root or UNC), no ':' (drive, stream), and no component made only of dots and spaces other
// than "." (so no ".." in any disguise). Both '\' and '/' separate components.
bool IsSafeArchivedName(const char* name);

// The part of an archived name after its last separator ('\' or '/'); the whole name if none.
const char* ArchivedBaseName(const char* name);

// Where one archived file goes.
struct OutputPath {
    char archiveDir[kNameBufferSize]; // up to and including the last separator; "" if none
    char outputDir[kNameBufferSize];  // destination + archiveDir
    char path[kNameBufferSize];       // outputDir + file name
    const char* fileName;             // the name after the last separator, inside path
    size_t outputDirLength;
};

// Composes the folder and full path of an archived name under dest (empty, or ending in a
// separator). '/' in the name is written as '\'. False, leaving *out unspecified, when the
// name is unsafe or the path does not fit in kNameBufferSize bytes.
bool ComposeOutputPath(const char* dest, const char* name, OutputPath* out);

// Copies dest into buf with one trailing '\' added when it ends otherwise; an empty dest
// stays empty (relative to the current folder). False when the result would not fit.
bool NormaliseDestination(const char* dest, char* buf, size_t size);
