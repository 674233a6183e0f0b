#include "extractor.h"

#include <stdlib.h>
#include <string.h>

#include "embedded_file.h"
#include "stream_callbacks.h"

CabExtractor::CabExtractor(HWND notify) : hwndNotify(notify) {
    erf.erfOper = 0;
    erf.erfType = 0;
    erf.fError = FALSE;
    nextCabinet[0] = '\0';
}

// Frees the texts of a run (destination, current output path, last folder, failure).
static void FreeRunPaths(CabExtractor* ex) {
    free(ex->destination);
    free(ex->currentPath);
    free(ex->lastCreatedDir);
    free(ex->failureText);
    ex->destination = ex->currentPath = ex->lastCreatedDir = ex->failureText = nullptr;
}

void StartRun(CabExtractor* ex) {
    ex->pendingError = 0;
    ex->abortRequested = 0;
    ex->currentUnfinished = 0;
    FreeRunPaths(ex);
    ex->seenCount = 0;
    g_writeFailed = 0;
    g_openOutput = 0;
    g_bytesWritten = 0;
    g_writtenKiB = 0;
    CabStreamState& state = StreamState();
    state.map.Clear();
    strncpy(state.cabName, kEmbeddedCabName, sizeof(state.cabName) - 1);
    state.cabName[sizeof(state.cabName) - 1] = '\0';
    g_selfFileRefs = 0;
    g_selfFile = nullptr;
}

void ReleaseRun(CabExtractor* ex) {
    FreeRunPaths(ex);
    free(ex->seenCabinets);
    ex->seenCabinets = nullptr;
    ex->seenCount = ex->seenCapacity = 0;
}
