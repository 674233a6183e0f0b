// Finished output files closed off the extraction path: a few threads stamp each file's times
// and attributes and close it, so that a close that blocks (a scanner looking at the new file)
// does not hold up the decompression. A failed close fails the run and removes its file.
// The threads start only once closes on the extraction path prove slow: where a close is quick
// a thread would cost its stack and a hand-over per file, and save nothing.
#pragma once

#include <windows.h>
#include <atomic>
#include <stdint.h>

#include "lane.h"

constexpr int kCloseThreads = 2;
constexpr int kCloseQueue = 64; // files handed over and not yet taken: bounds the open handles
// Closes are timed in windows of this many. The threads start when half of a window's closes
// took kSlowCloseMicros or more each, or when one close took kStalledCloseMicros: a close on a
// local disk takes tens of microseconds, one a scanner holds takes milliseconds. Half, not
// any: under load a quick close now and then waits a few milliseconds for its turn.
constexpr int kCloseWindow = 32;
constexpr int kSlowClosesToStart = kCloseWindow / 2;
constexpr uint64_t kSlowCloseMicros = 1000;
constexpr uint64_t kStalledCloseMicros = 100 * 1000;

struct CloseTiming {
    int closes = 0;     // in the current window
    int slowCloses = 0; // of them, those that took kSlowCloseMicros or more
};

// Counts one close made on the extraction path that took micros: true when the closes prove
// slow, the sign that the pool should start. A window ends after kCloseWindow closes and the
// next starts from nothing.
bool NoteCloseTime(CloseTiming* timing, uint64_t micros);

struct CloseJob {
    INT_PTR hf; // the runtime descriptor the driver wrote through
    USHORT date, time, attribs;
    char* path; // UTF-8 output path; heap, the job's own
    int number = 0; // among the run's hand-overs, from 1; set by QueueClose
};

struct ClosePool {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE work = CONDITION_VARIABLE_INIT;  // a job was queued, or the pool ends
    CONDITION_VARIABLE space = CONDITION_VARIABLE_INIT; // a job was taken
    CONDITION_VARIABLE idle = CONDITION_VARIABLE_INIT;  // none queued, none in hand
    CloseJob jobs[kCloseQueue];
    int head = 0, count = 0, inHand = 0;
    int handedOver = 0; // jobs queued this run
    bool ending = false;
    HANDLE threads[kCloseThreads] = {};
    int threadCount = 0;        // 0 until the closes prove slow
    std::atomic<bool> running{false}; // threadCount > 0, for a look without the lock
    CloseTiming timing;         // of the closes made on the extraction path, every lane's
    uint64_t ticksPerSecond = 0; // of QueryPerformanceCounter, read once a run
    RunShare* share = nullptr;  // told of a failed close
};

// Readies the pool for a run, with no thread yet.
void StartClosePool(ClosePool* pool, RunShare* share);
// Tells the pool how long a close made on the extraction path took, in QueryPerformanceCounter
// ticks; starts the threads when the closes prove slow. Any lane may call it.
void NoteInlineClose(ClosePool* pool, uint64_t ticks);
// True once the threads have started: a file may then be handed over.
inline bool ClosePoolRunning(const ClosePool* pool) {
    return pool->running.load(std::memory_order_relaxed);
}
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
// Test builds only: the close of the n-th file handed to the pool (from 1) fails as a deferred
// write would; 0 none. Counted in hand-over order, which the pool's threads do not reorder.
extern std::atomic<int> g_failPoolCloseAt;
// Test builds only: every close on the extraction path counts as taking this many
// microseconds; -1 counts the time it took.
extern std::atomic<int64_t> g_closeMicrosSeam;
#endif
