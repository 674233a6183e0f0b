#include "driver.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <process.h>

#include "cab_errors.h"
#include "close_pool.h"
#include "file_in_use.h"
#include "lane.h"
#include "lane_run.h"
#include "lane_tables.h"
#include "names.h"
#include "owned.h"
#include "precheck.h"
#include "resolve_name.h"
#include "stream_callbacks.h"
#include "wide_path.h"

// Records one more processed cabinet name; false when no memory is left for it.
static bool RememberCabinet(CabExtractor* ex, const char* name) {
    if (ex->seenCount >= ex->seenCapacity) {
        const int capacity = ex->seenCapacity ? ex->seenCapacity * 2 : 8;
        void* grown =
            realloc(ex->seenCabinets, static_cast<size_t>(capacity) * sizeof(*ex->seenCabinets));
        if (!grown)
            return false;
        ex->seenCabinets = static_cast<decltype(ex->seenCabinets)>(grown);
        ex->seenCapacity = capacity;
    }
    memcpy(ex->seenCabinets[ex->seenCount++], name, sizeof(*ex->seenCabinets));
    return true;
}

// Records a failed or short write as the run's failure: the write callback gets no context,
// so it can only raise a flag. True when there was one.
static bool TakeWriteFailure(CabExtractor* ex) {
    const bool failed = CurrentLane()->writeFailed != 0;
    if (failed)
        RecordFailure(ex, FDIERROR_TARGET_FILE);
    return failed;
}

// Removes the file a failed run was writing: it is incomplete, or its last block was
// damaged (a library may report the file closed before it reports the failure).
static void DiscardUnfinishedFile(CabExtractor* ex) {
    if (!ex->currentUnfinished || !ex->currentPath)
        return;
    CabLane* lane = CurrentLane();
    if (lane->openOutput)
        CabClose(lane->openOutput);
    else if (ex->closer)
        WaitForCloses(ex->closer); // it may have been handed over: it must be closed first
    wchar_t* wide = WidePath(ex->currentPath);
    if (wide) {
        SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL); // stamped read-only on its close
        DeleteFileW(wide);
    }
    free(wide);
    ex->currentUnfinished = 0;
}

bool CopyCabinet(CabExtractor* ex, char* name) {
    char path[] = "";
    BOOL copied = ex->pfnFDICopy(ex->hfdi, name, path, 0, CabNotify, nullptr, ex);
    // Some libraries ignore the write callback's result and report success: whatever was
    // recorded fails the copy.
    TakeWriteFailure(ex);
    if (ex->pendingError)
        copied = FALSE;
    // The same for a write that the run's stop refused: that file is still open.
    if (ex->share && ex->share->stop.load() && CurrentLane()->openOutput)
        copied = FALSE;
    if (!copied) {
        if (ex->share)
            ClaimFailure(ex->share, ex->laneNumber);
        DiscardUnfinishedFile(ex);
        return false;
    }
    ex->currentUnfinished = 0;
    return true;
}

// The embedded cabinet, then each continuation it names, one after the other on this thread.
static bool ExtractChain(CabExtractor* ex) {
    // The embedded cabinet first, by its bare name; the later ones of a set are looked for
    // beside the program, then in the working folder (CabOpen).
    char cabName[kMaxNameBytes + 1];
    static_assert(sizeof(kEmbeddedCabName) <= sizeof(cabName), "the embedded name fits");
    strcpy(cabName, kEmbeddedCabName);

    strcpy(ex->nextCabinet, cabName);
    for (;;) {
        if (!RememberCabinet(ex, cabName)) {
            RecordFailure(ex, FDIERROR_ALLOC_FAIL);
            return false;
        }
        if (!CopyCabinet(ex, cabName))
            return false;
        if (_stricmp(cabName, ex->nextCabinet) == 0)
            return true;
        bool repeated = false;
        for (int i = 0; i < ex->seenCount && !repeated; ++i)
            repeated = _stricmp(ex->seenCabinets[i], ex->nextCabinet) == 0;
        if (repeated) {
            RecordFailure(ex, FDIERROR_WRONG_CABINET);
            return false;
        }
        strcpy(cabName, ex->nextCabinet);
    }
}

