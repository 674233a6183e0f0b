#include <io.h>
#include <stdlib.h>
#include <string.h>

#include "embedded_file.h"
#include "extractor.h"
#include "names.h"
#include "shared.h"

// The cabinets this run has processed: a chain that comes back to one would loop for ever.
static char (*s_seenCabinets)[kPathSize];
static int s_seenCapacity;

// Records one more processed cabinet name; false when no memory is left for it.
static bool RememberCabinet(int seen, const char* name) {
    if (seen >= s_seenCapacity) {
        const int capacity = s_seenCapacity ? s_seenCapacity * 2 : 8;
        void* grown = realloc(s_seenCabinets, static_cast<size_t>(capacity) * kPathSize);
        if (!grown)
            return false;
        s_seenCabinets = static_cast<char(*)[kPathSize]>(grown);
        s_seenCapacity = capacity;
    }
    memcpy(s_seenCabinets[seen], name, kPathSize);
    return true;
}

// The deepest output folder this run has created (or tried); its ancestors were tried too.
static char s_lastCreatedDir[kPathSize];

static void FailRun(CabExtractor* ex, int code) {
    ex->pendingError = code;
    ex->erf.erfOper = code;
    ex->erf.fError = TRUE;
}

bool ExtractAll(CabExtractor* ex, const char* destination) {
    ex->pendingError = 0;
    if (!ex->hfdi)
        return false;
    if (kEmbeddedCabName[0] == '\0')
        return false;

    CabStreamState& state = StreamState();
    state.map.Clear();
    strncpy(state.cabName, kEmbeddedCabName, sizeof(state.cabName) - 1);
    state.cabName[sizeof(state.cabName) - 1] = '\0';

    char dest[kPathSize];
    if (!NormaliseDestination(destination, dest, sizeof(dest))) {
        FailRun(ex, FDIERROR_TARGET_FILE); // no output path could fit
        return false;
    }

    char cabName[kPathSize];
    char cabPath[kPathSize];
    const char* slash = strrchr(kEmbeddedCabName, '\\');
    const size_t pathLength = slash ? static_cast<size_t>(slash - kEmbeddedCabName) + 1 : 0;
    memcpy(cabPath, kEmbeddedCabName, pathLength);
    cabPath[pathLength] = '\0';
    strcpy(cabName, kEmbeddedCabName + pathLength);

    ex->destination = dest;
    ex->abortRequested = 0;
    strcpy(ex->nextCabinet, cabName);
    g_writeFailed = 0;
    s_lastCreatedDir[0] = '\0';

    int seen = 0;
    for (;;) {
        if (!RememberCabinet(seen++, cabName)) {
            FailRun(ex, FDIERROR_ALLOC_FAIL);
            return false;
        }
        const BOOL copied = ex->pfnFDICopy(ex->hfdi, cabName, cabPath, 0, CabNotify, nullptr, ex);
        if (g_writeFailed) {
            // Some libraries ignore the write callback's result and report success.
            FailRun(ex, FDIERROR_TARGET_FILE);
            return false;
        }
        if (!copied)
            return false;
        if (_stricmp(cabName, ex->nextCabinet) == 0)
            return true;
        bool repeated = false;
        for (int i = 0; i < seen && !repeated; ++i)
            repeated = _stricmp(s_seenCabinets[i], ex->nextCabinet) == 0;
        if (repeated) {
            FailRun(ex, FDIERROR_WRONG_CABINET);
            return false;
        }
        strcpy(cabName, ex->nextCabinet);
    }
}

void FreeProgressInfo(ProgressInfo* info) {
    free(info);
}

// One block holding the record and copies of its four strings, so that nothing the dialog
// reads later points into this thread's frames or the library's notification.
static ProgressInfo* NewProgressInfo(const char* fileName, const char* archiveDir,
                                     const char* outputDir, const char* outputPath,
                                     const FDINOTIFICATION* pfdin) {
    const char* texts[4] = {fileName, archiveDir, outputDir, outputPath};
    size_t lengths[4];
    size_t total = sizeof(ProgressInfo);
    for (int i = 0; i < 4; ++i) {
        lengths[i] = strlen(texts[i]) + 1;
        total += lengths[i];
    }
    ProgressInfo* info = static_cast<ProgressInfo*>(malloc(total));
    if (!info)
        return nullptr;
    char* cursor = reinterpret_cast<char*>(info + 1);
    const char** fields[4] = {&info->fileName, &info->archiveDir, &info->outputDir,
                              &info->outputPath};
    for (int i = 0; i < 4; ++i) {
        memcpy(cursor, texts[i], lengths[i]);
        *fields[i] = cursor;
        cursor += lengths[i];
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

// The archived name in the system code page: UTF-8 names (flag 0x80) are converted, others
// are used as they are. Null when a UTF-8 name is invalid or has no exact ANSI form.
static const char* AnsiArchivedName(const FDINOTIFICATION* pfdin, char* buf, size_t size) {
    if (!(pfdin->attribs & kUtf8NameFlag))
        return pfdin->psz1;
    wchar_t wide[kPathSize];
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pfdin->psz1, -1, wide,
                                      sizeof(wide) / sizeof(wide[0]));
    if (n <= 0)
        return nullptr;
    BOOL lossy = FALSE;
    const int m = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, buf,
                                      static_cast<int>(size), nullptr, &lossy);
    return m > 0 && !lossy ? buf : nullptr;
}

