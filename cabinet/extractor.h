// One run's record: the connection to the platform cabinet library, the error and the driver's
// state, reset at the start of a run and released once at its end.
#pragma once

#include <windows.h>
#include <fdi.h>
#include <atomic>
#include <cstdint>

#include "names.h"

struct RunShare;
struct ClosePool;

// One-way flag (0 to 1), written only by the program's main thread: the checks stop at it,
// and the files offered after it are skipped.
extern std::atomic<int> g_cancelRequested;

// The library's entry points, bound by name at run time; listed once, typed by fdi.h.
#define CAB_ENTRY_POINTS(X) X(FDICreate) X(FDICopy) X(FDIIsCabinet) X(FDIDestroy)

struct CabExtractor {
    explicit CabExtractor(HWND notify);
    ~CabExtractor(); // with the binding: ReleaseCabinetLibrary, then ReleaseRun
    CabExtractor(const CabExtractor&) = delete;
    CabExtractor& operator=(const CabExtractor&) = delete;

    HFDI hfdi = nullptr;
    ERF erf;
    int32_t pendingError = 0;   // a precise cause (RecordFailure); wins when reported
    int32_t abortRequested = 0; // when set, CabNotify answers every notification with -1
    // UTF-8, ending in '\\' (or empty): NormaliseDestination's result, which the job owns.
    const char* destination = nullptr;
    char* currentPath = nullptr; // UTF-8 output path of the file being written
    // Set when currentPath is opened, cleared once the library moves past its close: a run
    // that fails while it is set leaves that file incomplete.
    int32_t currentUnfinished = 0;
    char* lastCreatedDir = nullptr; // the deepest output folder tried; its ancestors were too
    char* failureText = nullptr;    // UTF-8: the whole text recorded with the failure, if any
    char nextCabinet[kMaxNameBytes + 1];
    // The cabinets this run has processed: a chain that comes back to one would loop for ever.
    char (*seenCabinets)[kMaxNameBytes + 1] = nullptr;
    int seenCount = 0;
    int seenCapacity = 0;
    // Asked, with the window to own a box, when an output file (UTF-8, under the destination)
    // is held by another program: true to try it again. Null: the run fails at once.
    bool (*askRetryInUse)(HWND owner, const char* file) = nullptr;
    // Set for the length of ExtractAll: what the run's lanes share, and the pool that closes
    // finished files (null: each file is closed on the extraction path).
    RunShare* share = nullptr;
    ClosePool* closer = nullptr;
    int32_t laneNumber = 0; // this record's lane in its run
    int32_t lanesUsed = 0;  // lanes the last run extracted on (1 when not shared)
    HMODULE hCabinetDll = nullptr;
#define CAB_ENTRY_FIELD(name) decltype(&::name) pfn##name = nullptr;
    CAB_ENTRY_POINTS(CAB_ENTRY_FIELD)
#undef CAB_ENTRY_FIELD
    HWND hwndNotify;
};

// Puts every part of a run's state at its start, the parts the callbacks keep on the calling
// thread's lane included: no error or abort recorded, no paths, no cabinet seen, no failed
// write, no embedded handle, nothing written. The library stays bound.
void StartRun(CabExtractor* ex);
// Frees the paths and names the run holds; safe to repeat. The library is the binding's to
// release.
void ReleaseRun(CabExtractor* ex);

// The one place a run's failure is recorded, by the checks, the driver and the callbacks
// alike: code becomes pendingError (which wins over the library's own code when reported) and
// the library's ERF is marked failed, as the library marks its own failures. text (UTF-8, a
// heap block, owned from here on) is the whole text to show; null: the code's own text. A
// later failure replaces an earlier one.
void RecordFailure(CabExtractor* ex, int code, char* text = nullptr);
// Makes from's failure (code, the library's ERF, text) to's, replacing to's own.
void MoveFailure(CabExtractor* from, CabExtractor* to);