bool ExtractAll(CabExtractor* ex, const char* destination) {
    StartRun(ex);
    if (!ex->hfdi)
        return false;

    ex->destination = destination ? destination : "";
    RunShare share;
    ClosePool pool;
    ex->share = &share;
    StartClosePool(&pool, &share);
    ex->closer = &pool;
    CabLane* lane = CurrentLane();
    lane->stop = &share.stop;

    LaneTables tables[kMaxLanes];
    // The slot is reserved before any lane thread exists: the threads only read it.
    const int budget = LaneBudget();
    const int lanes = budget > 1 && ReserveLaneSlot() ? PlanLanes(budget, tables) : 0;
    ex->lanesUsed = lanes > 1 ? lanes : 1;
    bool ok = lanes > 1 ? ExtractLanes(ex, tables, lanes) : ExtractChain(ex);
    FreeLaneTables(tables, lanes);

    // The launch comes after the last close; a failed close fails the run.
    StopClosePool(&pool);
    if (share.firstFailure.load() == kCloseFailure) {
        RecordFailure(ex, FDIERROR_TARGET_FILE);
        ok = false;
    }
    lane->stop = nullptr;
    ex->share = nullptr;
    ex->closer = nullptr;
    return ok;
}

void FreeProgressInfo(ProgressInfo* info) {
    free(info);
}

// A piece of text that need not end in a terminator: a slice of a longer string.
struct TextSlice {
    const char* text;
    size_t length;
};

static TextSlice Whole(const char* text) {
    return {text, strlen(text)};
}

// One block holding the record and terminated copies of its four strings (file name, archived
// folder, output folder, output path), so that nothing the dialog reads later points into this
// thread's frames or the library's notification.
static ProgressInfo* NewProgressInfo(const TextSlice (&texts)[4], const FDINOTIFICATION* pfdin) {
    size_t total = sizeof(ProgressInfo);
    for (const TextSlice& t : texts)
        total += t.length + 1;
    ProgressInfo* info = static_cast<ProgressInfo*>(malloc(total));
    if (!info)
        return nullptr;
    char* cursor = reinterpret_cast<char*>(info + 1);
    const char** fields[4] = {&info->fileName, &info->archiveDir, &info->outputDir,
                              &info->outputPath};
    for (int i = 0; i < 4; ++i) {
        memcpy(cursor, texts[i].text, texts[i].length);
        cursor[texts[i].length] = '\0';
        *fields[i] = cursor;
        cursor += texts[i].length + 1;
    }
    info->fileSize = pfdin->cb;
    DosDateTimeToFileTime(pfdin->date, pfdin->time, &info->fileTime);
    info->attributes = pfdin->attribs;
    return info;
}

static void PostProgress(CabExtractor* ex, ProgressInfo* info) {
    if (info &&
        !PostMessageW(ex->hwndNotify, WM_EXTRACT_PROGRESS, reinterpret_cast<WPARAM>(info), 0))
        FreeProgressInfo(info);
}

// Tries every folder along path[0, length) (each prefix before a backslash), skipping those
// that the previous file's folder already covered.
static void CreateOutputFolders(CabExtractor* ex, const char* path, size_t length) {
    const char* last = ex->lastCreatedDir ? ex->lastCreatedDir : "";
    size_t common = 0;
    for (size_t i = 0; i < length && path[i] == last[i]; ++i) {
        if (path[i] == '\\')
            common = i + 1;
    }
    if (common == length && last[length] == '\0')
        return; // the same folder as the previous file's: the common case in a flat tree
    char* folder = static_cast<char*>(malloc(length + 1));
    if (!folder)
        return; // best effort: the open reports what is missing
    memcpy(folder, path, length);
    folder[length] = '\0';
    for (size_t i = common; i < length; ++i) {
        if (folder[i] != '\\')
            continue;
        folder[i] = '\0';
        wchar_t* wide = WidePath(folder);
        if (wide)
            CreateDirectoryW(wide, nullptr);
        free(wide);
        folder[i] = '\\';
    }
    free(ex->lastCreatedDir);
    ex->lastCreatedDir = folder;
}

