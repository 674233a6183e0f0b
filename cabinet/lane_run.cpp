#include "lane_run.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <process.h>

#include "driver.h"
#include "lane.h"
#include "stream_callbacks.h"

int LaneBudget() {
    char forced[8];
    const DWORD n = GetEnvironmentVariableA("ORVANTA_THREADS", forced, sizeof(forced));
    if (n > 0 && n < sizeof(forced)) {
        const int value = atoi(forced);
        if (value >= 1 && value <= kMaxLanes)
            return value;
    }
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return 1;
    int count = 0;
    for (; process && count < kMaxLanes; process &= process - 1)
        ++count;
    return count;
}

// Most embedded cabinets' header and tables fit here; longer ones are read again whole.
constexpr size_t kFirstTablesRead = 64 * 1024;

// Reads the embedded cabinet's first size bytes into a new block: null when it cannot.
static unsigned char* ReadEmbeddedStart(size_t size, size_t* got) {
    *got = 0;
    char name[sizeof(kEmbeddedCabName)];
    memcpy(name, kEmbeddedCabName, sizeof(name));
    const INT_PTR h = CabOpen(name, _O_RDONLY | _O_BINARY, 0);
    if (h == -1)
        return nullptr;
    unsigned char* bytes = static_cast<unsigned char*>(malloc(size));
    if (bytes) {
        const UINT r = CabRead(h, bytes, static_cast<UINT>(size));
        *got = r == static_cast<UINT>(-1) ? 0 : r;
    }
    CabClose(h);
    return bytes;
}

int PlanLanes(int lanes, LaneTables* out) {
    size_t size = kFirstTablesRead, got = 0, needed = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        unsigned char* bytes = ReadEmbeddedStart(size, &got);
        if (!bytes)
            return 0;
        int used = 0;
        const SplitResult result = SplitFolders(bytes, got, lanes, out, &used, &needed);
        free(bytes);
        if (result == kSplitDone)
            return used;
        if (result != kSplitNeedMore || got < size || needed <= size)
            return 0;
        size = needed;
    }
    return 0;
}

// One lane of a shared run: its record, its callbacks' state, its thread.
struct LaneRun {
    CabExtractor* ex = nullptr;
    CabLane lane;
    bool ok = false;
    HANDLE thread = nullptr;
};

// Runs one lane's copy on the calling thread.
static void RunLane(LaneRun* run) {
    if (!EnterLane(&run->lane)) {
        RecordFailure(run->ex, FDIERROR_ALLOC_FAIL);
        ClaimFailure(run->ex->share, run->ex->laneNumber);
        return;
    }
    char name[sizeof(kEmbeddedCabName)];
    memcpy(name, kEmbeddedCabName, sizeof(name));
    run->ok = CopyCabinet(run->ex, name);
    // The lane's stream is closed with its last handle; nothing of it outlives the copy.
    LeaveLane();
}

static unsigned __stdcall LaneThread(void* argument) {
    RunLane(static_cast<LaneRun*>(argument));
    return 0;
}

// A record for a lane besides the run's own: the same library and destination, a context of
// its own. Null when there is no memory or no context.
static CabExtractor* NewLaneExtractor(CabExtractor* ex, int number) {
    CabExtractor* lane = new (std::nothrow) CabExtractor(ex->hwndNotify);
    if (!lane)
        return nullptr;
#define CAB_COPY_ENTRY(name) lane->pfn##name = ex->pfn##name;
    CAB_ENTRY_POINTS(CAB_COPY_ENTRY)
#undef CAB_COPY_ENTRY
    lane->destination = ex->destination;
    lane->askRetryInUse = ex->askRetryInUse;
    lane->share = ex->share;
    lane->closer = ex->closer;
    lane->laneNumber = number;
    lane->hfdi = CreateCabContext(ex->pfnFDICreate, &lane->erf);
    if (!lane->hfdi) {
        delete lane; // the library stays the run's: this record never bound it
        return nullptr;
    }
    return lane;
}

bool ExtractLanes(CabExtractor* ex, LaneTables* tables, int count) {
    LaneRun runs[kMaxLanes];
    bool ok = true;
    for (int l = 0; l < count; ++l) {
        runs[l].ex = l == 0 ? ex : NewLaneExtractor(ex, l);
        if (!runs[l].ex) {
            RecordFailure(ex, FDIERROR_ALLOC_FAIL);
            ok = false;
            count = l;
            break;
        }
        runs[l].lane.tables = tables[l].bytes;
        runs[l].lane.tablesLength = tables[l].length;
        runs[l].lane.stop = &ex->share->stop;
    }
    for (int l = 1; ok && l < count; ++l) {
        runs[l].thread = reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, LaneThread, &runs[l], 0, nullptr));
    }
    if (ok) {
        RunLane(&runs[0]);
        for (int l = 1; l < count; ++l) {
            if (runs[l].thread) {
                WaitForSingleObject(runs[l].thread, INFINITE);
                CloseHandle(runs[l].thread);
            } else {
                RunLane(&runs[l]); // no thread to be had: after the others, on this one
            }
        }
        for (int l = 0; l < count; ++l)
            ok = ok && runs[l].ok;
        const int first = ex->share->firstFailure.load();
        if (!ok && first > 0 && first < count)
            MoveFailure(runs[first].ex, ex);
    }
    for (int l = 1; l < count; ++l)
        delete runs[l].ex;
    return ok;
}
