// Finished output files closed off the extraction path: a few threads stamp each file's times
// and attributes and close it, so that a close that blocks (a scanner looking at the new file)
// does not hold up the decompression. A failed close fails the run and removes its file.
#pragma once

#include <windows.h>
#include <atomic>

#include "lane.h"

constexpr int kCloseThreads = 2;
constexpr int kCloseQueue = 64; // files handed over and not yet taken: bounds the open handles

struct CloseJob {
    INT_PTR hf; // the runtime descriptor the driver wrote through
    USHORT date, time, attribs;
    char* path; // UTF-8 output path; heap, the job's own
};

struct ClosePool {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE work = CONDITION_VARIABLE_INIT;  // a job was queued, or the pool ends
    CONDITION_VARIABLE space = CONDITION_VARIABLE_INIT; // a job was taken
    CONDITION_VARIABLE idle = CONDITION_VARIABLE_INIT;  // none queued, none in hand
    CloseJob jobs[kCloseQueue];
    int head = 0, count = 0, inHand = 0;
    bool ending = false;
    HANDLE threads[kCloseThreads] = {};
    int threadCount = 0;
    RunShare* share = nullptr; // told of a failed close
};

// Starts the pool's threads for a run; false when none starts (the closes then stay on the
// extraction path).
bool StartClosePool(ClosePool* pool, RunShare* share);
// Hands a finished file over, waiting while the queue is full. False, with the job still the
// caller's, when the pool has no thread.
bool QueueClose(ClosePool* pool, const CloseJob& job);
// Returns when every file handed over so far is closed.
void WaitForCloses(ClosePool* pool);
// Waits for the closes and ends the threads; safe to repeat.
void StopClosePool(ClosePool* pool);

// Stamps the archived times and masked attributes through the still-open output descriptor:
// one call instead of reopening the file by name. False when the handle does not take it.
bool StampOpenFile(INT_PTR hf, USHORT date, USHORT time, USHORT attribs);

#ifdef ORVANTA_LIBRARY_SEAM
// Test builds only: the pool's close number n (from 1) fails as a deferred write would; 0 none.
extern std::atomic<int> g_failPoolCloseAt;
#endif