// Opens an output file by its UTF-8 path as the runtime's _wopen would; -1 when refused, with
// the system's reason in *error.
static INT_PTR OpenOutputFile(const char* path, DWORD* error) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    const OwnedBlock<wchar_t> wide(WidePath(path));
    if (!wide)
        return -1;
    // A new file is created without the truncation: truncating, even an empty file, makes
    // some file systems (ext4 under Wine) write the file out on close while we wait. Only an
    // existing file takes the truncating open.
    int fd = _wopen(wide.get(), (kOutputOpenFlags & ~_O_TRUNC) | _O_EXCL, kOutputOpenMode);
    if (fd == -1 && errno == EEXIST)
        fd = _wopen(wide.get(), kOutputOpenFlags, kOutputOpenMode);
    *error = fd == -1 ? _doserrno : 0;
    if (fd == -1 && *error == ERROR_ACCESS_DENIED) {
        // An existing read-only, hidden or system file refuses to be replaced until its
        // attributes are cleared; a folder of the same name, or a file another program holds,
        // is left as it is. Trying first spares every new file a lookup.
        const DWORD attributes = GetFileAttributesW(wide.get());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            SetFileAttributesW(wide.get(), FILE_ATTRIBUTE_NORMAL);
            fd = _wopen(wide.get(), kOutputOpenFlags, kOutputOpenMode);
            *error = fd == -1 ? _doserrno : 0;
        }
    }
    return fd;
}

// The progress record of an archived name that will not be written: its base name as well as
// it can be shown.
static ProgressInfo* RefusedProgressInfo(const char* shown, const FDINOTIFICATION* pfdin) {
    const TextSlice texts[4] = {Whole(shown ? ArchivedBaseName(shown) : ""), Whole(""), Whole(""),
                                Whole("")};
    return NewProgressInfo(texts, pfdin);
}

// The progress record of a composed output path: its parts are slices of the one path.
static ProgressInfo* OutputProgressInfo(const OutputPath& out, const FDINOTIFICATION* pfdin) {
    const TextSlice texts[4] = {
        Whole(out.path + out.outputDirLength),
        {out.path + out.archiveStart, out.outputDirLength - out.archiveStart},
        {out.path, out.outputDirLength},
        Whole(out.path),
    };
    return NewProgressInfo(texts, pfdin);
}

// The file-in-use question, with every lane waiting until it is answered: true to try again.
static bool AskRetryWithLanesHeld(CabExtractor* ex, const char* file) {
    if (!ex->askRetryInUse)
        return false;
    HoldLanes();
    const bool again = ex->askRetryInUse(ex->hwndNotify, file);
    ReleaseLanes();
    return again;
}

static INT_PTR OnCopyFile(CabExtractor* ex, PFDINOTIFICATION pfdin) {
    ex->currentUnfinished = 0; // the library has moved past the previous file
    OutputPath out;
    char* shown = nullptr;
    const int resolved =
        ResolveArchivedName(ex->destination, pfdin->psz1, pfdin->attribs, &out, &shown);
    if (resolved == CAB_ERROR_BAD_NAME) {
        // Refused names still count as offered files for the progress display.
        PostProgress(ex, RefusedProgressInfo(shown, pfdin));
        const bool cancelled = g_cancelRequested.load();
        if (!cancelled)
            RecordFailure(ex, resolved, RefusedNameText(shown));
        free(shown);
        return cancelled ? 0 : -1;
    }
    if (resolved) {
        RecordFailure(ex, resolved);
        return -1;
    }
    PostProgress(ex, OutputProgressInfo(out, pfdin));
    free(ex->currentPath);
    ex->currentPath = out.path; // for the close notification's fallback
    if (g_cancelRequested.load())
        return 0;
    CreateOutputFolders(ex, out.path, out.outputDirLength);
    DWORD error = 0;
    INT_PTR hf = OpenOutputFile(out.path, &error);
    // Held by another program since the checks: the user may close it and try again.
    const char* file = out.path + out.archiveStart;
    while (hf == -1 && IsInUseError(error) && AskRetryWithLanesHeld(ex, file))
        hf = OpenOutputFile(out.path, &error);
    if (hf > 0) {
        CurrentLane()->openOutput = hf;
        ex->currentUnfinished = 1;
        return hf;
    }
    if (IsInUseError(error))
        RecordFailure(ex, CAB_ERROR_IN_USE,
                      ComposeFailureText(CAB_ERROR_IN_USE, file, ". L'extraction est incomplète."));
    else
        RecordFailure(ex, FDIERROR_TARGET_FILE);
    return -1;
}

// Hands a finished file to the close pool: false when it stays the caller's to close.
static bool HandOverClose(CabExtractor* ex, CabLane* lane, PFDINOTIFICATION pfdin) {
    if (!ex->closer || !ClosePoolRunning(ex->closer) || !ex->currentPath)
        return false;
    CloseJob job = {pfdin->hf, pfdin->date, pfdin->time, pfdin->attribs, _strdup(ex->currentPath)};
    if (!job.path)
        return false;
    if (!QueueClose(ex->closer, job)) {
        free(job.path);
        return false;
    }
    if (lane->openOutput == pfdin->hf)
        lane->openOutput = 0;
    return true;
}

