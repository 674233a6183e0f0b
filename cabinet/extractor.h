// One run's connection to the platform cabinet library, and the extraction driver.
#pragma once

#include <windows.h>
#include <fdi.h>
#include <cstdint>

#include "stream_callbacks.h"

// The library's entry points, bound by name at run time; listed once.
#define CAB_ENTRY_POINTS(X)                                                                        \
    X(FDICreate, HFDI,                                                                             \
      (PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF))               \
    X(FDICopy, BOOL, (HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*))                \
    X(FDIIsCabinet, BOOL, (HFDI, INT_PTR, PFDICABINETINFO))                                        \
    X(FDIDestroy, BOOL, (HFDI))

constexpr int CAB_ERROR_NO_LIBRARY = 1000;

struct CabExtractor {
    explicit CabExtractor(HWND notify);
    ~CabExtractor(); // ReleaseCabinetLibrary
    CabExtractor(const CabExtractor&) = delete;
    CabExtractor& operator=(const CabExtractor&) = delete;

    HFDI hfdi = nullptr;
    ERF erf;
    int32_t pendingError = 0;       // a precise cause recorded by CabNotify; wins when reported
    int32_t abortRequested = 0;     // when set, CabNotify answers every notification with -1
    char* destination = nullptr;    // UTF-8, ending in '\\' (or empty); owned by the run
    char* currentPath = nullptr;    // UTF-8 output path of the file being written
    char* lastCreatedDir = nullptr; // the deepest output folder tried; its ancestors were too
    char nextCabinet[kPathSize];
    HMODULE hCabinetDll = nullptr;
#define CAB_ENTRY_FIELD(name, ret, args) ret(DIAMONDAPI* pfn##name) args = nullptr;
    CAB_ENTRY_POINTS(CAB_ENTRY_FIELD)
#undef CAB_ENTRY_FIELD
    HWND hwndNotify;
};

// What CabNotify posts for each file offered: one heap block, released by the receiver
// with FreeProgressInfo (or by the sender when the post fails).
struct ProgressInfo {
    const char* fileName;
    const char* archiveDir;
    const char* outputDir;
    const char* outputPath;
    int32_t fileSize;
    FILETIME fileTime; // archived DOS date and time as local time
    uint16_t attributes;
};
void FreeProgressInfo(ProgressInfo* info);

constexpr uint16_t kDosAttributeMask = 0x27;
constexpr uint16_t kUtf8NameFlag = 0x80;
constexpr int kOutputOpenFlags = 0x8321; // _O_BINARY|_O_CREAT|_O_TRUNC|_O_SEQUENTIAL|_O_WRONLY
constexpr int kOutputOpenMode = 0x180;   // _S_IREAD|_S_IWRITE

// Test seam: a library path to bind instead of the system folder's Cabinet.dll.
extern const char* g_cabinetLibraryOverride;

// Binds the library if needed and creates the FDI context; true only for a new context.
bool LoadCabinetLibrary(CabExtractor* ex);
// Folds pendingError into erfOper, stores its English text through message when not null,
// and returns erfOper when fError is set, else 0.
int GetCabErrorMessage(CabExtractor* ex, const char** message);
// The English text for one code; "Unknown error" for codes outside the table.
const char* CabErrorText(int code);
// Destroys the context and unloads the library; safe to repeat.
void ReleaseCabinetLibrary(CabExtractor* ex);

// Extracts the embedded cabinet and every continuation it names under destination (UTF-8; null
// or empty: the current folder). False with the cause in the extractor when a copy fails.
bool ExtractAll(CabExtractor* ex, const char* destination);
INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
// Frees the run's paths (destination, current output path, last folder); safe to repeat.
void ReleaseRunPaths(CabExtractor* ex);
// Stamps an output file (UTF-8 path) with the archived time (local) and masked attributes.
void ApplyFileTimeAndAttributes(const char* path, USHORT date, USHORT time, USHORT attribs);
