#include "binding.h"

#include <string.h>

#include "stream_callbacks.h"

#ifdef ORVANTA_LIBRARY_SEAM
const char* g_cabinetLibraryOverride = nullptr;
#endif

// Only the system folder's copy: a Cabinet.dll lying beside the installer (a downloads
// folder) must never be the one that runs.
static HMODULE LoadSystemCabinet() {
#ifdef ORVANTA_LIBRARY_SEAM
    if (g_cabinetLibraryOverride)
        return LoadLibraryA(g_cabinetLibraryOverride);
#endif
    static const char kName[] = "\\Cabinet.dll";
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, sizeof(path));
    if (n == 0 || n + sizeof(kName) > sizeof(path))
        return nullptr;
    memcpy(path + n, kName, sizeof(kName));
    return LoadLibraryA(path);
}

bool LoadCabinetLibrary(CabExtractor* ex) {
    ex->pendingError = 0;
    if (ex->hfdi)
        return false;
    if (!ex->hCabinetDll) {
        ex->hCabinetDll = LoadSystemCabinet();
        bool complete = true;
#define CAB_BIND(name)                                                                             \
    ex->pfn##name = ex->hCabinetDll ? reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>( \
                                          GetProcAddress(ex->hCabinetDll, #name)))                 \
                                    : nullptr;                                                     \
    complete = complete && ex->pfn##name;
        CAB_ENTRY_POINTS(CAB_BIND)
#undef CAB_BIND
        if (!complete) {
            if (ex->hCabinetDll)
                FreeLibrary(ex->hCabinetDll); // nothing may keep a half library loaded
            ex->hCabinetDll = nullptr;
            ex->erf.fError = TRUE;
            ex->erf.erfOper = CAB_ERROR_NO_LIBRARY;
            return false;
        }
    }
    ex->hfdi = CreateCabContext(ex->pfnFDICreate, &ex->erf);
    return ex->hfdi != nullptr;
}

const char* CabErrorText(int code) {
    static const char* const kTexts[] = {
        "No error",
        "Cabinet file (or part of splitted CAB) not found",
        "Not a cabinet",
        "Unknown cabinet version",
        "Corrupt cabinet",
        "Memory allocation failed",
        "Unknown compression type",
        "Failure decompressing data",
        "Failure writing to target file",
        "Cabinets in set have different RESERVE sizes",
        "Cabinet returned on fdintNEXT_CABINET is incorrect",
        "User aborted",
    };
    if (code >= 0 && code < static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0])))
        return kTexts[code];
    switch (code) {
    case CAB_ERROR_NO_LIBRARY:
        return "Could not load Cabinet.dll";
    case CAB_ERROR_INCOMPLETE:
        return "Incomplete or damaged installer: download it again";
    case CAB_ERROR_BAD_NAME:
        return "Name that cannot be written on Windows";
    case CAB_ERROR_NO_ROOM:
        return "Not enough free space";
    }
    return "Unknown error";
}

int GetCabErrorMessage(CabExtractor* ex, const char** message) {
    if (ex->pendingError != 0)
        ex->erf.erfOper = ex->pendingError;
    if (message)
        *message = CabErrorText(ex->erf.erfOper);
    return ex->erf.fError ? ex->erf.erfOper : 0;
}

CabExtractor::~CabExtractor() {
    ReleaseCabinetLibrary(this);
    ReleaseRun(this);
}

void ReleaseCabinetLibrary(CabExtractor* ex) {
    if (ex->hfdi)
        ex->pfnFDIDestroy(ex->hfdi);
    ex->hfdi = nullptr;
    if (ex->hCabinetDll) {
        FreeLibrary(ex->hCabinetDll);
        ex->hCabinetDll = nullptr; // a second release must not unload it twice
    }
}