static INT_PTR OnCloseFile(CabExtractor* ex, PFDINOTIFICATION pfdin) {
    CabLane* lane = CurrentLane();
    if (!lane->writeFailed && !ex->pendingError && HandOverClose(ex, lane, pfdin))
        return TRUE;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const bool stamped =
        !lane->writeFailed && StampOpenFile(pfdin->hf, pfdin->date, pfdin->time, pfdin->attribs);
    // A write the system deferred (a network share, a quota) can fail only here.
    if (CabClose(pfdin->hf) != 0)
        RecordFailure(ex, FDIERROR_TARGET_FILE);
    if (ex->closer && QueryPerformanceCounter(&end))
        NoteInlineClose(ex->closer, static_cast<uint64_t>(end.QuadPart - start.QuadPart));
    if (TakeWriteFailure(ex) || ex->pendingError) {
        ex->abortRequested = 1; // the library may not stop by itself
        return FALSE;
    }
    if (!stamped && ex->currentPath)
        ApplyFileTimeAndAttributes(ex->currentPath, pfdin->date, pfdin->time, pfdin->attribs);
    return TRUE;
}

// The checks made on the embedded cabinet before the run, on the part the library is about
// to open: 0 to go on, -1 with the cause recorded.
static INT_PTR CheckNextCabinet(CabExtractor* ex, const char* folder, const char* name) {
    const size_t a = folder ? strlen(folder) : 0, b = strlen(name);
    char* path = static_cast<char*>(malloc(a + b + 1));
    if (!path) {
        RecordFailure(ex, FDIERROR_ALLOC_FAIL);
        return -1;
    }
    if (a)
        memcpy(path, folder, a);
    memcpy(path + a, name, b + 1);
    const int code = CheckContinuation(ex, path);
    free(path);
    return code == 0 ? 0 : -1;
}

INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
    CabExtractor* ex = static_cast<CabExtractor*>(pfdin->pv);
    WaitWhileHeld();
    if (ex->abortRequested)
        return -1;
    if (ex->share && ex->share->stop.load(std::memory_order_relaxed)) {
        // Another part of the run failed. A file this lane closed before is whole and stays;
        // one still open is removed (DiscardUnfinishedFile).
        if (!CurrentLane()->openOutput)
            ex->currentUnfinished = 0;
        return -1;
    }
    switch (fdint) {
    case fdintCOPY_FILE:
        return OnCopyFile(ex, pfdin);
    case fdintCLOSE_FILE_INFO:
        return OnCloseFile(ex, pfdin);
    case fdintCABINET_INFO:
        // A set whose cabinets end on whole files raises no fdintNEXT_CABINET: the header's
        // next name is the only word that the set goes on. Only the first notice of a pass
        // is the pass's own cabinet; later ones come with a file spanning into the next.
        if (pfdin->psz1 && pfdin->psz1[0] && ex->seenCount > 0 &&
            _stricmp(ex->nextCabinet, ex->seenCabinets[ex->seenCount - 1]) == 0) {
            strncpy(ex->nextCabinet, pfdin->psz1, sizeof(ex->nextCabinet) - 1);
            ex->nextCabinet[sizeof(ex->nextCabinet) - 1] = '\0';
        }
        return 0;
    case fdintNEXT_CABINET:
        if (pfdin->fdie != FDIERROR_NONE) {
            RecordFailure(ex, pfdin->fdie);
            return -1;
        }
        strncpy(ex->nextCabinet, pfdin->psz1, sizeof(ex->nextCabinet) - 1);
        ex->nextCabinet[sizeof(ex->nextCabinet) - 1] = '\0';
        return CheckNextCabinet(ex, pfdin->psz3, pfdin->psz1);
    default:
        return 0;
    }
}

void ApplyFileTimeAndAttributes(const char* path, USHORT date, USHORT time, USHORT attribs) {
    wchar_t* wide = WidePath(path);
    if (!wide)
        return; // best effort, like the rest of this step
    HANDLE file = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        FILETIME local, utc;
        if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc))
            SetFileTime(file, &utc, nullptr, &utc);
        CloseHandle(file);
    }
    SetFileAttributesW(wide, attribs & kDosAttributeMask);
    free(wide);
}
