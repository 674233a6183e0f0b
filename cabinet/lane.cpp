#include "lane.h"

std::atomic<uint32_t> g_writtenKiB{0};

static CabLane s_firstLane;
static DWORD s_laneSlot = TLS_OUT_OF_INDEXES;

static SRWLOCK s_boxLock = SRWLOCK_INIT;
static std::atomic<int> s_held{0};

CabLane* CurrentLane() {
    if (s_laneSlot != TLS_OUT_OF_INDEXES) {
        void* lane = TlsGetValue(s_laneSlot);
        if (lane)
            return static_cast<CabLane*>(lane);
    }
    return &s_firstLane;
}

bool EnterLane(CabLane* lane) {
    // The slot is taken by the run's thread before it starts any lane, so no two threads
    // race to take it.
    if (s_laneSlot == TLS_OUT_OF_INDEXES)
        s_laneSlot = TlsAlloc();
    return s_laneSlot != TLS_OUT_OF_INDEXES && TlsSetValue(s_laneSlot, lane);
}

void LeaveLane() {
    if (s_laneSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(s_laneSlot, nullptr);
}

void ResetLane(CabLane* lane) {
    lane->map.Clear();
    lane->selfFile = nullptr;
    lane->selfFileRefs = 0;
    lane->streamOffset = -1;
    lane->writeFailed = 0;
    lane->openOutput = 0;
    lane->bytesWritten = 0;
    lane->tables = nullptr;
    lane->tablesLength = 0;
    lane->stop = nullptr;
}

void HoldLanes() {
    AcquireSRWLockExclusive(&s_boxLock);
    s_held.store(1);
}

bool TryHoldLanes() {
    if (!TryAcquireSRWLockExclusive(&s_boxLock))
        return false;
    s_held.store(1);
    return true;
}

void ReleaseLanes() {
    s_held.store(0);
    ReleaseSRWLockExclusive(&s_boxLock);
}

void WaitWhileHeld() {
    if (!s_held.load(std::memory_order_relaxed))
        return;
    AcquireSRWLockShared(&s_boxLock);
    ReleaseSRWLockShared(&s_boxLock);
}

bool ClaimFailure(RunShare* share, int who) {
    int none = -1;
    const bool first = share->firstFailure.compare_exchange_strong(none, who);
    share->stop.store(1);
    return first;
}
