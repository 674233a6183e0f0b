// Archived names and output paths: the rules the stub applies, which sfxpack checks too.
// Pure logic: no platform calls.
#pragma once

#include <cstddef>

// True when an archived name stays under the destination: not empty, no leading separator
// (root or UNC), no ':' (drive, stream), and no component made only of dots and spaces other
// than "." (so no ".." in any disguise). Both '\' and '/' separate components.
bool IsSafeArchivedName(const char* name);

// The part of an archived name after its last separator ('\' or '/'); the whole name if none.
const char* ArchivedBaseName(const char* name);

// Where one archived file goes: one heap block, released with FreeOutputPath. Every part is
// UTF-8 with '\' separators; the archived part has its components trimmed as Windows would.
struct OutputPath {
    char* path;             // destination + archived name
    size_t archiveStart;    // where the archived name begins in path (the destination's length)
    size_t outputDirLength; // just past the last separator: path[0, outputDirLength) is the folder
};

enum ComposeResult { kComposed, kUnsafeName, kNoMemory };

// Composes the path of an archived name (UTF-8) under dest (empty, or ending in a separator).
// '/' in the name is written as '\', and trailing dots and spaces of each component are
// dropped, as Windows drops them from a plain path; the \\?\ form would keep them. On
// kUnsafeName and kNoMemory *out holds nothing to free.
ComposeResult ComposeOutputPath(const char* dest, const char* name, OutputPath* out);
void FreeOutputPath(OutputPath* out);

// dest (UTF-8) with one trailing '\' added when it ends otherwise, in a heap block the caller
// frees; an empty or null dest gives "" (relative to the current folder). Null: no memory.
char* NormaliseDestination(const char* dest);