// Tries every folder along outputDir (each prefix before a backslash), skipping those that
// the previous file's folder already covered.
static void CreateOutputFolders(const char* outputDir, size_t length) {
    size_t common = 0;
    for (size_t i = 0; i < length && outputDir[i] == s_lastCreatedDir[i]; ++i) {
        if (outputDir[i] == '\\')
            common = i + 1;
    }
    char folder[kPathSize];
    for (size_t i = common; i < length; ++i) {
        if (outputDir[i] != '\\')
            continue;
        memcpy(folder, outputDir, i);
        folder[i] = '\0';
        CreateDirectoryA(folder, nullptr);
    }
    memcpy(s_lastCreatedDir, outputDir, length + 1);
}

static INT_PTR OnCopyFile(CabExtractor* ex, PFDINOTIFICATION pfdin) {
    char ansiName[kPathSize];
    const char* name = AnsiArchivedName(pfdin, ansiName, sizeof(ansiName));
    OutputPath out;
    if (!name || !ComposeOutputPath(ex->destination, name, &out)) {
        // Refused names still count as offered files for the progress display.
        char shown[kPathSize];
        strncpy(shown, ArchivedBaseName(pfdin->psz1 ? pfdin->psz1 : ""), sizeof(shown) - 1);
        shown[sizeof(shown) - 1] = '\0';
        PostProgress(ex, NewProgressInfo(shown, "", "", "", pfdin));
        if (g_cancelRequested.load())
            return 0;
        ex->pendingError = FDIERROR_TARGET_FILE;
        return -1;
    }
    PostProgress(ex, NewProgressInfo(out.fileName, out.archiveDir, out.outputDir, out.path, pfdin));
    if (g_cancelRequested.load())
        return 0;
    CreateOutputFolders(out.outputDir, out.outputDirLength);
    const INT_PTR hf = CabOpen(out.path, kOutputOpenFlags, kOutputOpenMode);
    if (hf > 0)
        return hf;
    ex->pendingError = FDIERROR_TARGET_FILE;
    return hf == 0 ? -1 : hf;
}

// Stamps the archived times and masked attributes through the still-open output handle: one
// call instead of reopening the file by name. False when the handle does not take it.
static bool StampOpenFile(INT_PTR hf, USHORT date, USHORT time, USHORT attribs) {
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

static INT_PTR OnCloseFile(CabExtractor* ex, PFDINOTIFICATION pfdin) {
    const bool stamped =
        !g_writeFailed && StampOpenFile(pfdin->hf, pfdin->date, pfdin->time, pfdin->attribs);
    CabClose(pfdin->hf);
    if (g_writeFailed) {
        ex->pendingError = FDIERROR_TARGET_FILE;
        ex->abortRequested = 1; // the library may not stop by itself
        return FALSE;
    }
    if (!stamped) {
        char ansiName[kPathSize];
        const char* name = AnsiArchivedName(pfdin, ansiName, sizeof(ansiName));
        OutputPath out;
        if (name && ComposeOutputPath(ex->destination, name, &out))
            ApplyFileTimeAndAttributes(out.path, pfdin->date, pfdin->time, pfdin->attribs);
    }
    return TRUE;
}

INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
    CabExtractor* ex = static_cast<CabExtractor*>(pfdin->pv);
    if (ex->abortRequested)
        return -1;
    switch (fdint) {
    case fdintCOPY_FILE:
        return OnCopyFile(ex, pfdin);
    case fdintCLOSE_FILE_INFO:
        return OnCloseFile(ex, pfdin);
    case fdintNEXT_CABINET:
        if (pfdin->fdie != FDIERROR_NONE) {
            ex->pendingError = pfdin->fdie;
            return -1;
        }
        strncpy(ex->nextCabinet, pfdin->psz1, sizeof(ex->nextCabinet) - 1);
        ex->nextCabinet[sizeof(ex->nextCabinet) - 1] = '\0';
        return 0;
    default:
        return 0;
    }
}

void ApplyFileTimeAndAttributes(const char* path, USHORT date, USHORT time, USHORT attribs) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        FILETIME local, utc;
        if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc))
            SetFileTime(file, &utc, nullptr, &utc);
        CloseHandle(file);
    }
    SetFileAttributesA(path, attribs & kDosAttributeMask);
}
