// Archived names and output paths: the rules the stub applies, which sfxpack checks too.
// Pure logic: no platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

// A cabinet stores a name of at most 255 bytes and its terminator.
constexpr size_t kMaxNameBytes = 255;

// The attribute bit of a name stored as UTF-8; the others are in the ANSI code page.
constexpr uint16_t kAttrNameIsUtf8 = 0x80;

// Why an archived name is refused; kNameOk when it is not. Both '\' and '/' separate
// components.
enum NameFault {
    kNameOk,
    kNameEmpty,          // null or ""
    kNameAbsolute,       // a leading separator: root or UNC
    kNameColon,          // ':' names a drive or a stream
    kNameControl,        // a byte 0x01-0x1F
    kNameReservedChar,   // one of < > " | ? *
    kNameEmptyComponent, // a doubled or trailing separator
    kNameBlankComponent, // ".", " " or ". ": empty once Windows trims it
    kNameClimbs,         // "..", "...", ". .": the parent in a disguise
    kNameDevice,         // CON, PRN, AUX, NUL, COM1-9, LPT1-9 (also with an extension)
    kNameTrailing,       // a component ends in '.' or ' ', which Windows drops
};

// The first fault of name, reading left to right; *at (may be null) gets the byte offset of
// the offending character or component. Trailing dots and spaces are faults only when exact
// is set: the stub trims them itself, sfxpack wants names Windows stores as given.
NameFault ArchivedNameFault(const char* name, bool exact, size_t* at);

// True when the stub may write the archived name under its destination: no fault but
// trailing dots or spaces, which it trims from each component before creating anything.
bool IsSafeArchivedName(const char* name);

// True when Windows stores the archived name exactly as given: IsSafeArchivedName and no
// component ending in '.' or ' '.
bool IsExactWindowsName(const char* name);

// Writes into out (strlen(name) + 1 bytes) the key under which Windows sees name: '/' as
// '\' and letters in upper case: ASCII always, and with utf8 also the Latin-1, Greek and
// Cyrillic letters whose case pairs keep their UTF-8 length. Two names with equal keys are
// one file on Windows.
void FoldNameCase(const char* name, bool utf8, char* out);

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
