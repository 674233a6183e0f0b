#include "lane.h"

std::atomic<uint32_t> g_writtenKiB{0};

static CabLane s_firstLane;
static DWORD s_laneSlot = TLS_OUT_OF_INDEXES;

// A box is up while s_boxUp is 1; its holder has the lock exclusive, so the lanes that look
// at it wait on the lock shared. Taking the flag first lets the dialog's thread give up at
// once instead of blocking while a lane's box needs it (the box disables the dialog through a
// message to that thread). The lock has no try-acquire before Windows 7.
static SRWLOCK s_boxLock = SRWLOCK_INIT;
static std::atomic<int> s_boxUp{0};

CabLane* CurrentLane() {
    if (s_laneSlot != TLS_OUT_OF_INDEXES) {
        void* lane = TlsGetValue(s_laneSlot);
        if (lane)
            return static_cast<CabLane*>(lane);
    }
    return &s_firstLane;
}

bool ReserveLaneSlot() {
    if (s_laneSlot == TLS_OUT_OF_INDEXES)
        s_laneSlot = TlsAlloc();
    return s_laneSlot != TLS_OUT_OF_INDEXES;
}

bool EnterLane(CabLane* lane) {
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

bool TryHoldLanes() {
    int none = 0;
    if (!s_boxUp.compare_exchange_strong(none, 1))
        return false;
    AcquireSRWLockExclusive(&s_boxLock); // only lanes passing through hold it, shared
    return true;
}

void HoldLanes() {
    while (!TryHoldLanes())
        Sleep(10); // another box is up: this one waits its turn
}

void ReleaseLanes() {
    ReleaseSRWLockExclusive(&s_boxLock);
    s_boxUp.store(0);
}

void WaitWhileHeld() {
    if (!s_boxUp.load(std::memory_order_relaxed))
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
