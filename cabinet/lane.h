// What the library's file callbacks keep per thread. They get a handle and nothing else, so a
// thread that runs a context of its own finds its record through thread-local storage; a
// thread without one shares the process's first record, as a run on one thread always did.
#pragma once

#include <windows.h>
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "handle_table.h"

struct CabLane {
    CMap map;                  // embedded handles with their stream offsets
    FILE* selfFile = nullptr;  // this lane's stream on the program's own file
    int32_t selfFileRefs = 0;  // embedded handles still open on it
    // Where selfFile stands, -1 when unknown; set whenever the stream is opened (zero here
    // keeps the first record out of the program's initialised data).
    int64_t streamOffset = 0;
    // Set by CabWrite when a write fails or falls short; the run then fails with code 8.
    int32_t writeFailed = 0;
    // The output file the driver has open, 0 when none: CabClose clears it, so that a library
    // that closes the file itself on a failure is not followed by a second close.
    INT_PTR openOutput = 0;
    uint64_t bytesWritten = 0; // by this lane's writes
    // Header and tables read in place of the cabinet's own first bytes (lane_tables.h); null:
    // the cabinet as it is.
    const unsigned char* tables = nullptr;
    uint32_t tablesLength = 0;
    // Set when the run stops (another lane failed, a close failed): this lane's writes fail
    // at once. Null: nothing stops it but its own context.
    const std::atomic<int>* stop = nullptr;
};

// KiB written by every lane together, for another thread to read (a progress bar).
extern std::atomic<uint32_t> g_writtenKiB;

// The calling thread's record: the one it entered, else the process's first.
CabLane* CurrentLane();
// Takes the thread-local slot the records are found through, once per process: false when
// none can be had. Called by the run's thread before it starts any other lane.
bool ReserveLaneSlot();
// Makes lane the calling thread's record until LeaveLane; false without a reserved slot (the
// thread then keeps the process's first record).
bool EnterLane(CabLane* lane);
void LeaveLane();
// Puts lane back to its state before a run: no handle, no stream, no failure, no tables.
void ResetLane(CabLane* lane);

// One box at a time, and every lane waits while one is up: a box shown during a run is held
// around by HoldLanes/ReleaseLanes; the lanes call WaitWhileHeld at each write and notice.
// HoldLanes waits for another box to be answered first.
void HoldLanes();
// As HoldLanes, but false at once, holding nothing, when a box is already up: for a thread
// that a box shown by a lane may need (the dialog's).
bool TryHoldLanes();
void ReleaseLanes();
// Returns at once unless a box is up; else when it is answered.
void WaitWhileHeld();

// What the parts of one run share: the flag that stops every lane once one part has failed,
// and which part failed first (its failure is the run's).
struct RunShare {
    std::atomic<int> stop{0};
    std::atomic<int> firstFailure{-1}; // a lane's number, kCloseFailure, or -1: none
};
constexpr int kCloseFailure = 1000;

// Stops the run and claims its first failure for who: true when no part had claimed it.
bool ClaimFailure(RunShare* share, int who);
