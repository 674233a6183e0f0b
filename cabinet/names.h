// Archived names and output paths: the rules the stub applies, which sfxpack checks too.
// Pure logic: no platform calls.
#pragma once

#include <cstddef>

constexpr size_t kNameBufferSize = 260; // MAX_PATH, terminator included

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
