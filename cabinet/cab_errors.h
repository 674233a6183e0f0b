// The codes a run can fail with, their English texts, and the one mapping from what went wrong
// while reading a cabinet (no memory, a failed or short read, a part not found) to a code, the
// same wherever the reading is done.
#pragma once

#include <windows.h>
#include <fdi.h>

// The code reported when the library or one of its entry points is missing.
constexpr int CAB_ERROR_NO_LIBRARY = 1000;
// The checks made before the first write: the payload is cut or damaged, a name cannot be
// written, the volume lacks room.
constexpr int CAB_ERROR_INCOMPLETE = 1001;
constexpr int CAB_ERROR_BAD_NAME = 1002;
constexpr int CAB_ERROR_NO_ROOM = 1003;
// A file the run would replace is open in another program.
constexpr int CAB_ERROR_IN_USE = 1004;

// The text for one code (UTF-8): the library's codes and CAB_ERROR_NO_LIBRARY in English, the
// checks' own codes (CAB_ERROR_INCOMPLETE and after) in French, like the dialog; "Unknown
// error" for codes outside the table.
const char* CabErrorText(int code);

// How reading a cabinet went.
enum ReadOutcome {
    kReadOk,
    kReadNoMemory,   // a buffer could not be had
    kReadCut,        // a read failed or ended early: the file is cut or damaged
    kReadMissing,    // a later cabinet that cannot be opened
    kReadNotCabinet, // the bytes read are no cabinet
};

// The code of an outcome: 0, FDIERROR_ALLOC_FAIL, CAB_ERROR_INCOMPLETE,
// FDIERROR_CABINET_NOT_FOUND or FDIERROR_NOT_A_CABINET.
int ReadOutcomeCode(ReadOutcome outcome);

// The whole text of a failure: code's text, then a colon (" : " after a French text) and
// detail when detail is not null, then tail. A heap block (UTF-8); null when no memory is left.
char* ComposeFailureText(int code, const char* detail, const char* tail = "");

// What the user is asked when file (UTF-8, as under the destination) is in use: close the
// program that holds it and try again. A heap block (UTF-8); null when no memory is left.
char* InUseText(const char* file);

// The CAB_ERROR_INCOMPLETE text naming the damaged cabinet part (null: the installer itself).
// A heap block (UTF-8); null when no memory is left.
char* IncompleteText(const char* part);
