#include "extractor.h"

#include <stdlib.h>
#include <string.h>

#include "embedded_file.h"
#include "lane.h"
#include "stream_callbacks.h"

std::atomic<int> g_cancelRequested{0};

CabExtractor::CabExtractor(HWND notify) : hwndNotify(notify) {
    erf.erfOper = 0;
    erf.erfType = 0;
    erf.fError = FALSE;
    nextCabinet[0] = '\0';
}

// Frees the texts of a run (current output path, last folder, failure); the destination is
// the job's.
static void FreeRunPaths(CabExtractor* ex) {
    free(ex->currentPath);
    free(ex->lastCreatedDir);
    free(ex->failureText);
    ex->currentPath = ex->lastCreatedDir = ex->failureText = nullptr;
    ex->destination = nullptr;
}

void StartRun(CabExtractor* ex) {
    ex->pendingError = 0;
    ex->abortRequested = 0;
    ex->currentUnfinished = 0;
    FreeRunPaths(ex);
    ex->seenCount = 0;
    ResetLane(CurrentLane());
    g_writtenKiB = 0;
    CabStreamState& state = StreamState();
    strncpy(state.cabName, kEmbeddedCabName, sizeof(state.cabName) - 1);
    state.cabName[sizeof(state.cabName) - 1] = '\0';
}

void ReleaseRun(CabExtractor* ex) {
    FreeRunPaths(ex);
    free(ex->seenCabinets);
    ex->seenCabinets = nullptr;
    ex->seenCount = ex->seenCapacity = 0;
}

void MoveFailure(CabExtractor* from, CabExtractor* to) {
    to->pendingError = from->pendingError;
    to->erf = from->erf;
    free(to->failureText);
    to->failureText = from->failureText;
    from->failureText = nullptr;
}

void RecordFailure(CabExtractor* ex, int code, char* text) {
    ex->pendingError = code;
    ex->erf.erfOper = code;
    ex->erf.fError = TRUE;
    free(ex->failureText);
    ex->failureText = text;
}
