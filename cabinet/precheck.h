// The checks made before anything is written: the payload is whole, every archived name is one
// the driver will write, and the destination's volume has room for the files.
#pragma once

#include <windows.h>
#include <cstdint>

// Posted (wParam 0) to the window given when the payload is large enough for the checks to
// take a moment, so that it can say what is going on.
constexpr UINT WM_EXTRACT_CHECKING = WM_USER + 11;
// The payload size from which the window is told.
constexpr uint64_t kCheckNoticeBytes = 8u << 20;

// A number of bytes as the message shows it: megabytes (2^20) with one decimal, rounded up,
// so that freeing what it says is always enough. out holds at least 32 bytes.
void FormatMegabytes(uint64_t bytes, char* out, size_t outSize);

// Checks the embedded cabinet before a run into destination (UTF-8, as the run gets it), in
// this order: its declared size is present, the payload record's digest matches when the
// installer carries one, every name is one the driver writes, and the volume has room. 0 when
// all hold; else the code (CAB_ERROR_INCOMPLETE, FDIERROR_NOT_A_CABINET, CAB_ERROR_BAD_NAME,
// CAB_ERROR_NO_ROOM, FDIERROR_ALLOC_FAIL) with *message (UTF-8, heap, freed by the caller)
// saying what happened and what to do. Writes nothing; notify may be null.
// *payloadBytes (may be null) gets the sum of the sizes of the files that start in it.
int CheckBeforeExtracting(const char* destination, HWND notify, uint64_t* payloadBytes,
                          char** message);

// Starts reading the payload for its digest on a thread of its own, when the installer
// carries a payload record: the user's choice of a folder takes far longer, so the check
// after "Extraire" usually finds it done. Its streams are its own; nothing else of the run is
// touched. Once per process, before CheckBeforeExtracting.
void StartPayloadDigest();

struct PayloadRecord;
// The payload record sfxpack stored in the image's resources; false when there is none.
bool FindPayloadRecord(PayloadRecord* record);

// The same checks but the digest, on a continuation cabinet on the disk (ANSI path, as the
// library opens it) before the library reads from it, for the files that start in it; the
// destination as the run holds it (UTF-8, ending in '\'). A part that cannot be opened is
// left to the library: 0.
int CheckContinuation(const char* path, const char* destination, char** message);
