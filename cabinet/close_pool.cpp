#include "close_pool.h"

#include <io.h>
#include <process.h>
#include <stdlib.h>

#include "driver.h"
#include "wide_path.h"

#ifdef ORVANTA_LIBRARY_SEAM
std::atomic<int> g_failPoolCloseAt{0};
std::atomic<int64_t> g_closeMicrosSeam{-1};
#endif

bool StampOpenFile(INT_PTR hf, USHORT date, USHORT time, USHORT attribs) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(hf)));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    FILE_BASIC_INFO info = {};
    FILETIME local, utc;
    if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc)) {
        info.CreationTime.LowPart = utc.dwLowDateTime;
        info.CreationTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
        info.LastWriteTime = info.CreationTime;
    }
    // Zero leaves a field alone, so "no attribute" has to be spelled NORMAL.
    const DWORD masked = attribs & kDosAttributeMask;
    info.FileAttributes = masked ? masked : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof(info)) != FALSE;
}

// _close, or in test builds a close that fails after closing, as a deferred write would.
static int CloseDescriptor(const CloseJob& job) {
    const int result = _close(static_cast<int>(job.hf));
#ifdef ORVANTA_LIBRARY_SEAM
    if (job.number == g_failPoolCloseAt.load())
        return -1;
#endif
    return result;
}

// Stamps and closes one file; a failed close fails the run and removes the file.
static void CloseOne(ClosePool* pool, const CloseJob& job) {
    const bool stamped = StampOpenFile(job.hf, job.date, job.time, job.attribs);
    if (CloseDescriptor(job) != 0) {
        ClaimFailure(pool->share, kCloseFailure);
        wchar_t* wide = WidePath(job.path);
        if (wide) {
            SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL); // stamped read-only above
            DeleteFileW(wide);
        }
        free(wide);
    } else if (!stamped) {
        ApplyFileTimeAndAttributes(job.path, job.date, job.time, job.attribs);
    }
    free(job.path);
}

static unsigned __stdcall CloseThread(void* argument) {
    ClosePool* pool = static_cast<ClosePool*>(argument);
    AcquireSRWLockExclusive(&pool->lock);
    for (;;) {
        while (pool->count == 0 && !pool->ending)
            SleepConditionVariableSRW(&pool->work, &pool->lock, INFINITE, 0);
        if (pool->count == 0)
            break; // ending, and nothing left
        const CloseJob job = pool->jobs[pool->head];
        pool->head = (pool->head + 1) % kCloseQueue;
        --pool->count;
        ++pool->inHand;
        WakeConditionVariable(&pool->space);
        ReleaseSRWLockExclusive(&pool->lock);
        CloseOne(pool, job);
        AcquireSRWLockExclusive(&pool->lock);
        if (--pool->inHand == 0 && pool->count == 0)
            WakeAllConditionVariable(&pool->idle);
    }
    ReleaseSRWLockExclusive(&pool->lock);
    return 0;
}

bool NoteCloseTime(CloseTiming* timing, uint64_t micros) {
    if (micros >= kSlowCloseMicros)
        ++timing->slowCloses;
    const bool slow = micros >= kStalledCloseMicros || timing->slowCloses >= kSlowClosesToStart;
    if (slow || ++timing->closes == kCloseWindow)
        *timing = CloseTiming();
    return slow;
}

void StartClosePool(ClosePool* pool, RunShare* share) {
    pool->share = share;
    pool->ending = false;
    pool->head = pool->count = pool->inHand = pool->handedOver = 0;
    pool->timing = CloseTiming();
    LARGE_INTEGER frequency;
    pool->ticksPerSecond = QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0
                               ? static_cast<uint64_t>(frequency.QuadPart)
                               : 0;
}

// Starts the threads; called with the lock held, once.
static void StartCloseThreads(ClosePool* pool) {
    for (int i = 0; i < kCloseThreads; ++i) {
        // A small stack: the thread only stamps and closes.
        const uintptr_t thread = _beginthreadex(nullptr, 64 * 1024, CloseThread, pool,
                                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread)
            break;
        pool->threads[pool->threadCount++] = reinterpret_cast<HANDLE>(thread);
    }
    pool->running.store(pool->threadCount > 0);
}

void NoteInlineClose(ClosePool* pool, uint64_t ticks) {
    if (pool->ticksPerSecond == 0)
        return; // no clock: the closes stay where they are
    uint64_t micros = ticks * 1000000u / pool->ticksPerSecond;
#ifdef ORVANTA_LIBRARY_SEAM
    if (g_closeMicrosSeam.load() >= 0)
        micros = static_cast<uint64_t>(g_closeMicrosSeam.load());
#endif
    AcquireSRWLockExclusive(&pool->lock);
    if (NoteCloseTime(&pool->timing, micros) && pool->threadCount == 0 && !pool->ending)
        StartCloseThreads(pool);
    ReleaseSRWLockExclusive(&pool->lock);
}

bool QueueClose(ClosePool* pool, const CloseJob& job) {
    AcquireSRWLockExclusive(&pool->lock);
    if (pool->threadCount == 0) {
        ReleaseSRWLockExclusive(&pool->lock);
        return false;
    }
    while (pool->count == kCloseQueue)
        SleepConditionVariableSRW(&pool->space, &pool->lock, INFINITE, 0);
    CloseJob& queued = pool->jobs[(pool->head + pool->count) % kCloseQueue];
    queued = job;
    queued.number = ++pool->handedOver;
    ++pool->count;
    WakeConditionVariable(&pool->work);
    ReleaseSRWLockExclusive(&pool->lock);
    return true;
}

void WaitForCloses(ClosePool* pool) {
    // Under the lock: another lane may be starting the threads.
    AcquireSRWLockExclusive(&pool->lock);
    while (pool->count > 0 || pool->inHand > 0)
        SleepConditionVariableSRW(&pool->idle, &pool->lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&pool->lock);
}

void StopClosePool(ClosePool* pool) {
    AcquireSRWLockExclusive(&pool->lock);
    pool->ending = true; // no thread starts after this
    WakeAllConditionVariable(&pool->work);
    ReleaseSRWLockExclusive(&pool->lock);
    if (pool->threadCount == 0)
        return;
    WaitForMultipleObjects(static_cast<DWORD>(pool->threadCount), pool->threads, TRUE, INFINITE);
    for (int i = 0; i < pool->threadCount; ++i)
        CloseHandle(pool->threads[i]);
    pool->threadCount = 0;
    pool->running.store(false);
}
